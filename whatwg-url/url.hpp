// A URL library of the WHATWG URL Standard (https://url.spec.whatwg.org/): the basic URL parser,
// UTS #46 processing of host names, the URL record and its serialisation.
//
// Parse failure is a value (an empty optional); nothing here throws.
#pragma once

#include "whatwg-url/idna.hpp"
#include "whatwg-url/scheme.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace whatwg {

namespace detail {

inline constexpr uint32_t ABSENT = UINT32_MAX;

// Where each component lies in a URL's serialisation:
//   scheme ":" ["//" [username [":" password] "@"] host [":" port]] ["/."] path ["?" query] ["#" fragment]
struct Layout {
    uint32_t scheme_end = 0;    // the ":" after the scheme
    uint32_t username_end = 0;  // end of the username; a password follows its ":"
    uint32_t host_start = 0;    // after "@" when there are credentials
    uint32_t host_end = 0;
    uint32_t path_start = 0;           // after the port and after any "/." prefix
    uint32_t query_start = ABSENT;     // the "?"
    uint32_t fragment_start = ABSENT;  // the "#"
    int32_t port = -1;                 // -1 when the URL has no port
    bool has_host = false;
    bool has_opaque_path = false;

    // A username or a password: the serialisation writes userinfo, and its "@", only when one
    // of the two is not empty, so the host then starts later than right after "//".
    bool has_credentials() const noexcept { return has_host && host_start != scheme_end + 3; }

    bool operator==(const Layout&) const = default;
};

// The URL record while the parser builds it. The path is kept serialised: a list path as "/" and
// each segment ("" for the empty list), an opaque path as its text.
struct UrlRecord {
    std::string scheme;
    std::string username;
    std::string password;
    std::string host;  // serialised
    bool has_host = false;
    int32_t port = -1;
    std::string path;
    bool has_opaque_path = false;
    std::string query;
    bool has_query = false;
    std::string fragment;
    bool has_fragment = false;
    SchemeType scheme_type = SchemeType::NotSpecial;  // of `scheme`, set with it

    bool is_special() const { return whatwg::is_special(scheme_type); }
    void clear();
};

}  // namespace detail

// A parsed URL: its serialisation in one buffer, with the positions of its components.
class Url {
public:
    // The serialisation.
    std::string_view href() const noexcept { return href_; }
    // The serialisation's buffer itself, for a caller that keeps only the text.
    std::string take_href() && noexcept { return std::move(href_); }

    // The URL record's components.
    std::string_view scheme() const noexcept;
    std::string_view username() const noexcept;
    std::string_view password() const noexcept;  // empty when the URL has none
    bool has_host() const noexcept { return layout_.has_host; }
    std::optional<uint16_t> port_number() const noexcept;
    bool has_opaque_path() const noexcept { return layout_.has_opaque_path; }
    bool has_query() const noexcept { return layout_.query_start != detail::ABSENT; }
    std::string_view query() const noexcept;  // without "?"; empty when absent
    bool has_fragment() const noexcept { return layout_.fragment_start != detail::ABSENT; }
    std::string_view fragment() const noexcept;  // without "#"; empty when absent
    bool is_special() const noexcept;

    // The getters of the URL API (the URL interface of the Standard).
    std::string_view protocol() const noexcept;  // scheme and ":"
    std::string_view host() const noexcept;      // serialised host, and ":" port when there is one
    std::string_view hostname() const noexcept;  // serialised host; empty when null or empty
    std::string_view port() const noexcept;      // decimal, or empty
    std::string_view pathname() const noexcept;
    std::string_view search() const noexcept;  // "?" and query, or empty when the query is empty
    std::string_view hash() const noexcept;    // "#" and fragment, or empty when it is empty
    std::string origin() const;                // the serialised origin; "null" when opaque

    // Removes the fragment and its "#".
    void clear_fragment() noexcept;

    const detail::Layout& layout() const noexcept { return layout_; }

private:
    friend class Parser;
    friend std::optional<Url> parse_owned(std::string&& input);
    Url(std::string&& href, const detail::Layout& layout) : href_(std::move(href)), layout_(layout) {}

    std::string_view slice(uint32_t begin, uint32_t end) const noexcept;
    uint32_t path_end() const noexcept;
    uint32_t query_end() const noexcept;

    std::string href_;
    detail::Layout layout_;
};

// The accessors that every caller of the parser uses, inline since each is a slice or two.
inline std::string_view Url::slice(uint32_t begin, uint32_t end) const noexcept {
    return std::string_view(href_).substr(begin, end - begin);
}

inline std::string_view Url::scheme() const noexcept { return slice(0, layout_.scheme_end); }

inline std::string_view Url::username() const noexcept {
    if (!layout_.has_host) return {};
    return slice(layout_.scheme_end + 3, layout_.username_end);
}

inline std::string_view Url::password() const noexcept {
    if (!layout_.has_host || layout_.host_start <= layout_.username_end + 1) return {};
    return slice(layout_.username_end + 1, layout_.host_start - 1);
}

inline std::string_view Url::hostname() const noexcept { return slice(layout_.host_start, layout_.host_end); }

inline void Url::clear_fragment() noexcept {
    if (!has_fragment()) return;
    href_.resize(layout_.fragment_start);
    layout_.fragment_start = detail::ABSENT;
}

// Parses URLs. Keeps its working buffers and its ICU object between calls, so one parser used for
// many URLs allocates little. Not for concurrent use; each thread uses its own.
class Parser {
public:
    // The basic URL parser, without state override. nullopt is failure.
    std::optional<Url> parse(std::string_view input, const Url* base = nullptr);

    // The same, never taking the shortcut for input that is already canonical (for tests that
    // compare the two routes).
    std::optional<Url> parse_without_shortcut(std::string_view input, const Url* base = nullptr);

private:
    std::optional<Url> run_state_machine(std::string_view input, const Url* base);

    detail::UrlRecord record_;
    std::string input_;
    std::string buffer_;
    std::string host_scratch_;
    Uts46 idna_;
};

// Parses `input` against the optional `base` with a parser of its own.
std::optional<Url> parse(std::string_view input, const Url* base = nullptr);

// Parses `input` without a base URL, like parse(). When `input` is already canonical its own
// buffer becomes the serialisation, so a caller that holds the text anyway pays no copy.
std::optional<Url> parse_owned(std::string&& input);

namespace detail {

// The layout of `input` when it is an http, https, ws, wss or ftp URL whose serialisation is
// `input` itself; nullopt when the full parser has to decide. Covers printable ASCII without
// credentials, with a lower-case domain that is not an IPv4 address, an optional non-default port
// without leading zeros, a path without dot segments, and query and fragment that need no
// percent-encoding. Such URLs are taken as they are, without running the state machine.
std::optional<Layout> recognize_canonical(std::string_view input);

// parse_in_place() for text that recognize_canonical() leaves to the parser.
std::optional<Layout> parse_in_place_with_parser(std::string& text);

}  // namespace detail

// Parses `text` without a base URL, like parse(), and leaves the serialisation in `text`; the
// positions of its components, or nullopt on failure (`text` is then as it was). Text that is
// already canonical is not touched at all, for a caller that keeps only the text; inline, since
// that is most of what such a caller sees.
inline std::optional<detail::Layout> parse_in_place(std::string& text) {
    if (auto layout = detail::recognize_canonical(text)) return layout;
    return detail::parse_in_place_with_parser(text);
}

}  // namespace whatwg
