// Percent-encode sets and percent-encoding/decoding as the WHATWG URL Standard defines them.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace whatwg {

// Membership of every byte value. Each set holds all non-ASCII bytes, so encoding the bytes of
// well-formed UTF-8 one by one is the same as encoding its code points.
using EncodeSet = std::array<bool, 256>;

namespace detail {

constexpr EncodeSet make_c0_control_set() {
    EncodeSet set{};
    for (std::size_t b = 0; b < 256; ++b) set[b] = b < 0x20 || b > 0x7E;
    return set;
}

constexpr EncodeSet extend(EncodeSet set, std::string_view more) {
    for (char ch : more) set[static_cast<unsigned char>(ch)] = true;
    return set;
}

}  // namespace detail

// https://url.spec.whatwg.org/#c0-control-percent-encode-set and the sets built on it below
// (#fragment-percent-encode-set, #query-percent-encode-set, #special-query-percent-encode-set,
// #path-percent-encode-set, #userinfo-percent-encode-set, #component-percent-encode-set).
inline constexpr EncodeSet C0_CONTROL_PERCENT_ENCODE_SET = detail::make_c0_control_set();
inline constexpr EncodeSet FRAGMENT_PERCENT_ENCODE_SET =
    detail::extend(C0_CONTROL_PERCENT_ENCODE_SET, " \"<>`");
inline constexpr EncodeSet QUERY_PERCENT_ENCODE_SET = detail::extend(C0_CONTROL_PERCENT_ENCODE_SET, " \"#<>");
inline constexpr EncodeSet SPECIAL_QUERY_PERCENT_ENCODE_SET = detail::extend(QUERY_PERCENT_ENCODE_SET, "'");
inline constexpr EncodeSet PATH_PERCENT_ENCODE_SET = detail::extend(QUERY_PERCENT_ENCODE_SET, "?^`{}");
inline constexpr EncodeSet USERINFO_PERCENT_ENCODE_SET =
    detail::extend(PATH_PERCENT_ENCODE_SET, "/:;=@[\\]|");
inline constexpr EncodeSet COMPONENT_PERCENT_ENCODE_SET =
    detail::extend(USERINFO_PERCENT_ENCODE_SET, "$%&+,");

// The index of the first byte of `bytes` at or after `from` that is in `set`, or bytes.size().
inline size_t find_first_in_set(std::string_view bytes, size_t from, const EncodeSet& set) {
    auto in_set = [&](size_t i) { return static_cast<unsigned>(set[static_cast<unsigned char>(bytes[i])]); };
    // Most bytes of a URL are in no set: eight look-ups combined without a branch each let long
    // queries and paths pass at several bytes per cycle.
    while (from + 8 <= bytes.size()) {
        if ((in_set(from) | in_set(from + 1) | in_set(from + 2) | in_set(from + 3) | in_set(from + 4) |
             in_set(from + 5) | in_set(from + 6) | in_set(from + 7)) != 0) {
            break;
        }
        from += 8;
    }
    while (from < bytes.size() && !in_set(from)) ++from;
    return from;
}

// Appends `bytes` (well-formed UTF-8) to `out`, each byte in `set` written as "%XX" (upper-case hex).
void percent_encode_append(std::string& out, std::string_view bytes, const EncodeSet& set);

// True when percent_encode_append would copy `bytes` unchanged.
bool is_percent_encoded_form(std::string_view bytes, const EncodeSet& set);

// Appends the percent-decoding of `input` to `out`: "%XX" with two hex digits becomes byte 0xXX,
// every other byte (a lone "%" too) is copied.
void percent_decode_append(std::string& out, std::string_view input);

}  // namespace whatwg
