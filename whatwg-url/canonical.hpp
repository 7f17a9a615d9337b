// Recognises URLs that are already in the form the parser would give them, so that they can be
// taken as they are without running the state machine.
#pragma once

#include "whatwg-url/url.hpp"

namespace whatwg::detail {

// The layout of `input` when it is an http, https, ws, wss or ftp URL whose serialisation is
// `input` itself; nullopt when the full parser has to decide. Covers printable ASCII without
// credentials, with a lower-case domain that is not an IPv4 address, an optional non-default port
// without leading zeros, a path without dot segments, and query and fragment that need no
// percent-encoding.
std::optional<Layout> recognize_canonical(std::string_view input);

}  // namespace whatwg::detail
