// The WHATWG URL parser over arbitrary bytes. Input up to the first line feed, when there is
// one, is parsed as a base URL and the rest against it. A serialisation must be ASCII and must
// parse again, without a base, to itself; the parser's shortcut for canonical input must agree
// with its full state machine; and the host's URL policy must be idempotent.
#include "browser-native-host/checks/url_policy.hpp"
#include "fuzz/invariant.hpp"
#include "whatwg-url/url.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace {

using ondrake::fuzz::require;

bool is_ascii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

void check_parse(whatwg::Parser& parser, std::string_view input, const whatwg::Url* base) {
    std::optional<whatwg::Url> url = parser.parse(input, base);
    std::optional<whatwg::Url> slow = parser.parse_without_shortcut(input, base);
    require(url.has_value() == slow.has_value(), "the shortcut and the state machine agree on failure");
    if (base == nullptr) {
        std::string in_place(input);
        std::optional<whatwg::detail::Layout> layout = whatwg::parse_in_place(in_place);
        require(layout.has_value() == url.has_value(), "parsing in place agrees on failure");
        require(!url || (in_place == url->href() && *layout == url->layout()),
                "parsing in place gives the same URL", in_place);
    }
    if (!url) return;
    require(slow->href() == url->href() && slow->layout() == url->layout(),
            "the shortcut and the state machine give the same URL", url->href());

    std::string href(url->href());
    require(is_ascii(href), "a serialisation is ASCII", href);
    std::optional<whatwg::Url> again = parser.parse(href);
    require(again.has_value(), "a serialisation parses again", href);
    require(again->href() == href, "parsing a serialisation gives it back", href);
    require(again->layout() == url->layout(), "parsing a serialisation gives the same components", href);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    whatwg::Parser parser;
    check_parse(parser, input, nullptr);

    if (std::size_t line_end = input.find('\n'); line_end != std::string_view::npos) {
        if (std::optional<whatwg::Url> base = parser.parse(input.substr(0, line_end))) {
            check_parse(parser, input.substr(line_end + 1), &*base);
        }
    }

    std::string sanitized(input);
    if (ondrake::url_policy::sanitize(sanitized)) {
        std::string again = sanitized;
        require(ondrake::url_policy::sanitize(again) && again == sanitized, "the URL policy is idempotent",
                sanitized);
    }
    return 0;
}
