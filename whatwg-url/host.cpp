#include "whatwg-url/host.hpp"

#include "whatwg-url/ascii.hpp"
#include "whatwg-url/idna.hpp"
#include "whatwg-url/ip_address.hpp"
#include "whatwg-url/percent_encode.hpp"
#include "whatwg-url/unicode.hpp"

namespace whatwg {
namespace {

// Step 1.2 of the host parser, with the host serializer's brackets around the result.
bool parse_ipv6_host(std::string_view inside_brackets, std::string& out) {
    auto address = parse_ipv6(inside_brackets);
    if (!address) return false;
    out += '[';
    serialize_ipv6(*address, out);
    out += ']';
    return true;
}

// https://url.spec.whatwg.org/#concept-opaque-host-parser
bool parse_opaque_host(std::string_view input, std::string& out) {
    // 1. A forbidden host code point: failure.
    for (char c : input) {
        if (is_forbidden_host_code_point(c)) return false;
    }
    // 4. UTF-8 percent-encode input using the C0 control percent-encode set.
    percent_encode_append(out, input, C0_CONTROL_PERCENT_ENCODE_SET);
    return true;
}

}  // namespace

// https://url.spec.whatwg.org/#concept-domain-to-ascii (the domain parser) with beStrict false;
// steps 1 to 3 only record a validation error then.
bool parse_domain(std::string_view domain, Uts46& idna, std::string& out) {
    size_t start = out.size();
    if (is_ascii(domain)) {
        // 5. An ASCII domain is only lowercased, whatever Unicode ToASCII says of it (web
        //    compatibility).
        for (char c : domain) out += to_ascii_lower(c);
    } else if (!idna.to_ascii(domain, out)) {
        // 6.1., 6.2. Otherwise domain parser ToASCII (idna.hpp); its failure is failure.
        return false;
    }
    std::string_view result = std::string_view(out).substr(start);
    // 7. The empty string: failure.
    if (result.empty()) return false;
    // 8. A forbidden domain code point: failure.
    for (char c : result) {
        if (is_forbidden_domain_code_point(c)) return false;
    }
    return true;
}

// https://url.spec.whatwg.org/#concept-host-parser, with the host serialized
// (https://url.spec.whatwg.org/#concept-host-serializer) as it is appended to `out`.
bool parse_host(std::string_view input, bool is_opaque, Uts46& idna, std::string& out, std::string& scratch) {
    if (!input.empty() && input.front() == '[') {
        // 1.1. "[" without a closing "]": failure.
        if (input.size() < 2 || input.back() != ']') return false;
        // 1.2. IPv6 parsing what lies between them.
        return parse_ipv6_host(input.substr(1, input.size() - 2), out);
    }
    // 2. isOpaque: opaque-host parsing.
    if (is_opaque) return parse_opaque_host(input, out);

    // 5. The domain is the UTF-8 decoding (without BOM) of the percent-decoding of input; most
    //    hosts have nothing to decode and are read in place.
    std::string_view domain = input;
    if (input.find('%') != std::string_view::npos) {
        std::string decoded;
        percent_decode_append(decoded, input);
        scratch.clear();
        unicode::append_with_replacement(scratch, decoded);
        domain = scratch;
    }
    // 6., 7. asciiDomain is the domain parser's result; failure is failure.
    size_t start = out.size();
    if (!parse_domain(domain, idna, out)) return false;
    std::string_view ascii_domain = std::string_view(out).substr(start);
    // 8.2. An asciiDomain that ends in a number is IPv4 parsed (and serialized in its place).
    if (ends_in_a_number(ascii_domain)) {
        auto address = parse_ipv4(ascii_domain);
        if (!address) return false;
        out.resize(start);
        serialize_ipv4(*address, out);
    }
    // 9. Otherwise asciiDomain itself.
    return true;
}

}  // namespace whatwg
