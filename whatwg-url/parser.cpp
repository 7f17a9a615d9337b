#include "whatwg-url/basic_parser.hpp"
#include "whatwg-url/serializer.hpp"
#include "whatwg-url/url.hpp"

namespace whatwg {

std::optional<Url> Parser::parse(std::string_view input, const Url* base) {
    // Most URLs that reach a program are already canonical; those need only be copied.
    if (auto layout = detail::recognize_canonical(input)) return Url(std::string(input), *layout);
    return run_state_machine(input, base);
}

std::optional<Url> Parser::parse_without_shortcut(std::string_view input, const Url* base) {
    return run_state_machine(input, base);
}

std::optional<Url> Parser::run_state_machine(std::string_view input, const Url* base) {
    std::string_view prepared = detail::prepare_input(input, input_);
    record_.clear();
    buffer_.clear();
    if (!detail::run_basic_parser(prepared, base, record_, buffer_, host_scratch_, idna_))
        return std::nullopt;
    std::string href;
    auto layout = detail::serialize(record_, href);
    if (!layout) return std::nullopt;
    return Url(std::move(href), *layout);
}

std::optional<Url> parse(std::string_view input, const Url* base) {
    Parser parser;
    return parser.parse(input, base);
}

// Apart from parse_in_place(), so that the shortcut sets up none of a parser's buffers.
std::optional<detail::Layout> detail::parse_in_place_with_parser(std::string& text) {
    Parser parser;
    std::optional<Url> url = parser.parse_without_shortcut(text);
    if (!url) return std::nullopt;
    text = std::move(*url).take_href();
    return url->layout();
}

std::optional<Url> parse_owned(std::string&& input) {
    std::optional<detail::Layout> layout = parse_in_place(input);
    if (!layout) return std::nullopt;
    return Url(std::move(input), *layout);
}

}  // namespace whatwg
