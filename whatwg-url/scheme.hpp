// The special schemes of the WHATWG URL Standard and their default ports
// (https://url.spec.whatwg.org/#special-scheme), listed once, and the scheme type the parser
// computes from them once per scheme instead of comparing scheme strings again and again.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace whatwg {

// One enumerator per special scheme, in the Standard's table order, then every other scheme.
enum class SchemeType : uint8_t { Ftp, File, Http, Https, Ws, Wss, NotSpecial };

struct SpecialScheme {
    SchemeType type;
    std::string_view name;
    std::optional<uint16_t> default_port;
};

inline constexpr std::array<SpecialScheme, 6> SPECIAL_SCHEMES{{
    {SchemeType::Ftp, "ftp", 21},
    {SchemeType::File, "file", std::nullopt},
    {SchemeType::Http, "http", 80},
    {SchemeType::Https, "https", 443},
    {SchemeType::Ws, "ws", 80},
    {SchemeType::Wss, "wss", 443},
}};

namespace detail {
constexpr bool special_schemes_in_order() {
    for (std::size_t i = 0; i < SPECIAL_SCHEMES.size(); ++i) {
        if (static_cast<std::size_t>(SPECIAL_SCHEMES[i].type) != i) return false;
    }
    return SPECIAL_SCHEMES.size() == static_cast<std::size_t>(SchemeType::NotSpecial);
}
static_assert(special_schemes_in_order(), "one row per special SchemeType, in the enumeration's order");
}  // namespace detail

// `scheme` is already lower-case, as the parser leaves every scheme.
constexpr SchemeType scheme_type(std::string_view scheme) {
    for (const SpecialScheme& special : SPECIAL_SCHEMES) {
        if (special.name == scheme) return special.type;
    }
    return SchemeType::NotSpecial;
}

constexpr bool is_special(SchemeType type) { return type != SchemeType::NotSpecial; }

// The name of a special scheme.
constexpr std::string_view scheme_name(SchemeType type) {
    return SPECIAL_SCHEMES[static_cast<std::size_t>(type)].name;
}

// https://url.spec.whatwg.org/#default-port: null for "file" and for every scheme that is not special.
constexpr std::optional<uint16_t> default_port(SchemeType type) {
    if (!is_special(type)) return std::nullopt;
    return SPECIAL_SCHEMES[static_cast<std::size_t>(type)].default_port;
}

}  // namespace whatwg
