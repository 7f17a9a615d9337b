#include "browser-native-host/protocol.hpp"

#include <array>
#include <new>

#include "browser-native-host/json_codec.hpp"
#include "browser-native-host/protocol_tables.hpp"

namespace ondrake::protocol {

namespace {

// One row per enumeration value, in declared order, so that a value's index is its position.
struct EnumText {
    std::string_view name;
    std::string_view json;
};

constexpr EnumText ACTION_TEXTS[] = {{"Download", "download"}};
constexpr EnumText SOURCE_TEXTS[] = {{"ContextMenu", "context_menu"}};
constexpr EnumText CAPTURE_SOURCE_TEXTS[] = {{"AutomaticDownload", "automatic_download"}};
constexpr EnumText BROWSER_TEXTS[] = {
    {"Chrome", "chrome"},   {"Edge", "edge"},   {"Brave", "brave"},   {"Chromium", "chromium"},
    {"Firefox", "firefox"}, {"Opera", "opera"}, {"Safari", "safari"}, {"Unknown", "unknown"},
};
constexpr EnumText CAPTURE_ACTION_TEXTS[] = {
    {"CapturePrepare", "capture_prepare"},
    {"CaptureCommit", "capture_commit"},
    {"CaptureAbort", "capture_abort"},
    {"CaptureStatus", "capture_status"},
    {"CaptureRevokeCredentials", "capture_revoke_credentials"},
    {"CapturePreflight", "capture_preflight"},
};
constexpr EnumText CODE_TEXTS[] = {
    {"Accepted", "ACCEPTED"},
    {"CapturePrepared", "CAPTURE_PREPARED"},
    {"CaptureAborted", "CAPTURE_ABORTED"},
    {"CaptureConflict", "CAPTURE_CONFLICT"},
    {"CaptureUnknown", "CAPTURE_UNKNOWN"},
    {"UnsupportedProtocolVersion", "UNSUPPORTED_PROTOCOL_VERSION"},
    {"InvalidMessage", "INVALID_MESSAGE"},
    {"InvalidUrl", "INVALID_URL"},
    {"UnsupportedScheme", "UNSUPPORTED_SCHEME"},
    {"AppUnavailable", "APP_UNAVAILABLE"},
    {"AppRejected", "APP_REJECTED"},
    {"DeliveryIndeterminate", "DELIVERY_INDETERMINATE"},
    {"InternalError", "INTERNAL_ERROR"},
};
constexpr EnumText STATUS_TEXTS[] = {
    {"Accepted", "accepted"},
    {"Rejected", "rejected"},
    {"Unavailable", "unavailable"},
    {"Indeterminate", "indeterminate"},
};
constexpr EnumText CAPTURE_STATUS_TEXTS[] = {
    {"Prepared", "prepared"}, {"Committed", "committed"},         {"Aborted", "aborted"},
    {"Unknown", "unknown"},   {"Indeterminate", "indeterminate"},
};

constexpr Status STATUS_OF_CODE[] = {
    Status::Accepted,      // Accepted
    Status::Accepted,      // CapturePrepared
    Status::Rejected,      // CaptureAborted
    Status::Rejected,      // CaptureConflict
    Status::Rejected,      // CaptureUnknown
    Status::Rejected,      // UnsupportedProtocolVersion
    Status::Rejected,      // InvalidMessage
    Status::Rejected,      // InvalidUrl
    Status::Rejected,      // UnsupportedScheme
    Status::Unavailable,   // AppUnavailable
    Status::Rejected,      // AppRejected
    Status::Indeterminate, // DeliveryIndeterminate
    Status::Indeterminate, // InternalError
};
static_assert(std::size(STATUS_OF_CODE) == std::size(CODE_TEXTS));

template <class Enum, std::size_t N>
const EnumText* row(const EnumText (&table)[N], Enum value) {
    auto index = static_cast<std::size_t>(value);
    return index < N ? &table[index] : nullptr;
}

template <class Enum, std::size_t N>
std::string_view json_of(const EnumText (&table)[N], Enum value) {
    const EnumText* entry = row(table, value);
    return entry ? entry->json : std::string_view{};
}

template <class Enum, std::size_t N>
std::string_view name_of(const EnumText (&table)[N], Enum value) {
    const EnumText* entry = row(table, value);
    return entry ? entry->name : std::string_view{};
}

template <class Enum, std::size_t N>
bool parse_text(const EnumText (&table)[N], std::string_view text, Enum& out) {
    for (std::size_t i = 0; i < N; ++i) {
        if (table[i].json == text) {
            out = static_cast<Enum>(i);
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

}  // namespace

#define ONDRAKE_ENUM_TEXTS(Enum, TABLE)                                                      \
    std::string_view json_text(Enum value) { return json_of(TABLE, value); }                 \
    std::string_view value_name(Enum value) { return name_of(TABLE, value); }                \
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
    auto index = static_cast<std::size_t>(code);
    // A code outside the enumeration cannot be vouched for.
    return index < std::size(STATUS_OF_CODE) ? STATUS_OF_CODE[index] : Status::Indeterminate;
}

HostResponse make_host_response(std::string request_id, Code code) {
    return HostResponse{SIMPLE_PROTOCOL_VERSION, std::move(request_id), status_for(code), code};
}

CaptureResponse make_capture_response(std::string request_id, std::string capture_id,
                                      CaptureStatus status, Code code) {
    return CaptureResponse{CAPTURE_PROTOCOL_VERSION, std::move(request_id), std::move(capture_id),
                           status, code, std::nullopt};
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
BrowserMessage decode_browser_message(std::string_view body) {
    BrowserMessage message;
    json_codec::Target requests[] = {
        json_codec::target(tables::HOST_REQUEST, message.host_request),
        json_codec::target(tables::CAPTURE_REQUEST, message.capture_request),
    };
    json_codec::decode_records(requests, body);
    if (!requests[0].decoded) message.host_request.reset();
    if (!requests[1].decoded) message.capture_request.reset();

    // A body that decodes strictly reads the same leniently: its envelope is the request's
    // version and ids. Only a body that neither request accepts needs a reading of its own.
    if (const auto& request = message.host_request) {
        message.envelope = Envelope{request->protocol_version, request->request_id, std::nullopt};
    } else if (const auto& capture = message.capture_request) {
        message.envelope =
            Envelope{capture->protocol_version, capture->message.request_id, capture->message.capture_id};
    } else {
        message.envelope = decode_envelope(body);
    }
    return message;
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

std::string to_json(const HostResponse& message) { return encoded(message); }
std::string to_json(const CaptureResponse& message) { return encoded(message); }
std::string to_json(const IpcRequest& message) { return encoded(message); }
std::string to_json(const IpcCaptureRequest& message) { return encoded(message); }

}  // namespace ondrake::protocol
