// classify_any over arbitrary frame bodies. Whatever the body, the outcome must be safe to hand
// on: a rejecting reply is the canonical JSON of a HostResponse or CaptureResponse that a browser
// can read, and a request or capture that passed carries only ids of the identifier rule, a URL
// already in its final form, and data that encodes for the application and reads back the same.
#include "browser-native-host/checks/classification.hpp"
#include "browser-native-host/messages/framing.hpp"
#include "browser-native-host/messages/protocol.hpp"
#include "browser-native-host/checks/url_policy.hpp"
#include "fuzz/invariant.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace {

using namespace ondrake;
using classification::is_valid_id;
using fuzz::require;
using protocol::Code;

bool empty_or_valid_id(std::string_view id) { return id.empty() || is_valid_id(id); }

// The codes a message can be refused with before anything reaches the application.
bool is_rejection_code(Code code) {
    return code == Code::UnsupportedProtocolVersion || code == Code::InvalidMessage ||
           code == Code::InvalidUrl || code == Code::UnsupportedScheme;
}

// The URL policy's output is a fixed point of the policy.
void require_final_url(const std::string& url) {
    std::string again = url;
    require(url_policy::sanitize(again) && again == url, "an accepted url sanitises to itself", url);
}

void check_reply(const std::string& bytes) {
    require(!bytes.empty(), "a rejecting reply encodes");
    require(bytes.size() <= framing::MAX_FRAME, "a rejecting reply fits one frame", bytes);
    if (auto reply = protocol::decode_host_response(bytes)) {
        require(reply->protocol_version == protocol::SIMPLE_PROTOCOL_VERSION, "a HostResponse is version 1",
                bytes);
        require(reply->status == protocol::status_for(reply->code),
                "a HostResponse's status follows its code", bytes);
        require(is_rejection_code(reply->code), "classification answers only with rejection codes", bytes);
        require(empty_or_valid_id(reply->request_id), "a HostResponse echoes a valid id or none", bytes);
        require(protocol::to_json(*reply) == bytes, "a reply is in canonical compact form", bytes);
        return;
    }
    auto reply = protocol::decode_capture_response(bytes);
    require(reply.has_value(), "a reply decodes as HostResponse or CaptureResponse", bytes);
    require(reply->protocol_version == protocol::CAPTURE_PROTOCOL_VERSION, "a CaptureResponse is version 4",
            bytes);
    require(reply->status == protocol::CaptureStatus::Unknown, "a rejected capture's status is unknown",
            bytes);
    require(!reply->preflight.has_value(), "a rejecting reply carries no preflight", bytes);
    require(is_rejection_code(reply->code), "classification answers only with rejection codes", bytes);
    // Only the version rejection echoes the ids exactly as received.
    if (reply->code != Code::UnsupportedProtocolVersion) {
        require(empty_or_valid_id(reply->request_id) && empty_or_valid_id(reply->capture_id),
                "a CaptureResponse echoes valid ids or none", bytes);
    }
    require(protocol::to_json(*reply) == bytes, "a reply is in canonical compact form", bytes);
}

void check_request(const classification::ValidatedRequest& request) {
    require(is_valid_id(request.request_id), "an accepted request's id is valid", request.request_id);
    require_final_url(request.url);
    protocol::IpcRequest message{protocol::SIMPLE_PROTOCOL_VERSION, request.request_id, request.url};
    std::string encoded = protocol::to_json(message);
    require(!encoded.empty(), "an accepted request encodes for the application");
    require(protocol::decode_ipc_request(encoded) == message,
            "the application reads back the request that was sent", encoded);
}

bool needs_url(protocol::CaptureAction action) {
    using protocol::CaptureAction;
    return action == CaptureAction::CapturePrepare || action == CaptureAction::CaptureCommit ||
           action == CaptureAction::CapturePreflight;
}

void check_capture(const classification::ValidatedCapture& capture) {
    const protocol::IpcCaptureRequest& message = capture.message;
    require(is_valid_id(message.request_id) && is_valid_id(message.capture_id),
            "an accepted capture's ids are valid");
    require(message.url.has_value() == needs_url(message.action),
            "an accepted capture has a url exactly when its action needs one");
    if (message.url) require_final_url(*message.url);
    if (message.cookies) {
        require(!message.cookies->empty() && message.cookies->size() <= 64,
                "an accepted capture hands over 1 to 64 cookies");
    }
    protocol::Browser browser{};
    require(
        message.browser == protocol::BROWSER_UNDECLARED || protocol::from_json_text(message.browser, browser),
        "an accepted capture names a known browser or none", message.browser);

    std::string encoded = protocol::to_json(message);
    require(!encoded.empty(), "an accepted capture encodes for the application");
    require(protocol::decode_ipc_capture_request(encoded) == message,
            "the application reads back the capture that was sent", encoded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view body(reinterpret_cast<const char*>(data), size);
    classification::Classified outcome = classification::classify_any(body);
    if (auto* reply = std::get_if<classification::Reply>(&outcome)) {
        check_reply(reply->bytes);
    } else if (auto* request = std::get_if<classification::Request>(&outcome)) {
        check_request(request->request);
    } else {
        const auto& capture = std::get<classification::Capture>(outcome).capture;
        require(capture != nullptr, "a capture outcome holds a capture");
        check_capture(*capture);
    }
    return 0;
}
