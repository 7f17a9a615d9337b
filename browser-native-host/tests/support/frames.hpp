// Frames as the host reads and writes them: a four-byte length, then the body.
#pragma once

#include "browser-native-host/framing.hpp"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace ondrake::test {

inline std::string prefix(std::uint32_t length) {
    auto bytes = framing::encode_length(length);
    return std::string(bytes.data(), bytes.size());
}

inline std::string framed(std::string_view body) {
    return prefix(static_cast<std::uint32_t>(body.size())) + std::string(body);
}

inline std::string frames(std::initializer_list<std::string_view> bodies) {
    std::string bytes;
    for (std::string_view body : bodies) bytes += framed(body);
    return bytes;
}

}  // namespace ondrake::test
