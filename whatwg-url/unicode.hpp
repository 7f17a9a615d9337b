// UTF-8 as the Encoding Standard decodes it: every ill-formed sequence becomes U+FFFD, the way a
// browser turns bytes into the string that it hands to the URL parser.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace whatwg::unicode {

inline constexpr std::string_view REPLACEMENT_CHARACTER = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence that starts `bytes`, or 0 when it starts with an
// ill-formed one. `bytes` must not be empty.
size_t well_formed_sequence_length(std::string_view bytes);

// Length of the ill-formed sequence that starts `bytes` and that one U+FFFD replaces: the lead byte
// and the continuation bytes that were still acceptable ("maximal subpart" replacement).
size_t ill_formed_sequence_length(std::string_view bytes);

// Appends `bytes` to `out` with each ill-formed sequence replaced by U+FFFD.
void append_with_replacement(std::string& out, std::string_view bytes);

}  // namespace whatwg::unicode
