// What a message must meet beyond its shape: the id rule's length, the limits on what a capture
// may hand over, and what each capture step may carry. Classification applies them; the protocol
// reference and its JSON Schemas are generated from them (tools/protocol-doc).
#pragma once

#include <cstddef>

#include "browser-native-host/common/enum_table.hpp"
#include "browser-native-host/messages/protocol.hpp"

namespace ondrake::classification {

// requestId and captureId: 1 to this many ASCII letters, digits, "-" and "_".
inline constexpr std::size_t MAX_ID_BYTES = 128;

// Limits on what a capture may hand over, in UTF-8 bytes; they keep a misbehaving extension
// from passing the application arbitrarily large values.
inline constexpr std::size_t MAX_OBSERVED_TEXT_BYTES = 2048;
inline constexpr std::size_t MIN_COOKIES = 1;
inline constexpr std::size_t MAX_COOKIES = 64;
inline constexpr std::size_t MAX_COOKIE_NAME_BYTES = 256;  // and never empty
inline constexpr std::size_t MAX_COOKIE_VALUE_BYTES = 4096;
inline constexpr std::size_t MAX_COOKIE_PATH_BYTES = 1024;
inline constexpr std::size_t MAX_DOWNLOAD_NAME_BYTES = 1024;
inline constexpr std::size_t MAX_INITIATOR_ORIGIN_BYTES = 512;

// What each capture step may carry besides its ids.
struct ActionRule {
    protocol::CaptureAction action;
    bool url_required;  // a url that passes the URL policy; otherwise none may be given
    bool cookies_allowed;
    bool observed_allowed;
};

// Indexed by CaptureAction. A preflight only looks at the resource, so it needs no credentials;
// revoking the credentials concerns none of the download's data.
inline constexpr ActionRule ACTION_RULES[] = {
    {protocol::CaptureAction::CapturePrepare, true, true, true},
    {protocol::CaptureAction::CaptureCommit, true, true, true},
    {protocol::CaptureAction::CaptureAbort, false, true, true},
    {protocol::CaptureAction::CaptureStatus, false, true, true},
    {protocol::CaptureAction::CaptureRevokeCredentials, false, false, false},
    {protocol::CaptureAction::CapturePreflight, true, false, true},
};
static_assert(enum_table::in_enum_order<protocol::CaptureAction::CapturePreflight>(ACTION_RULES,
                                                                                   &ActionRule::action),
              "one rule per CaptureAction, in the enumeration's order");

}  // namespace ondrake::classification
