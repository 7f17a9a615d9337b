// The JSON messages between the browser extension, the host and the desktop application, and
// the result codes that every reply carries: plain values, and the texts their enumerations
// travel as. How they are read and written is protocol.hpp's; their members, protocol_tables.hpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download_core/capture_identity.hpp"
#include "download_core/request_credentials.hpp"

namespace ondrake::protocol {

inline constexpr std::uint32_t SIMPLE_PROTOCOL_VERSION = 1;
inline constexpr std::uint32_t CAPTURE_PROTOCOL_VERSION = 4;

// The browser text sent to the application for a capture that named no browser.
inline constexpr std::string_view BROWSER_UNDECLARED = "undeclared";

// Enumerations in their declared order. Each has a JSON text (what travels in messages) and a
// value name (what log lines print), e.g. CaptureAction::CapturePrepare is "capture_prepare" in
// JSON and "CapturePrepare" in logs.
enum class Action { Download };
enum class Source { ContextMenu };
enum class CaptureSource { AutomaticDownload };
enum class Browser { Chrome, Edge, Brave, Chromium, Firefox, Opera, Safari, Unknown };
enum class CaptureAction {
    CapturePrepare,
    CaptureCommit,
    CaptureAbort,
    CaptureStatus,
    CaptureRevokeCredentials,
    CapturePreflight,
};
enum class Code {
    Accepted,
    CapturePrepared,
    CaptureAborted,
    CaptureConflict,
    CaptureUnknown,
    UnsupportedProtocolVersion,
    InvalidMessage,
    InvalidUrl,
    UnsupportedScheme,
    AppUnavailable,
    AppRejected,
    DeliveryIndeterminate,
    InternalError,
};
enum class Status { Accepted, Rejected, Unavailable, Indeterminate };
enum class CaptureStatus { Prepared, Committed, Aborted, Unknown, Indeterminate };

// JSON text of a value ("capture_prepare", "APP_UNAVAILABLE"); empty for a value outside the type.
std::string_view json_text(Action value);
std::string_view json_text(Source value);
std::string_view json_text(CaptureSource value);
std::string_view json_text(Browser value);
std::string_view json_text(CaptureAction value);
std::string_view json_text(Code value);
std::string_view json_text(Status value);
std::string_view json_text(CaptureStatus value);

// Value name for log lines ("CapturePrepare", "AppUnavailable"); empty outside the type.
std::string_view value_name(Action value);
std::string_view value_name(Source value);
std::string_view value_name(CaptureSource value);
std::string_view value_name(Browser value);
std::string_view value_name(CaptureAction value);
std::string_view value_name(Code value);
std::string_view value_name(Status value);
std::string_view value_name(CaptureStatus value);

// Sets `out` to the value whose JSON text is exactly `text` (case-sensitive); false when none is.
bool from_json_text(std::string_view text, Action& out);
bool from_json_text(std::string_view text, Source& out);
bool from_json_text(std::string_view text, CaptureSource& out);
bool from_json_text(std::string_view text, Browser& out);
bool from_json_text(std::string_view text, CaptureAction& out);
bool from_json_text(std::string_view text, Code& out);
bool from_json_text(std::string_view text, Status& out);
bool from_json_text(std::string_view text, CaptureStatus& out);

// The browser text an IpcCaptureRequest carries: the browser's JSON text, or BROWSER_UNDECLARED
// when the request named none.
std::string_view browser_text(std::optional<Browser> browser);

// The outcome class of a simple reply: accepted for ACCEPTED and CAPTURE_PREPARED, unavailable
// for APP_UNAVAILABLE, indeterminate for DELIVERY_INDETERMINATE and INTERNAL_ERROR, rejected
// for the rest.
Status status_for(Code code);

// ---- Messages to the application -----------------------------------------------------------

struct IpcRequest {
    std::uint32_t protocol_version = SIMPLE_PROTOCOL_VERSION;
    std::string request_id;
    std::string url;  // as checked and normalised by the host

    bool operator==(const IpcRequest&) const = default;
};

// One step of a capture as the application gets it. Every member is always written, absent
// ones as null, and so must be present when decoded.
struct IpcCaptureRequest {
    std::uint32_t protocol_version = CAPTURE_PROTOCOL_VERSION;
    std::string request_id;
    std::string capture_id;
    CaptureAction action = CaptureAction::CapturePrepare;
    std::string browser;  // a Browser JSON text, or BROWSER_UNDECLARED
    std::optional<std::int64_t> browser_download_id;
    std::optional<std::string> url;
    std::optional<download_core::ObservedResponse> observed;
    std::optional<std::vector<download_core::BrowserCookie>> cookies;
    std::optional<std::string> download_name;
    std::optional<std::string> initiator_origin;
    std::optional<bool> revalidate_response;

    bool operator==(const IpcCaptureRequest&) const = default;
};

// ---- Messages from the browser -----------------------------------------------------------

// A lenient first reading of any message: only the version and the ids, unknown keys skipped.
struct Envelope {
    std::optional<std::uint32_t> protocol_version;
    std::optional<std::string> request_id;
    std::optional<std::string> capture_id;

    bool operator==(const Envelope&) const = default;
};

// A simple download request (protocol version 1). Unknown keys are refused.
struct HostRequest {
    // Provided, and empty: a request is decoded into std::optional::emplace(), whose
    // value-initialisation g++ compiles as clearing every byte of the record first.
    HostRequest() {}

    std::uint32_t protocol_version = 0;
    std::string request_id;
    Action action = Action::Download;
    Source source = Source::ContextMenu;
    std::optional<Browser> browser;
    std::string url;

    bool operator==(const HostRequest&) const = default;
};

// One step of handing a browser-started download over to the application (protocol version 4).
// Unknown keys are refused; unknown keys inside "observed" are skipped.
//
// Most members travel on to the application unchanged, so they are decoded straight into the
// message the application will get: checking then fills in its browser text, replaces its url
// by the sanitised one and keeps the message, and no member is ever copied one by one.
struct CaptureRequest {
    // Provided, and empty, for the reason HostRequest's is.
    CaptureRequest() {}

    std::uint32_t protocol_version = 0;  // as received; `message` always says 4
    CaptureSource source = CaptureSource::AutomaticDownload;
    std::optional<Browser> browser;
    // Every other member ("requestId", "captureId", "action", "browserDownloadId", "url",
    // "observed", "cookies", "downloadName", "initiatorOrigin", "revalidateResponse"), the url
    // as received; `message.browser` is left empty.
    IpcCaptureRequest message;

    bool operator==(const CaptureRequest&) const = default;
};

// ---- Replies -------------------------------------------------------------------------------

// The result of a preflight that the application performed for a capture. Unknown keys skipped.
struct PreflightObservation {
    bool ok = false;
    std::uint16_t status = 0;  // the HTTP status the application saw
    std::optional<std::string> final_url;
    std::optional<std::string> content_type;
    std::optional<std::string> content_disposition;
    std::optional<std::int64_t> total_bytes;

    bool operator==(const PreflightObservation&) const = default;
};

// The reply to a simple request, and to any message not handled as a capture.
struct HostResponse {
    std::uint32_t protocol_version = SIMPLE_PROTOCOL_VERSION;
    std::string request_id;  // empty when the message had no usable id
    Status status = Status::Rejected;
    Code code = Code::InvalidMessage;

    bool operator==(const HostResponse&) const = default;
};

// The reply to a capture request. The preflight is written only when present.
struct CaptureResponse {
    std::uint32_t protocol_version = CAPTURE_PROTOCOL_VERSION;
    std::string request_id;
    std::string capture_id;
    CaptureStatus status = CaptureStatus::Unknown;
    Code code = Code::InvalidMessage;
    std::optional<PreflightObservation> preflight;

    bool operator==(const CaptureResponse&) const = default;
};

// Version 1, the given id and code, and the status that status_for assigns to the code.
HostResponse make_host_response(std::string request_id, Code code);
// Version 4, no preflight.
CaptureResponse make_capture_response(std::string request_id, std::string capture_id, CaptureStatus status,
                                      Code code);

}  // namespace ondrake::protocol
