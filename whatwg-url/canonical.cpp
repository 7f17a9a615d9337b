// Recognises URLs that are already in the form the parser would give them (see
// detail::recognize_canonical), so that they can be taken as they are.
#include "whatwg-url/url.hpp"

#include "whatwg-url/ascii.hpp"
#include "whatwg-url/ip_address.hpp"
#include "whatwg-url/path.hpp"
#include "whatwg-url/percent_encode.hpp"
#include "whatwg-url/scheme.hpp"

namespace whatwg::detail {
namespace {

// Every byte but those of a domain the host parser leaves as it is: lower-case letters, digits,
// "-", "." and "_". A domain is then scanned like a path or a query, eight bytes at a time.
constexpr EncodeSet DOMAIN_STOPS = [] {
    EncodeSet stops{};
    for (int c = 0; c < 256; ++c) {
        stops[static_cast<std::size_t>(c)] =
            !(is_ascii_lower_alpha(c) || is_ascii_digit(c) || c == '-' || c == '.' || c == '_');
    }
    return stops;
}();

// The printable ASCII bytes a path segment keeps as they are: not encoded, not a delimiter.
constexpr EncodeSet make_path_segment_stops() {
    EncodeSet stops = PATH_PERCENT_ENCODE_SET;
    for (char c : std::string_view("/\\?#")) stops[static_cast<unsigned char>(c)] = true;
    return stops;
}
constexpr EncodeSet PATH_SEGMENT_STOPS = make_path_segment_stops();

// The special scheme other than "file" that `input` starts with, followed by "://". http and
// https are tried first with one comparison each: nearly every URL a program meets uses one.
const SpecialScheme* network_scheme_with_slashes(std::string_view input) {
    constexpr const SpecialScheme& HTTPS = SPECIAL_SCHEMES[static_cast<size_t>(SchemeType::Https)];
    constexpr const SpecialScheme& HTTP = SPECIAL_SCHEMES[static_cast<size_t>(SchemeType::Http)];
    if (input.starts_with("https://")) return &HTTPS;
    if (input.starts_with("http://")) return &HTTP;
    // Otherwise the bytes after each candidate's name are looked at first, so that at most one
    // name is compared.
    for (const SpecialScheme& scheme : SPECIAL_SCHEMES) {
        if (scheme.type == SchemeType::File) continue;
        size_t size = scheme.name.size();
        if (input.size() > size + 3 && input[size] == ':' && input[size + 1] == '/' &&
            input[size + 2] == '/' && input.starts_with(scheme.name)) {
            return &scheme;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<Layout> recognize_canonical(std::string_view input) {
    const SpecialScheme* scheme = network_scheme_with_slashes(input);
    if (scheme == nullptr) return std::nullopt;
    size_t scheme_end = scheme->name.size();

    Layout layout;
    layout.has_host = true;
    layout.scheme_end = static_cast<uint32_t>(scheme_end);
    size_t i = scheme_end + 3;
    layout.username_end = layout.host_start = static_cast<uint32_t>(i);

    // Spans below are made from positions already known to lie inside `input`, without the
    // bounds check of substr(): this runs for nearly every URL the host sees.
    i = find_first_in_set(input, i, DOMAIN_STOPS);
    std::string_view domain(input.data() + layout.host_start, i - layout.host_start);
    if (domain.empty() || ends_in_a_number(domain)) return std::nullopt;
    layout.host_end = static_cast<uint32_t>(i);

    if (i < input.size() && input[i] == ':') {
        size_t digits_start = ++i;
        uint32_t port = 0;
        while (i < input.size() && is_ascii_digit(input[i]) && i - digits_start < 5) {
            port = port * 10 + static_cast<uint32_t>(input[i] - '0');
            ++i;
        }
        size_t digits = i - digits_start;
        bool leading_zero = digits > 1 && input[digits_start] == '0';
        if (digits == 0 || leading_zero || port > 65535 || port == scheme->default_port) return std::nullopt;
        layout.port = static_cast<int32_t>(port);
    }

    // Every special URL has a path, so the canonical form always has its "/".
    if (i >= input.size() || input[i] != '/') return std::nullopt;
    layout.path_start = static_cast<uint32_t>(i);
    while (i < input.size() && input[i] == '/') {
        size_t segment_start = ++i;
        i = find_first_in_set(input, i, PATH_SEGMENT_STOPS);
        // Every dot segment starts with "." or "%" ("%2e"); most segments need no closer look.
        char first = segment_start < i ? input[segment_start] : '\0';
        if (first != '.' && first != '%') continue;
        std::string_view segment(input.data() + segment_start, i - segment_start);
        if (is_single_dot_segment(segment) || is_double_dot_segment(segment)) return std::nullopt;
    }

    if (i < input.size() && input[i] == '?') {
        layout.query_start = static_cast<uint32_t>(i++);
        // "#" is in the set too, so one look-up per byte finds both the end and any byte to encode.
        i = find_first_in_set(input, i, SPECIAL_QUERY_PERCENT_ENCODE_SET);
        if (i < input.size() && input[i] != '#') return std::nullopt;
    }
    if (i < input.size() && input[i] == '#') {
        layout.fragment_start = static_cast<uint32_t>(i++);
        if (!is_percent_encoded_form(input.substr(i), FRAGMENT_PERCENT_ENCODE_SET)) return std::nullopt;
        i = input.size();
    }
    if (i != input.size() || input.size() >= ABSENT) return std::nullopt;
    return layout;
}

}  // namespace whatwg::detail
