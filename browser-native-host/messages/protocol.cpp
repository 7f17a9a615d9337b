#include "browser-native-host/messages/protocol.hpp"

#include <array>
#include <charconv>
#include <new>
#include <type_traits>

#include "browser-native-host/common/enum_table.hpp"
#include "browser-native-host/messages/framing.hpp"
#include "browser-native-host/messages/json_codec.hpp"
#include "browser-native-host/messages/protocol_tables.hpp"

namespace ondrake::protocol {

namespace {

// One row per enumerator: its value name (log lines) and its JSON text (the wire).
template <class Enum>
struct EnumText {
    Enum value;
    std::string_view name;
    std::string_view json;
};

constexpr EnumText<Action> ACTION_TEXTS[] = {{Action::Download, "Download", "download"}};
constexpr EnumText<Source> SOURCE_TEXTS[] = {{Source::ContextMenu, "ContextMenu", "context_menu"}};
constexpr EnumText<CaptureSource> CAPTURE_SOURCE_TEXTS[] = {
    {CaptureSource::AutomaticDownload, "AutomaticDownload", "automatic_download"},
};
constexpr EnumText<Browser> BROWSER_TEXTS[] = {
    {Browser::Chrome, "Chrome", "chrome"},    {Browser::Edge, "Edge", "edge"},
    {Browser::Brave, "Brave", "brave"},       {Browser::Chromium, "Chromium", "chromium"},
    {Browser::Firefox, "Firefox", "firefox"}, {Browser::Opera, "Opera", "opera"},
    {Browser::Safari, "Safari", "safari"},    {Browser::Unknown, "Unknown", "unknown"},
};
constexpr EnumText<CaptureAction> CAPTURE_ACTION_TEXTS[] = {
    {CaptureAction::CapturePrepare, "CapturePrepare", "capture_prepare"},
    {CaptureAction::CaptureCommit, "CaptureCommit", "capture_commit"},
    {CaptureAction::CaptureAbort, "CaptureAbort", "capture_abort"},
    {CaptureAction::CaptureStatus, "CaptureStatus", "capture_status"},
    {CaptureAction::CaptureRevokeCredentials, "CaptureRevokeCredentials", "capture_revoke_credentials"},
    {CaptureAction::CapturePreflight, "CapturePreflight", "capture_preflight"},
};
constexpr EnumText<Code> CODE_TEXTS[] = {
    {Code::Accepted, "Accepted", "ACCEPTED"},
    {Code::CapturePrepared, "CapturePrepared", "CAPTURE_PREPARED"},
    {Code::CaptureAborted, "CaptureAborted", "CAPTURE_ABORTED"},
    {Code::CaptureConflict, "CaptureConflict", "CAPTURE_CONFLICT"},
    {Code::CaptureUnknown, "CaptureUnknown", "CAPTURE_UNKNOWN"},
    {Code::UnsupportedProtocolVersion, "UnsupportedProtocolVersion", "UNSUPPORTED_PROTOCOL_VERSION"},
    {Code::InvalidMessage, "InvalidMessage", "INVALID_MESSAGE"},
    {Code::InvalidUrl, "InvalidUrl", "INVALID_URL"},
    {Code::UnsupportedScheme, "UnsupportedScheme", "UNSUPPORTED_SCHEME"},
    {Code::AppUnavailable, "AppUnavailable", "APP_UNAVAILABLE"},
    {Code::AppRejected, "AppRejected", "APP_REJECTED"},
    {Code::DeliveryIndeterminate, "DeliveryIndeterminate", "DELIVERY_INDETERMINATE"},
    {Code::InternalError, "InternalError", "INTERNAL_ERROR"},
};
constexpr EnumText<Status> STATUS_TEXTS[] = {
    {Status::Accepted, "Accepted", "accepted"},
    {Status::Rejected, "Rejected", "rejected"},
    {Status::Unavailable, "Unavailable", "unavailable"},
    {Status::Indeterminate, "Indeterminate", "indeterminate"},
};
constexpr EnumText<CaptureStatus> CAPTURE_STATUS_TEXTS[] = {
    {CaptureStatus::Prepared, "Prepared", "prepared"},
    {CaptureStatus::Committed, "Committed", "committed"},
    {CaptureStatus::Aborted, "Aborted", "aborted"},
    {CaptureStatus::Unknown, "Unknown", "unknown"},
    {CaptureStatus::Indeterminate, "Indeterminate", "indeterminate"},
};

using enum_table::in_enum_order;
static_assert(in_enum_order<Action::Download>(ACTION_TEXTS));
static_assert(in_enum_order<Source::ContextMenu>(SOURCE_TEXTS));
static_assert(in_enum_order<CaptureSource::AutomaticDownload>(CAPTURE_SOURCE_TEXTS));
static_assert(in_enum_order<Browser::Unknown>(BROWSER_TEXTS));
static_assert(in_enum_order<CaptureAction::CapturePreflight>(CAPTURE_ACTION_TEXTS));
static_assert(in_enum_order<Code::InternalError>(CODE_TEXTS));
static_assert(in_enum_order<Status::Indeterminate>(STATUS_TEXTS));
static_assert(in_enum_order<CaptureStatus::Indeterminate>(CAPTURE_STATUS_TEXTS));

struct CodeStatus {
    Code code;
    Status status;
};

constexpr CodeStatus STATUS_OF_CODE[] = {
    {Code::Accepted, Status::Accepted},           {Code::CapturePrepared, Status::Accepted},
    {Code::CaptureAborted, Status::Rejected},     {Code::CaptureConflict, Status::Rejected},
    {Code::CaptureUnknown, Status::Rejected},     {Code::UnsupportedProtocolVersion, Status::Rejected},
    {Code::InvalidMessage, Status::Rejected},     {Code::InvalidUrl, Status::Rejected},
    {Code::UnsupportedScheme, Status::Rejected},  {Code::AppUnavailable, Status::Unavailable},
    {Code::AppRejected, Status::Rejected},        {Code::DeliveryIndeterminate, Status::Indeterminate},
    {Code::InternalError, Status::Indeterminate},
};
static_assert(enum_table::in_enum_order<Code::InternalError>(STATUS_OF_CODE, &CodeStatus::code));

template <class Enum, std::size_t N>
std::string_view json_of(const EnumText<Enum> (&table)[N], Enum value) {
    const auto* entry = enum_table::row_of(table, value);
    return entry ? entry->json : std::string_view{};
}

template <class Enum, std::size_t N>
std::string_view name_of(const EnumText<Enum> (&table)[N], Enum value) {
    const auto* entry = enum_table::row_of(table, value);
    return entry ? entry->name : std::string_view{};
}

template <class Enum, std::size_t N>
bool parse_text(const EnumText<Enum> (&table)[N], std::string_view text, Enum& out) {
    for (const EnumText<Enum>& entry : table) {
        if (entry.json == text) {
            out = entry.value;
            return true;
        }
    }
    return false;
}

template <class Message>
std::string encoded(const Message& message) {
    std::string out;
    try {
        out.reserve(128);
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (!encode(message, out)) return {};
    return out;
}

void drop_ids(HostResponse& reply) { reply.request_id.clear(); }
void drop_ids(CaptureResponse& reply) {
    reply.request_id.clear();
    reply.capture_id.clear();
}

// A reply longer than a frame is never written, and the browser would wait for it in vain. Only
// what a reply carries beyond its code can make it that long: ids echoed as they were received
// (a capture of another version may carry ids of any length), or a preflight. It then goes out
// without the preflight and, if that is not enough, with empty ids, as for a message whose ids
// are unusable; its code stays.
template <class Reply>
std::string fitted(Reply reply) {
    std::string out = encoded(reply);
    if constexpr (std::is_same_v<Reply, CaptureResponse>) {
        if (out.size() > framing::MAX_FRAME && reply.preflight) {
            reply.preflight.reset();
            out = encoded(reply);
        }
    }
    if (out.size() > framing::MAX_FRAME) {
        drop_ids(reply);
        out = encoded(reply);
    }
    return out;
}

}  // namespace

#define ONDRAKE_ENUM_TEXTS(Enum, TABLE)                                       \
    std::string_view json_text(Enum value) { return json_of(TABLE, value); }  \
    std::string_view value_name(Enum value) { return name_of(TABLE, value); } \
    bool from_json_text(std::string_view text, Enum& out) { return parse_text(TABLE, text, out); }

ONDRAKE_ENUM_TEXTS(Action, ACTION_TEXTS)
ONDRAKE_ENUM_TEXTS(Source, SOURCE_TEXTS)
ONDRAKE_ENUM_TEXTS(CaptureSource, CAPTURE_SOURCE_TEXTS)
ONDRAKE_ENUM_TEXTS(Browser, BROWSER_TEXTS)
ONDRAKE_ENUM_TEXTS(CaptureAction, CAPTURE_ACTION_TEXTS)
ONDRAKE_ENUM_TEXTS(Code, CODE_TEXTS)
ONDRAKE_ENUM_TEXTS(Status, STATUS_TEXTS)
ONDRAKE_ENUM_TEXTS(CaptureStatus, CAPTURE_STATUS_TEXTS)

#undef ONDRAKE_ENUM_TEXTS

std::string_view browser_text(std::optional<Browser> browser) {
    return browser ? json_text(*browser) : BROWSER_UNDECLARED;
}

Status status_for(Code code) {
    const CodeStatus* entry = enum_table::row_of(STATUS_OF_CODE, code);
    // A code outside the enumeration cannot be vouched for.
    return entry ? entry->status : Status::Indeterminate;
}

HostResponse make_host_response(std::string request_id, Code code) {
    return HostResponse{SIMPLE_PROTOCOL_VERSION, std::move(request_id), status_for(code), code};
}

CaptureResponse make_capture_response(std::string request_id, std::string capture_id, CaptureStatus status,
                                      Code code) {
    return CaptureResponse{
        CAPTURE_PROTOCOL_VERSION, std::move(request_id), std::move(capture_id), status, code, std::nullopt};
}

std::optional<Envelope> decode_envelope(std::string_view body) {
    return json_codec::decode(tables::ENVELOPE, body);
}
std::optional<HostRequest> decode_host_request(std::string_view body) {
    return json_codec::decode(tables::HOST_REQUEST, body);
}
std::optional<CaptureRequest> decode_capture_request(std::string_view body) {
    return json_codec::decode(tables::CAPTURE_REQUEST, body);
}
namespace {

// Whether a body seems to be a capture request by its first member: extensions write
// "protocolVersion" first, and the two families' versions differ. A guess that only orders
// the strict readings of decode_browser_message.
bool looks_like_capture(std::string_view body) {
    constexpr std::string_view LEAD = R"({"protocolVersion":)";
    if (!body.starts_with(LEAD)) return false;
    std::uint32_t version = 0;
    auto [end, error] = std::from_chars(body.data() + LEAD.size(), body.data() + body.size(), version);
    return error == std::errc() && end != body.data() + body.size() && *end == ',' &&
           version == CAPTURE_PROTOCOL_VERSION;
}

}  // namespace

BrowserMessage decode_browser_message(std::string_view body) {
    BrowserMessage message;
    // The strict requests exclude each other: a capture request needs "captureId", a key the
    // simple request refuses. So the body is read as the request it most likely is, and only
    // when that fails as the other one: the order saves work and changes no result.
    if (looks_like_capture(body)) {
        if (!json_codec::decode_into(tables::CAPTURE_REQUEST, body, message.capture_request)) {
            json_codec::decode_into(tables::HOST_REQUEST, body, message.host_request);
        }
    } else if (!json_codec::decode_into(tables::HOST_REQUEST, body, message.host_request)) {
        json_codec::decode_into(tables::CAPTURE_REQUEST, body, message.capture_request);
    }

    if (!message.host_request && !message.capture_request) message.lenient_envelope = decode_envelope(body);
    return message;
}

std::optional<Envelope> BrowserMessage::envelope() const {
    // A body that decodes strictly reads the same leniently: its envelope is the request's
    // version and ids.
    if (host_request) return Envelope{host_request->protocol_version, host_request->request_id, std::nullopt};
    if (capture_request) {
        return Envelope{capture_request->protocol_version, capture_request->message.request_id,
                        capture_request->message.capture_id};
    }
    return lenient_envelope;
}

std::optional<IpcRequest> decode_ipc_request(std::string_view body) {
    return json_codec::decode(tables::IPC_REQUEST, body);
}
std::optional<IpcCaptureRequest> decode_ipc_capture_request(std::string_view body) {
    return json_codec::decode(tables::IPC_CAPTURE_REQUEST, body);
}
std::optional<HostResponse> decode_host_response(std::string_view body) {
    return json_codec::decode(tables::HOST_RESPONSE, body);
}
std::optional<CaptureResponse> decode_capture_response(std::string_view body) {
    return json_codec::decode(tables::CAPTURE_RESPONSE, body);
}

bool encode(const HostResponse& message, std::string& out) {
    return json_codec::encode(tables::HOST_RESPONSE, message, out);
}
bool encode(const CaptureResponse& message, std::string& out) {
    return json_codec::encode(tables::CAPTURE_RESPONSE, message, out);
}
bool encode(const IpcRequest& message, std::string& out) {
    return json_codec::encode(tables::IPC_REQUEST, message, out);
}
bool encode(const IpcCaptureRequest& message, std::string& out) {
    return json_codec::encode(tables::IPC_CAPTURE_REQUEST, message, out);
}

std::string to_json(const HostResponse& message) { return fitted(message); }
std::string to_json(const CaptureResponse& message) { return fitted(message); }
std::string to_json(const IpcRequest& message) { return encoded(message); }
std::string to_json(const IpcCaptureRequest& message) { return encoded(message); }

}  // namespace ondrake::protocol
