// The IPv4 and IPv6 parsers and serialisers of the WHATWG URL Standard.
#pragma once

#include "whatwg-url/ascii.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace whatwg {

using Ipv4Address = uint32_t;
using Ipv6Address = std::array<uint16_t, 8>;

namespace detail {
// Steps 2 to 7 of the checker below, which settles most domains by their last byte alone.
bool last_part_is_a_number(std::string_view domain);
}  // namespace detail

// True when the last label of `domain` (ignoring one trailing empty label) is a number, so that the
// host parser must read the whole domain as an IPv4 address.
// https://url.spec.whatwg.org/#ends-in-a-number-checker
inline bool ends_in_a_number(std::string_view domain) {
    // A number ends in a digit, a hex digit or the "x" of "0x". Most domains end in a letter
    // past "f" (that of "com", "test"), which settles it here, before any call.
    std::string_view trimmed = domain.ends_with('.') ? domain.substr(0, domain.size() - 1) : domain;
    if (!trimmed.empty() && !is_ascii_hex_digit(trimmed.back()) && (trimmed.back() | 0x20) != 'x') {
        return false;
    }
    return detail::last_part_is_a_number(domain);
}

// Accepts one to four parts separated by "." in decimal, octal ("0" prefix) or hexadecimal ("0x"),
// the last part filling the remaining bytes ("1.65535" is 1.0.255.255).
std::optional<Ipv4Address> parse_ipv4(std::string_view input);

// Accepts the text between the brackets, with "::" compression and a dotted IPv4 tail.
std::optional<Ipv6Address> parse_ipv6(std::string_view input);

// Dotted decimal.
void serialize_ipv4(Ipv4Address address, std::string& out);

// Lower-case hexadecimal pieces, the first longest run of two or more zero pieces written "::".
// No brackets.
void serialize_ipv6(const Ipv6Address& address, std::string& out);

}  // namespace whatwg
