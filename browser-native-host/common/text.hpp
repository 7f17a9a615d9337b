// Unicode white-space trimming for the host's modules. (UTF-8 validity is platform::is_valid_utf8.)
#pragma once

#include <string_view>

namespace ondrake::text {

// True for the code points with the Unicode White_Space property.
bool is_white_space(char32_t code_point);

namespace detail {
std::string_view trim_decoded_white_space(std::string_view utf8);
}  // namespace detail

// `utf8` without its leading and trailing White_Space characters (not only ASCII blanks).
// Expects valid UTF-8; trimming stops at the first byte sequence that does not decode.
inline std::string_view trim_white_space(std::string_view utf8) {
    // Most texts have nothing to trim, and an ASCII byte other than the control bytes and the
    // space is never white space nor part of a longer sequence: two looks settle those.
    auto settles = [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x80;
    };
    if (!utf8.empty() && settles(utf8.front()) && settles(utf8.back())) return utf8;
    return detail::trim_decoded_white_space(utf8);
}

}  // namespace ondrake::text
