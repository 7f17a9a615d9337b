// What each reply status means to an extension, and whether sending the same request again is
// safe: a retry is safe only where the request surely never reached the application, so that it
// cannot make the application act twice. The protocol reference's tables and the extension
// client's `retrySafe` are both generated from these rows.
#pragma once

#include <string_view>

#include "browser-native-host/common/enum_table.hpp"
#include "browser-native-host/messages/protocol.hpp"

namespace ondrake::protocol_doc {

template <class StatusEnum>
struct StatusGuidance {
    StatusEnum value;
    std::string_view meaning;
    std::string_view action;  // what the extension should do
    bool retry_safe;
};

inline constexpr StatusGuidance<protocol::Status> SIMPLE_GUIDANCE[] = {
    {protocol::Status::Accepted, "the application took the request", "nothing more", false},
    {protocol::Status::Rejected, "the host or the application refused it; nothing was done",
     "do not repeat it unchanged: fix the message (the code says what was wrong) or tell the user", false},
    {protocol::Status::Unavailable,
     "the application could not be reached, even after the host tried to start it; it never saw the request",
     "safe to retry later, with the same or a new `requestId`", true},
    {protocol::Status::Indeterminate, "the request may or may not have reached the application",
     "do not send it again blindly: the download may already be running. Ask the user, or for a capture ask "
     "with `capture_status`",
     false},
};
static_assert(enum_table::in_enum_order<protocol::Status::Indeterminate>(SIMPLE_GUIDANCE));

inline constexpr StatusGuidance<protocol::CaptureStatus> CAPTURE_GUIDANCE[] = {
    {protocol::CaptureStatus::Prepared, "the application holds the capture and waits for its commit",
     "send `capture_commit` (or `capture_abort`) with the same `captureId`", false},
    {protocol::CaptureStatus::Committed, "the application took the download over",
     "cancel the browser's own download", false},
    {protocol::CaptureStatus::Aborted, "the capture is over and nothing will be downloaded",
     "let the browser's download go on, or drop it", false},
    {protocol::CaptureStatus::Unknown,
     "the step did not reach the application (refused by the host, or the application was unavailable)",
     "safe to retry the same step; the code says whether a retry can succeed unchanged", true},
    {protocol::CaptureStatus::Indeterminate, "the step may have reached the application",
     "do not repeat it blindly: ask with `capture_status` for the same `captureId`", false},
};
static_assert(enum_table::in_enum_order<protocol::CaptureStatus::Indeterminate>(CAPTURE_GUIDANCE));

}  // namespace ondrake::protocol_doc
