// Frames as the host, the Safari handler and the application read and write them: a four-byte
// little-endian length, then the body. Built here byte by byte rather than with the code under
// test, so that a fault in its encoder cannot hide in the tests' expectations.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace ondrake::test {

inline std::string prefix(std::uint32_t length) {
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    return bytes;
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
