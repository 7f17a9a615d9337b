// The desktop application's end of the socket exchange: its replies to IpcRequest and
// IpcCaptureRequest (protocol.hpp), decoded strictly, and encoded for tools that play the
// application's part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "browser-native-host/protocol.hpp"

namespace ondrake::ipc {

// The application's reply to an IpcRequest. Every member required, unknown keys refused.
struct IpcResponse {
    std::uint32_t protocol_version = protocol::SIMPLE_PROTOCOL_VERSION;  // never compared
    std::string request_id;
    protocol::Code code = protocol::Code::InternalError;

    bool operator==(const IpcResponse&) const = default;
};

// The application's reply to an IpcCaptureRequest. Unknown keys refused, except inside the
// preflight, where they are skipped.
struct IpcCaptureResponse {
    std::uint32_t protocol_version = protocol::CAPTURE_PROTOCOL_VERSION;  // never compared
    std::string request_id;
    std::string capture_id;
    protocol::CaptureStatus status = protocol::CaptureStatus::Unknown;
    protocol::Code code = protocol::Code::InternalError;
    std::optional<protocol::PreflightObservation> preflight;  // null or missing: absent

    bool operator==(const IpcCaptureResponse&) const = default;
};

std::optional<IpcResponse> decode_ipc_response(std::string_view body);
std::optional<IpcCaptureResponse> decode_ipc_capture_response(std::string_view body);

// Compact JSON appended to `out` (an absent preflight is left out); false, with `out`
// unchanged, when a text is not valid UTF-8 or an enumeration value is out of range.
bool encode(const IpcResponse& message, std::string& out);
bool encode(const IpcCaptureResponse& message, std::string& out);

}  // namespace ondrake::ipc
