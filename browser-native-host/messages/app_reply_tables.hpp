// The member tables of the application's replies, in the form of protocol_tables.hpp. Only
// protocol.cpp and the protocol reference generator (tools/protocol-doc) include this header.
#pragma once

#include "browser-native-host/messages/app_replies.hpp"
#include "browser-native-host/messages/json_codec.hpp"
#include "browser-native-host/messages/protocol_tables.hpp"

namespace ondrake::ipc::tables {

using json_codec::AbsentMembers;
using json_codec::UnknownKeys;

inline constexpr json_codec::Fields IPC_RESPONSE_FIELDS{
    json_codec::required<&IpcResponse::protocol_version>("protocolVersion"),
    json_codec::required<&IpcResponse::request_id>("requestId"),
    json_codec::required<&IpcResponse::code>("code"),
};
inline constexpr auto IPC_RESPONSE =
    json_codec::table<IpcResponse, IPC_RESPONSE_FIELDS>(UnknownKeys::Reject, AbsentMembers::Omit);

inline constexpr json_codec::Fields IPC_CAPTURE_RESPONSE_FIELDS{
    json_codec::required<&IpcCaptureResponse::protocol_version>("protocolVersion"),
    json_codec::required<&IpcCaptureResponse::request_id>("requestId"),
    json_codec::required<&IpcCaptureResponse::capture_id>("captureId"),
    json_codec::required<&IpcCaptureResponse::status>("status"),
    json_codec::required<&IpcCaptureResponse::code>("code"),
    json_codec::optional<&IpcCaptureResponse::preflight, protocol::tables::PREFLIGHT>("preflight"),
};
inline constexpr auto IPC_CAPTURE_RESPONSE =
    json_codec::table<IpcCaptureResponse, IPC_CAPTURE_RESPONSE_FIELDS>(UnknownKeys::Reject,
                                                                       AbsentMembers::Omit);

}  // namespace ondrake::ipc::tables
