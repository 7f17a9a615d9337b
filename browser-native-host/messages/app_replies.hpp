// The desktop application's replies to IpcRequest and IpcCaptureRequest (protocol_types.hpp).
// protocol.hpp reads them strictly, and writes them for tools that play the application's part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "browser-native-host/messages/protocol_types.hpp"

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

}  // namespace ondrake::ipc
