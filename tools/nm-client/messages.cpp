#include "tools/nm-client/messages.hpp"

#include "browser-native-host/messages/protocol.hpp"

#include <boost/json.hpp>

namespace ondrake::nm_client {

namespace {

bool is_blank(std::string_view line) { return line.find_first_not_of(" \t\r") == std::string_view::npos; }

}  // namespace

std::vector<std::string> read_messages(std::string_view text) {
    std::vector<std::string> messages;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (is_blank(line) || line.front() == '#') continue;
        messages.emplace_back(line);
    }
    return messages;
}

ReplyKind check_reply(std::string_view body) {
    if (protocol::decode_host_response(body)) return ReplyKind::HostResponse;
    if (protocol::decode_capture_response(body)) return ReplyKind::CaptureResponse;
    boost::system::error_code error;
    (void)boost::json::parse(body, error);
    return error ? ReplyKind::NotJson : ReplyKind::NotAReply;
}

std::optional<std::string> request_id(std::string_view json) {
    boost::system::error_code error;
    boost::json::value value = boost::json::parse(json, error);
    const boost::json::object* object = error ? nullptr : value.if_object();
    const boost::json::value* id = object ? object->if_contains("requestId") : nullptr;
    if (id == nullptr || !id->is_string()) return std::nullopt;
    return std::string(id->get_string());
}

std::string reply_line(std::string_view body) {
    if (body.find_first_of("\r\n") == std::string_view::npos) return std::string(body);
    boost::system::error_code error;
    boost::json::value value = boost::json::parse(body, error);
    return error ? excerpt(body, body.size()) : boost::json::serialize(value);
}

std::string excerpt(std::string_view bytes, std::size_t limit) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            text.push_back(static_cast<char>(byte));
        } else {
            text.append("\\x").push_back(HEX[byte >> 4]);
            text.push_back(HEX[byte & 0xf]);
        }
    }
    if (bytes.size() > limit) text.append("...");
    return text;
}

}  // namespace ondrake::nm_client
