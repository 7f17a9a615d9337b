// Path segment shapes that the URL parser treats specially.
#pragma once

#include "whatwg-url/ascii.hpp"

#include <string_view>

namespace whatwg {

// "." or "%2e", ignoring ASCII case.
constexpr bool is_single_dot_segment(std::string_view segment) {
    return segment == "." || equals_ignoring_ascii_case(segment, "%2e");
}

// "..", ".%2e", "%2e." or "%2e%2e", ignoring ASCII case.
constexpr bool is_double_dot_segment(std::string_view segment) {
    switch (segment.size()) {
        case 2: return segment == "..";
        case 4:
            return equals_ignoring_ascii_case(segment, ".%2e") || equals_ignoring_ascii_case(segment, "%2e.");
        case 6: return equals_ignoring_ascii_case(segment, "%2e%2e");
        default: return false;
    }
}

// An ASCII letter followed by ":" or "|".
constexpr bool is_windows_drive_letter(std::string_view text) {
    return text.size() == 2 && is_ascii_alpha(text[0]) && (text[1] == ':' || text[1] == '|');
}

// An ASCII letter followed by ":".
constexpr bool is_normalized_windows_drive_letter(std::string_view text) {
    return text.size() == 2 && is_ascii_alpha(text[0]) && text[1] == ':';
}

// A drive letter that is the whole text or is followed by "/", "\", "?" or "#".
constexpr bool starts_with_windows_drive_letter(std::string_view text) {
    if (text.size() < 2 || !is_windows_drive_letter(text.substr(0, 2))) return false;
    if (text.size() == 2) return true;
    char third = text[2];
    return third == '/' || third == '\\' || third == '?' || third == '#';
}

}  // namespace whatwg
