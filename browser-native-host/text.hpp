// Small text helpers shared by the host's modules: UTF-8 validity and Unicode white-space trimming.
#pragma once

#include <string_view>

#include "platform/utf8.hpp"

namespace ondrake::text {

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
using platform::is_valid_utf8;

// True for the code points with the Unicode White_Space property.
bool is_white_space(char32_t code_point);

// `utf8` without its leading and trailing White_Space characters (not only ASCII blanks).
// Expects valid UTF-8; trimming stops at the first byte sequence that does not decode.
std::string_view trim_white_space(std::string_view utf8);

}  // namespace ondrake::text
