// Browser messages and host replies as the session tests write and expect them, and the frames
// they travel in.
#pragma once

#include "browser-native-host/tests/support/frames.hpp"

#include <string>
#include <string_view>

namespace ondrake::test {

// A download request from the context menu of Chrome.
inline std::string simple(std::string_view request_id, std::string_view url) {
    return R"({"protocolVersion":1,"requestId":")" + std::string(request_id) +
           R"(","action":"download","source":"context_menu","browser":"chrome","url":")" + std::string(url) +
           "\"}";
}

// A capture step of Chrome; the request id is the capture id's with "r" for "c" ("c-9": "r-9").
inline std::string capture(std::string_view capture_id, std::string_view action, std::string_view url = {}) {
    std::string body = R"({"protocolVersion":4,"requestId":"r)" + std::string(capture_id.substr(1)) +
                       R"(","captureId":")" + std::string(capture_id) + R"(","action":")" +
                       std::string(action) + R"(","source":"automatic_download","browser":"chrome")";
    if (!url.empty()) body += R"(,"url":")" + std::string(url) + "\"";
    return body + "}";
}

inline std::string host_reply(std::string_view request_id, std::string_view status, std::string_view code) {
    return R"({"protocolVersion":1,"requestId":")" + std::string(request_id) + R"(","status":")" +
           std::string(status) + R"(","code":")" + std::string(code) + "\"}";
}

// The reply to capture(capture_id, ...).
inline std::string capture_reply(std::string_view capture_id, std::string_view status,
                                 std::string_view code) {
    return R"({"protocolVersion":4,"requestId":"r)" + std::string(capture_id.substr(1)) +
           R"(","captureId":")" + std::string(capture_id) + R"(","status":")" + std::string(status) +
           R"(","code":")" + std::string(code) + "\"}";
}

// The answer to a body that is no message at all.
inline const std::string INVALID = host_reply("", "rejected", "INVALID_MESSAGE");

}  // namespace ondrake::test
