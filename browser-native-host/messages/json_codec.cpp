#include "browser-native-host/messages/json_codec.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>

#include "platform/utf8.hpp"

namespace ondrake::json_codec {

namespace {

// What a byte inside a JSON string calls for, when reading and when writing one: nothing, the
// end of the string (reading only), an escape, or a check of the UTF-8 sequence it starts.
enum class ByteClass : std::uint8_t { Plain, Quote, Backslash, Control, NonAscii };

constexpr std::array<ByteClass, 256> BYTE_CLASSES = [] {
    std::array<ByteClass, 256> classes{};
    for (std::size_t b = 0; b < 256; ++b) {
        if (b < 0x20) classes[b] = ByteClass::Control;
        else if (b == '"') classes[b] = ByteClass::Quote;
        else if (b == '\\') classes[b] = ByteClass::Backslash;
        else if (b >= 0x80) classes[b] = ByteClass::NonAscii;
        else classes[b] = ByteClass::Plain;
    }
    return classes;
}();

ByteClass class_of(char c) { return BYTE_CLASSES[static_cast<unsigned char>(c)]; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// JSON's escapes of one letter after the backslash, and the byte each stands for. "\/" is read
// but never written: the solidus needs no escape.
struct ShortEscape {
    char letter;
    char byte;
};
constexpr ShortEscape SHORT_ESCAPES[] = {{'"', '"'},  {'\\', '\\'}, {'/', '/'},  {'b', '\b'},
                                         {'f', '\f'}, {'n', '\n'},  {'r', '\r'}, {'t', '\t'}};

const ShortEscape* escape_with_letter(char letter) {
    for (const ShortEscape& escape : SHORT_ESCAPES) {
        if (escape.letter == letter) return &escape;
    }
    return nullptr;
}

const ShortEscape* escape_of_byte(char byte) {
    for (const ShortEscape& escape : SHORT_ESCAPES) {
        if (escape.byte == byte && byte != '/') return &escape;
    }
    return nullptr;
}

// The value of the hex digit `c`, or -1.
int hex_value(char c) {
    if (is_digit(c)) return c - '0';
    char lower = static_cast<char>(c | 0x20);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// The end of the run of non-ASCII bytes that starts at `from`. Every byte of a multi-byte UTF-8
// sequence is >= 0x80, so each such run must be valid UTF-8 on its own; ASCII bytes between runs
// always are.
const char* non_ascii_run_end(const char* from, const char* end) {
    while (from != end && class_of(*from) == ByteClass::NonAscii) ++from;
    return from;
}

// The UTF-16 code unit of the \uXXXX escape whose four digits start at `digits` (checked).
unsigned code_unit(const char* digits) {
    unsigned unit = 0;
    for (int i = 0; i < 4; ++i) unit = unit * 16 + static_cast<unsigned>(hex_value(digits[i]));
    return unit;
}

bool is_leading_surrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_trailing_surrogate(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void append_utf8(std::string& out, unsigned code_point) {
    if (code_point < 0x80) {
        out.push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    }
}

// The text of the string whose content (between the quotes, checked) is `raw`, its escapes
// replaced, into `out`. False when an escape is a lone surrogate.
bool unescape(std::string_view raw, std::string& out) {
    out.clear();
    out.reserve(raw.size());
    const char* at = raw.data();
    const char* end = at + raw.size();
    while (at != end) {
        const char* backslash = at;
        while (backslash != end && *backslash != '\\') ++backslash;
        out.append(at, backslash);
        if (backslash == end) break;
        at = backslash + 2;
        if (const ShortEscape* escape = escape_with_letter(backslash[1])) {
            out.push_back(escape->byte);
            continue;
        }
        unsigned unit = code_unit(at);  // \uXXXX, the only other escape read_text_from lets through
        at += 4;
        if (is_trailing_surrogate(unit)) return false;
        if (is_leading_surrogate(unit)) {
            if (end - at < 6 || at[0] != '\\' || at[1] != 'u') return false;
            unsigned trailing = code_unit(at + 2);
            if (!is_trailing_surrogate(trailing)) return false;
            at += 6;
            unit = 0x10000 + ((unit - 0xD800) << 10) + (trailing - 0xDC00);
        }
        append_utf8(out, unit);
    }
    return true;
}

}  // namespace

bool Reader::read_text_from(const char* stop, std::string_view& text, bool& usable) {
    const char* start = at_;
    at_ = stop;
    bool escaped = false;
    for (;;) {
        if (at_ == end_) return false;
        ByteClass kind = class_of(*at_);
        if (kind == ByteClass::Quote) break;
        if (kind == ByteClass::Control) return false;
        if (kind == ByteClass::NonAscii) {
            const char* run_end = non_ascii_run_end(at_, end_);
            if (!platform::is_valid_utf8(std::string_view(at_, static_cast<std::size_t>(run_end - at_)))) {
                return false;
            }
            at_ = detail::plain_run_end(run_end, end_);
            continue;
        }
        // A backslash: one of the escapes JSON has.
        escaped = true;
        if (end_ - at_ < 2) return false;
        if (at_[1] == 'u') {
            if (end_ - at_ < 6) return false;
            for (int i = 2; i < 6; ++i) {
                if (hex_value(at_[i]) < 0) return false;
            }
            at_ = detail::plain_run_end(at_ + 6, end_);
            continue;
        }
        if (escape_with_letter(at_[1]) == nullptr) return false;
        at_ = detail::plain_run_end(at_ + 2, end_);
    }
    std::string_view raw(start, static_cast<std::size_t>(at_ - start));
    ++at_;  // the closing quote
    if (!escaped) {
        text = raw;
        usable = true;
        return true;
    }
    usable = unescape(raw, unescaped_);
    text = unescaped_;
    return true;
}

bool Reader::read_string(std::string& out) {
    std::string_view text;
    bool usable = false;
    if (!read_text(text, usable) || !usable) return false;
    out.assign(text);
    return true;
}

bool Reader::read_number(Number& number) {
    skip_space();
    const char* at = at_;
    number = Number{};
    if (at != end_ && *at == '-') {
        number.negative = true;
        ++at;
    }
    // An integer part of one 0, or of digits that do not start with 0.
    if (at == end_ || !is_digit(*at)) return false;
    const char* digits = at;
    if (*at == '0') {
        ++at;
    } else {
        while (at != end_ && is_digit(*at)) ++at;
    }
    const char* digits_end = at;
    bool fraction_or_exponent = false;
    if (at != end_ && *at == '.') {
        ++at;
        if (at == end_ || !is_digit(*at)) return false;
        while (at != end_ && is_digit(*at)) ++at;
        fraction_or_exponent = true;
    }
    if (at != end_ && (*at == 'e' || *at == 'E')) {
        ++at;
        if (at != end_ && (*at == '+' || *at == '-')) ++at;
        if (at == end_ || !is_digit(*at)) return false;
        while (at != end_ && is_digit(*at)) ++at;
        fraction_or_exponent = true;
    }
    at_ = at;
    if (fraction_or_exponent) return true;
    // An integer beyond 64 bits is as unusable to a member as a fraction.
    auto [end, error] = std::from_chars(digits, digits_end, number.magnitude);
    number.integer = error == std::errc() && end == digits_end;
    return true;
}

bool Reader::read_literal(std::string_view word) {
    skip_space();
    if (static_cast<std::size_t>(end_ - at_) < word.size() || std::string_view(at_, word.size()) != word) {
        return false;
    }
    at_ += word.size();
    return true;
}

bool Reader::skip_key() {
    std::string_view key;
    bool usable = false;
    return read_text(key, usable) && take(':');
}

bool Reader::skip_scalar() {
    skip_space();
    if (at_ == end_) return false;
    if (*at_ == '"') {
        std::string_view text;
        bool usable = false;
        return read_text(text, usable);
    }
    if (*at_ == '-' || is_digit(*at_)) {
        Number number;
        return read_number(number);
    }
    return read_literal("true") || read_literal("false") || read_literal("null");
}

bool Reader::skip_value() {
    // Iterative, so that the stack stays small however deep the value is nested. One bit per
    // container open inside the value: set for an object, clear for an array.
    std::array<std::uint64_t, (MAX_NESTING + 63) / 64> objects{};
    const std::size_t outer = depth_;
    auto level = [&] { return depth_ - outer - 1; };
    auto in_object = [&] { return ((objects[level() / 64] >> (level() % 64)) & 1) != 0; };
    for (;;) {
        // A value comes next.
        skip_space();
        if (at_ != end_ && (*at_ == '{' || *at_ == '[')) {
            bool object = *at_++ == '{';
            if (!enter()) return false;
            std::uint64_t bit = std::uint64_t{1} << (level() % 64);
            objects[level() / 64] = object ? objects[level() / 64] | bit : objects[level() / 64] & ~bit;
            if (!take(object ? '}' : ']')) {
                if (object && !skip_key()) return false;
                continue;  // the container's first value
            }
            leave();  // an empty one
        } else if (!skip_scalar()) {
            return false;
        }
        // A value is complete: it closes containers, or another element follows.
        for (;;) {
            if (depth_ == outer) return true;
            bool object = in_object();
            if (take(',')) {
                if (object && !skip_key()) return false;
                break;
            }
            if (!take(object ? '}' : ']')) return false;
            leave();
        }
    }
}

bool write_string(std::string& out, std::string_view text) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::size_t original_size = out.size();
    out.push_back('"');
    const char* at = text.data();
    const char* end = at + text.size();
    for (;;) {
        const char* stop = detail::plain_run_end(at, end);
        out.append(at, stop);
        if (stop == end) break;
        if (class_of(*stop) == ByteClass::NonAscii) {
            const char* run_end = non_ascii_run_end(stop, end);
            if (!platform::is_valid_utf8(std::string_view(stop, static_cast<std::size_t>(run_end - stop)))) {
                out.resize(original_size);
                return false;
            }
            out.append(stop, run_end);
            at = run_end;
            continue;
        }
        auto c = static_cast<unsigned char>(*stop);
        if (const ShortEscape* escape = escape_of_byte(*stop)) {
            out.append({'\\', escape->letter});
        } else {
            out.append({'\\', 'u', '0', '0', HEX[c >> 4], HEX[c & 0xF]});
        }
        at = stop + 1;
    }
    out.push_back('"');
    return true;
}

void write_key(std::string& out, std::string_view key, bool& first) {
    // One growth of `out` for the whole key: every member of every message writes one.
    std::size_t at = out.size();
    out.resize(at + key.size() + (first ? 3 : 4));
    char* to = out.data() + at;
    if (!first) *to++ = ',';
    first = false;
    *to++ = '"';
    to = std::copy(key.begin(), key.end(), to);
    *to++ = '"';
    *to = ':';
}

void write_integer(std::string& out, std::int64_t value) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

void write_integer(std::string& out, std::uint64_t value) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

}  // namespace ondrake::json_codec
