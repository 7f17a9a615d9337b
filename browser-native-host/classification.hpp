// What checking a browser message hands to delivery: the request as it was accepted, its URL
// sanitised, ready to be re-encoded for the application.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "browser-native-host/protocol.hpp"
#include "download_core/capture_identity.hpp"
#include "download_core/request_credentials.hpp"

namespace ondrake::classification {

struct ValidatedRequest {
    std::string request_id;
    std::string url;
};

struct ValidatedCapture {
    std::string request_id;
    std::string capture_id;
    protocol::CaptureAction action;
    std::string browser;  // wire name, or "undeclared"
    std::optional<std::int64_t> browser_download_id;
    std::optional<std::string> url;  // sanitised; absent for actions without url
    std::optional<download_core::ObservedResponse> observed;
    std::optional<std::vector<download_core::BrowserCookie>> cookies;
    std::optional<std::string> download_name;
    std::optional<std::string> initiator_origin;
    std::optional<bool> revalidate_response;
};

}  // namespace ondrake::classification
