#include "whatwg-url/host.hpp"

#include "whatwg-url/ascii.hpp"
#include "whatwg-url/idna.hpp"
#include "whatwg-url/ip_address.hpp"
#include "whatwg-url/percent_encode.hpp"
#include "whatwg-url/unicode.hpp"

namespace whatwg {
namespace {

bool parse_ipv6_host(std::string_view inside_brackets, std::string& out) {
    auto address = parse_ipv6(inside_brackets);
    if (!address) return false;
    out += '[';
    serialize_ipv6(*address, out);
    out += ']';
    return true;
}

bool parse_opaque_host(std::string_view input, std::string& out) {
    for (char c : input) {
        if (is_forbidden_host_code_point(c)) return false;
    }
    percent_encode_append(out, input, C0_CONTROL_PERCENT_ENCODE_SET);
    return true;
}

}  // namespace

bool parse_domain(std::string_view domain, Uts46& idna, std::string& out) {
    size_t start = out.size();
    if (is_ascii(domain)) {
        // Web compatibility: an ASCII domain is taken as it is, whatever Unicode ToASCII says of it.
        for (char c : domain) out += to_ascii_lower(c);
    } else if (!idna.to_ascii(domain, out)) {
        return false;
    }
    std::string_view result = std::string_view(out).substr(start);
    if (result.empty()) return false;
    for (char c : result) {
        if (is_forbidden_domain_code_point(c)) return false;
    }
    return true;
}

bool parse_host(std::string_view input, bool is_opaque, Uts46& idna, std::string& out, std::string& scratch) {
    if (!input.empty() && input.front() == '[') {
        if (input.size() < 2 || input.back() != ']') return false;
        return parse_ipv6_host(input.substr(1, input.size() - 2), out);
    }
    if (is_opaque) return parse_opaque_host(input, out);

    // The domain is the UTF-8 decoding of the percent-decoded input; most hosts have nothing to
    // decode and are read in place.
    std::string_view domain = input;
    if (input.find('%') != std::string_view::npos) {
        std::string decoded;
        percent_decode_append(decoded, input);
        scratch.clear();
        unicode::append_with_replacement(scratch, decoded);
        domain = scratch;
    }
    size_t start = out.size();
    if (!parse_domain(domain, idna, out)) return false;
    std::string_view ascii_domain = std::string_view(out).substr(start);
    if (ends_in_a_number(ascii_domain)) {
        auto address = parse_ipv4(ascii_domain);
        if (!address) return false;
        out.resize(start);
        serialize_ipv4(*address, out);
    }
    return true;
}

}  // namespace whatwg
