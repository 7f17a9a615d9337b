// ASCII character classes of the Infra Standard, as the URL parser uses them.
#pragma once

#include <string_view>

namespace whatwg {

constexpr bool is_ascii_digit(int c) { return c >= '0' && c <= '9'; }
constexpr bool is_ascii_upper_alpha(int c) { return c >= 'A' && c <= 'Z'; }
constexpr bool is_ascii_lower_alpha(int c) { return c >= 'a' && c <= 'z'; }
constexpr bool is_ascii_alpha(int c) { return is_ascii_upper_alpha(c) || is_ascii_lower_alpha(c); }
constexpr bool is_ascii_alphanumeric(int c) { return is_ascii_alpha(c) || is_ascii_digit(c); }
constexpr bool is_ascii_hex_digit(int c) {
    return is_ascii_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
constexpr int hex_digit_value(int c) { return is_ascii_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }
constexpr char to_ascii_lower(char c) { return is_ascii_upper_alpha(c) ? static_cast<char>(c + 32) : c; }

constexpr bool is_ascii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

constexpr bool has_ascii_upper_alpha(std::string_view text) {
    for (char c : text) {
        if (is_ascii_upper_alpha(c)) return true;
    }
    return false;
}

// True when `a` and `b` are equal ignoring ASCII case.
constexpr bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (to_ascii_lower(a[i]) != to_ascii_lower(b[i])) return false;
    }
    return true;
}

}  // namespace whatwg
