#include "browser-native-host/ipc.hpp"

#include "browser-native-host/json_codec.hpp"
#include "browser-native-host/protocol_tables.hpp"

namespace ondrake::ipc {

namespace {

using json_codec::AbsentMembers;
using json_codec::Field;
using json_codec::UnknownKeys;

constexpr Field IPC_RESPONSE_FIELDS[] = {
    json_codec::required<&IpcResponse::protocol_version>("protocolVersion"),
    json_codec::required<&IpcResponse::request_id>("requestId"),
    json_codec::required<&IpcResponse::code>("code"),
};
constexpr auto IPC_RESPONSE =
    json_codec::table<IpcResponse>(IPC_RESPONSE_FIELDS, UnknownKeys::Reject, AbsentMembers::Omit);

constexpr Field IPC_CAPTURE_RESPONSE_FIELDS[] = {
    json_codec::required<&IpcCaptureResponse::protocol_version>("protocolVersion"),
    json_codec::required<&IpcCaptureResponse::request_id>("requestId"),
    json_codec::required<&IpcCaptureResponse::capture_id>("captureId"),
    json_codec::required<&IpcCaptureResponse::status>("status"),
    json_codec::required<&IpcCaptureResponse::code>("code"),
    json_codec::optional<&IpcCaptureResponse::preflight, protocol::tables::PREFLIGHT>("preflight"),
};
constexpr auto IPC_CAPTURE_RESPONSE =
    json_codec::table<IpcCaptureResponse>(IPC_CAPTURE_RESPONSE_FIELDS,
                                          UnknownKeys::Reject, AbsentMembers::Omit);

}  // namespace

std::optional<IpcResponse> decode_ipc_response(std::string_view body) {
    return json_codec::decode(IPC_RESPONSE, body);
}

std::optional<IpcCaptureResponse> decode_ipc_capture_response(std::string_view body) {
    return json_codec::decode(IPC_CAPTURE_RESPONSE, body);
}

bool encode(const IpcResponse& message, std::string& out) {
    return json_codec::encode(IPC_RESPONSE, message, out);
}

bool encode(const IpcCaptureResponse& message, std::string& out) {
    return json_codec::encode(IPC_CAPTURE_RESPONSE, message, out);
}

}  // namespace ondrake::ipc
