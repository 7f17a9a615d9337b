// The host parser of the WHATWG URL Standard: domains (with UTS #46 for non-ASCII names), IPv4,
// IPv6 and the opaque hosts of non-special URLs.
#pragma once

#include <string>
#include <string_view>

namespace whatwg {

class Uts46;

// Parses `input` (the host text of a URL, still percent-encoded) and appends the serialised host to
// `out`. `is_opaque` is true for the hosts of non-special URLs. Returns false on failure, leaving
// `out` unspecified. `scratch` is working memory the caller may reuse between calls.
bool parse_host(std::string_view input, bool is_opaque, Uts46& idna, std::string& out, std::string& scratch);

// The domain parser with beStrict false: an ASCII domain is only lower-cased, any other goes through
// Unicode ToASCII; the result must be non-empty and free of forbidden domain code points.
// Appends to `out`; false on failure.
bool parse_domain(std::string_view domain, Uts46& idna, std::string& out);

constexpr bool is_forbidden_host_code_point(char c) {
    switch (c) {
        case '\0':
        case '\t':
        case '\n':
        case '\r':
        case ' ':
        case '#':
        case '/':
        case ':':
        case '<':
        case '>':
        case '?':
        case '@':
        case '[':
        case '\\':
        case ']':
        case '^':
        case '|': return true;
        default: return false;
    }
}

constexpr bool is_forbidden_domain_code_point(char c) {
    auto byte = static_cast<unsigned char>(c);
    return is_forbidden_host_code_point(c) || byte <= 0x1F || c == '%' || byte == 0x7F;
}

}  // namespace whatwg
