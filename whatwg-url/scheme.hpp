// The special schemes of the WHATWG URL Standard and their default ports.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace whatwg {

constexpr bool is_special_scheme(std::string_view scheme) {
    return scheme == "http" || scheme == "https" || scheme == "ws" || scheme == "wss" ||
           scheme == "ftp" || scheme == "file";
}

constexpr std::optional<uint16_t> default_port(std::string_view scheme) {
    if (scheme == "http" || scheme == "ws") return 80;
    if (scheme == "https" || scheme == "wss") return 443;
    if (scheme == "ftp") return 21;
    return std::nullopt;
}

}  // namespace whatwg
