#include "browser-native-host/messages/protocol_types.hpp"

#include <array>
#include <charconv>
#include <new>
#include <type_traits>

#include "browser-native-host/common/enum_table.hpp"

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

}  // namespace ondrake::protocol
