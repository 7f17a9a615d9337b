// The member tables of the protocol's messages: key, member, whether the key must appear, and
// what happens to keys the table does not list. The order of each table is the order in which
// the message is written. Only protocol.cpp, ipc_tables.hpp and the protocol reference generator
// (tools/protocol-doc) include this header.
#pragma once

#include "browser-native-host/messages/json_codec.hpp"
#include "browser-native-host/messages/protocol_types.hpp"

namespace ondrake::protocol::tables {

using download_core::BrowserCookie;
using download_core::ObservedResponse;
using json_codec::AbsentMembers;
using json_codec::UnknownKeys;

// Written inside IpcCaptureRequest with every key present, absent ones as null.
inline constexpr json_codec::Fields OBSERVED_FIELDS{
    json_codec::optional<&ObservedResponse::final_url>("finalUrl"),
    json_codec::optional<&ObservedResponse::mime>("mime"),
    json_codec::optional<&ObservedResponse::total_bytes>("totalBytes"),
    json_codec::optional<&ObservedResponse::etag>("etag"),
};
inline constexpr auto OBSERVED =
    json_codec::table<ObservedResponse, OBSERVED_FIELDS>(UnknownKeys::Skip, AbsentMembers::WriteNull);

inline constexpr json_codec::Fields COOKIE_FIELDS{
    json_codec::required<&BrowserCookie::name>("name"),
    json_codec::required<&BrowserCookie::value>("value"),
    json_codec::required<&BrowserCookie::path>("path"),
    json_codec::required<&BrowserCookie::secure>("secure"),
};
inline constexpr auto COOKIE =
    json_codec::table<BrowserCookie, COOKIE_FIELDS>(UnknownKeys::Reject, AbsentMembers::WriteNull);

inline constexpr json_codec::Fields ENVELOPE_FIELDS{
    json_codec::optional<&Envelope::protocol_version>("protocolVersion"),
    json_codec::optional<&Envelope::request_id>("requestId"),
    json_codec::optional<&Envelope::capture_id>("captureId"),
};
inline constexpr auto ENVELOPE =
    json_codec::table<Envelope, ENVELOPE_FIELDS>(UnknownKeys::Skip, AbsentMembers::Omit);

inline constexpr json_codec::Fields HOST_REQUEST_FIELDS{
    json_codec::required<&HostRequest::protocol_version>("protocolVersion"),
    json_codec::required<&HostRequest::request_id>("requestId"),
    json_codec::required<&HostRequest::action>("action"),
    json_codec::required<&HostRequest::source>("source"),
    json_codec::optional<&HostRequest::browser>("browser"),
    json_codec::required<&HostRequest::url>("url"),
};
inline constexpr auto HOST_REQUEST =
    json_codec::table<HostRequest, HOST_REQUEST_FIELDS>(UnknownKeys::Reject, AbsentMembers::Omit);

// A member that a capture request decodes straight into the message for the application.
constexpr auto in_message(auto field) { return json_codec::within<&CaptureRequest::message>(field); }

inline constexpr json_codec::Fields CAPTURE_REQUEST_FIELDS{
    json_codec::required<&CaptureRequest::protocol_version>("protocolVersion"),
    in_message(json_codec::required<&IpcCaptureRequest::request_id>("requestId")),
    in_message(json_codec::required<&IpcCaptureRequest::capture_id>("captureId")),
    in_message(json_codec::required<&IpcCaptureRequest::action>("action")),
    json_codec::required<&CaptureRequest::source>("source"),
    json_codec::optional<&CaptureRequest::browser>("browser"),
    in_message(json_codec::optional<&IpcCaptureRequest::browser_download_id>("browserDownloadId")),
    in_message(json_codec::optional<&IpcCaptureRequest::url>("url")),
    in_message(json_codec::optional<&IpcCaptureRequest::observed, OBSERVED>("observed")),
    in_message(json_codec::optional<&IpcCaptureRequest::cookies, COOKIE>("cookies")),
    in_message(json_codec::optional<&IpcCaptureRequest::download_name>("downloadName")),
    in_message(json_codec::optional<&IpcCaptureRequest::initiator_origin>("initiatorOrigin")),
    in_message(json_codec::optional<&IpcCaptureRequest::revalidate_response>("revalidateResponse")),
};
inline constexpr auto CAPTURE_REQUEST =
    json_codec::table<CaptureRequest, CAPTURE_REQUEST_FIELDS>(UnknownKeys::Reject, AbsentMembers::Omit);

inline constexpr json_codec::Fields IPC_REQUEST_FIELDS{
    json_codec::required<&IpcRequest::protocol_version>("protocolVersion"),
    json_codec::required<&IpcRequest::request_id>("requestId"),
    json_codec::required<&IpcRequest::url>("url"),
};
inline constexpr auto IPC_REQUEST =
    json_codec::table<IpcRequest, IPC_REQUEST_FIELDS>(UnknownKeys::Reject, AbsentMembers::WriteNull);

// Every key is required; the std::optional members may be null.
inline constexpr json_codec::Fields IPC_CAPTURE_REQUEST_FIELDS{
    json_codec::required<&IpcCaptureRequest::protocol_version>("protocolVersion"),
    json_codec::required<&IpcCaptureRequest::request_id>("requestId"),
    json_codec::required<&IpcCaptureRequest::capture_id>("captureId"),
    json_codec::required<&IpcCaptureRequest::action>("action"),
    json_codec::required<&IpcCaptureRequest::browser>("browser"),
    json_codec::required<&IpcCaptureRequest::browser_download_id>("browserDownloadId"),
    json_codec::required<&IpcCaptureRequest::url>("url"),
    json_codec::required<&IpcCaptureRequest::observed, OBSERVED>("observed"),
    json_codec::required<&IpcCaptureRequest::cookies, COOKIE>("cookies"),
    json_codec::required<&IpcCaptureRequest::download_name>("downloadName"),
    json_codec::required<&IpcCaptureRequest::initiator_origin>("initiatorOrigin"),
    json_codec::required<&IpcCaptureRequest::revalidate_response>("revalidateResponse"),
};
inline constexpr auto IPC_CAPTURE_REQUEST = json_codec::table<IpcCaptureRequest, IPC_CAPTURE_REQUEST_FIELDS>(
    UnknownKeys::Reject, AbsentMembers::WriteNull);

// Written with only the members that are present.
inline constexpr json_codec::Fields PREFLIGHT_FIELDS{
    json_codec::required<&PreflightObservation::ok>("ok"),
    json_codec::required<&PreflightObservation::status>("status"),
    json_codec::optional<&PreflightObservation::final_url>("finalUrl"),
    json_codec::optional<&PreflightObservation::content_type>("contentType"),
    json_codec::optional<&PreflightObservation::content_disposition>("contentDisposition"),
    json_codec::optional<&PreflightObservation::total_bytes>("totalBytes"),
};
inline constexpr auto PREFLIGHT =
    json_codec::table<PreflightObservation, PREFLIGHT_FIELDS>(UnknownKeys::Skip, AbsentMembers::Omit);

inline constexpr json_codec::Fields HOST_RESPONSE_FIELDS{
    json_codec::required<&HostResponse::protocol_version>("protocolVersion"),
    json_codec::required<&HostResponse::request_id>("requestId"),
    json_codec::required<&HostResponse::status>("status"),
    json_codec::required<&HostResponse::code>("code"),
};
inline constexpr auto HOST_RESPONSE =
    json_codec::table<HostResponse, HOST_RESPONSE_FIELDS>(UnknownKeys::Reject, AbsentMembers::Omit);

inline constexpr json_codec::Fields CAPTURE_RESPONSE_FIELDS{
    json_codec::required<&CaptureResponse::protocol_version>("protocolVersion"),
    json_codec::required<&CaptureResponse::request_id>("requestId"),
    json_codec::required<&CaptureResponse::capture_id>("captureId"),
    json_codec::required<&CaptureResponse::status>("status"),
    json_codec::required<&CaptureResponse::code>("code"),
    json_codec::optional<&CaptureResponse::preflight, PREFLIGHT>("preflight"),
};
inline constexpr auto CAPTURE_RESPONSE =
    json_codec::table<CaptureResponse, CAPTURE_RESPONSE_FIELDS>(UnknownKeys::Reject, AbsentMembers::Omit);

}  // namespace ondrake::protocol::tables
