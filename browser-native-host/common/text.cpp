#include "browser-native-host/common/text.hpp"

#include <cstdint>
#include <optional>

namespace ondrake::text {

namespace {

struct Decoded {
    char32_t code_point;
    std::size_t length;
};

std::uint8_t byte_at(std::string_view s, std::size_t i) { return static_cast<std::uint8_t>(s[i]); }

bool is_continuation(std::uint8_t b) { return (b & 0xC0) == 0x80; }

// Decodes the sequence that starts at `at`, refusing every ill-formed form of RFC 3629.
std::optional<Decoded> decode_forward(std::string_view s, std::size_t at) {
    std::uint8_t lead = byte_at(s, at);
    if (lead < 0x80) return Decoded{lead, 1};
    std::size_t length;
    char32_t cp;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        cp = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        cp = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        cp = lead & 0x07;
        minimum = 0x10000;
    } else return std::nullopt;
    if (s.size() - at < length) return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        std::uint8_t b = byte_at(s, at + i);
        if (!is_continuation(b)) return std::nullopt;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    return Decoded{cp, length};
}

// Decodes the sequence that ends just before `end`.
std::optional<Decoded> decode_backward(std::string_view s, std::size_t end) {
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 && is_continuation(byte_at(s, start))) --start;
    auto decoded = decode_forward(s, start);
    if (!decoded || start + decoded->length != end) return std::nullopt;
    return decoded;
}

}  // namespace

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

std::string_view detail::trim_decoded_white_space(std::string_view utf8) {
    std::size_t begin = 0;
    while (begin < utf8.size()) {
        auto decoded = decode_forward(utf8, begin);
        if (!decoded || !is_white_space(decoded->code_point)) break;
        begin += decoded->length;
    }
    std::size_t end = utf8.size();
    while (end > begin) {
        auto decoded = decode_backward(utf8, end);
        if (!decoded || !is_white_space(decoded->code_point)) break;
        end -= decoded->length;
    }
    return utf8.substr(begin, end - begin);
}

}  // namespace ondrake::text
