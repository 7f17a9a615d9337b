#include "whatwg-url/ip_address.hpp"

#include "whatwg-url/ascii.hpp"

#include <charconv>

namespace whatwg {
namespace {

// Any value above this is out of range for every IPv4 part; saturating here keeps arbitrarily
// long digit strings from overflowing while still failing the range checks.
constexpr uint64_t IPV4_NUMBER_CEILING = uint64_t{1} << 32;

bool is_radix_digit(char c, int radix) {
    switch (radix) {
        case 8: return c >= '0' && c <= '7';
        case 10: return is_ascii_digit(c);
        default: return is_ascii_hex_digit(c);
    }
}

// https://url.spec.whatwg.org/#ipv4-number-parser: nullopt is failure. Values above 2^32 come back
// as 2^32. The validation flag of the result is left out.
std::optional<uint64_t> parse_ipv4_number(std::string_view input) {
    // 1. The empty string: failure.
    if (input.empty()) return std::nullopt;
    // 3. R is 10, 4. or 16 after "0x" or "0X", 5. or 8 after "0" with more to follow.
    int radix = 10;
    if (input.size() >= 2 && input[0] == '0' && (input[1] == 'x' || input[1] == 'X')) {
        input.remove_prefix(2);
        radix = 16;
    } else if (input.size() >= 2 && input[0] == '0') {
        input.remove_prefix(1);
        radix = 8;
    }
    // 6. Nothing left: 0.
    if (input.empty()) return 0;
    // 7. A code point that is not a radix-R digit: failure; 8. else the radix-R value.
    uint64_t value = 0;
    for (char c : input) {
        if (!is_radix_digit(c, radix)) return std::nullopt;
        value = value * static_cast<uint64_t>(radix) + static_cast<uint64_t>(hex_digit_value(c));
        if (value > IPV4_NUMBER_CEILING) value = IPV4_NUMBER_CEILING;
    }
    return value;
}

// Strictly splits on "." into at most `capacity` parts; returns the count, or capacity + 1 when
// there are more.
size_t split_on_dots(std::string_view input, std::string_view* parts, size_t capacity) {
    size_t count = 0;
    size_t start = 0;
    while (true) {
        size_t dot = input.find('.', start);
        if (count == capacity) return capacity + 1;
        parts[count++] =
            input.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (dot == std::string_view::npos) return count;
        start = dot + 1;
    }
}

}  // namespace

namespace detail {

// https://url.spec.whatwg.org/#ends-in-a-number-checker, from step 2 on.
bool last_part_is_a_number(std::string_view domain) {
    // 2.-4. The last part, after removing one trailing empty part.
    size_t dot = domain.rfind('.');
    std::string_view last = dot == std::string_view::npos ? domain : domain.substr(dot + 1);
    if (last.empty()) {
        if (dot == std::string_view::npos) return false;  // the empty domain is a single part
        std::string_view rest = domain.substr(0, dot);
        size_t previous = rest.rfind('.');
        last = previous == std::string_view::npos ? rest : rest.substr(previous + 1);
    }
    // 5. Only ASCII digits: true.
    if (!last.empty()) {
        bool all_digits = true;
        for (char c : last) all_digits = all_digits && is_ascii_digit(c);
        if (all_digits) return true;
    }
    // 6., 7. An IPv4 number: true; otherwise false.
    return parse_ipv4_number(last).has_value();
}

}  // namespace detail

// https://url.spec.whatwg.org/#concept-ipv4-parser
std::optional<Ipv4Address> parse_ipv4(std::string_view input) {
    // 1. Strictly split on "." (more than five parts cannot pass step 4 whatever the last is).
    std::string_view parts[5];
    size_t count = split_on_dots(input, parts, 5);
    if (count > 5) return std::nullopt;
    // 2.2. Remove a last empty part, unless it is the only one.
    if (parts[count - 1].empty() && count > 1) --count;
    // 4. More than four parts: failure.
    if (count > 4) return std::nullopt;

    // 6. Each part parsed as an IPv4 number (6.2. failure is failure).
    uint64_t numbers[4];
    for (size_t i = 0; i < count; ++i) {
        auto number = parse_ipv4_number(parts[i]);
        if (!number) return std::nullopt;
        numbers[i] = *number;
    }
    // 8. Any but the last above 255: failure.
    for (size_t i = 0; i + 1 < count; ++i) {
        if (numbers[i] > 255) return std::nullopt;
    }
    // 9. The last at or above 256^(5 - count): failure.
    uint64_t last = numbers[count - 1];
    if (last >= (uint64_t{1} << (8 * (5 - count)))) return std::nullopt;

    // 10.-14. The last number, plus each other one times 256^(3 - its index).
    uint64_t address = last;
    for (size_t i = 0; i + 1 < count; ++i) address += numbers[i] << (8 * (3 - i));
    return static_cast<Ipv4Address>(address);
}

// https://url.spec.whatwg.org/#concept-ipv6-parser
std::optional<Ipv6Address> parse_ipv6(std::string_view input) {
    // 1.-4. address, pieceIndex, compress, pointer.
    Ipv6Address address{};
    size_t piece_index = 0;
    std::optional<size_t> compress;
    size_t pointer = 0;
    auto c = [&]() -> int {
        return pointer < input.size() ? static_cast<unsigned char>(input[pointer]) : -1;
    };

    // 5. A leading ":" must be "::" (5.1); skip it (5.2) and compress at piece 1 (5.3).
    if (c() == ':') {
        if (pointer + 1 >= input.size() || input[pointer + 1] != ':') return std::nullopt;
        pointer += 2;
        compress = ++piece_index;
    }
    // 6. While c is not the EOF code point:
    while (c() != -1) {
        // 6.1. A ninth piece: failure.
        if (piece_index == 8) return std::nullopt;
        // 6.2. ":": a second compression is failure (6.2.1); else compress here (6.2.2).
        if (c() == ':') {
            if (compress) return std::nullopt;
            ++pointer;
            compress = ++piece_index;
            continue;
        }
        // 6.3., 6.4. Up to four hex digits make value.
        unsigned value = 0;
        size_t length = 0;
        while (length < 4 && is_ascii_hex_digit(c())) {
            value = value * 0x10 + static_cast<unsigned>(hex_digit_value(c()));
            ++pointer;
            ++length;
        }
        // 6.5. ".": an IPv4 address in the last two pieces.
        if (c() == '.') {
            // 6.5.1. No digits before it: failure; 6.5.2. back to the digits.
            if (length == 0) return std::nullopt;
            pointer -= length;
            // 6.5.3. No room for two pieces: failure.
            if (piece_index > 6) return std::nullopt;
            // 6.5.4., 6.5.5. Read up to four dotted decimal numbers.
            int numbers_seen = 0;
            while (c() != -1) {
                std::optional<unsigned> ipv4_piece;
                // 6.5.5.2. After the first number, a "." (while fewer than four) or failure.
                if (numbers_seen > 0) {
                    if (c() == '.' && numbers_seen < 4) ++pointer;
                    else return std::nullopt;
                }
                // 6.5.5.3. Not a digit: failure.
                if (!is_ascii_digit(c())) return std::nullopt;
                // 6.5.5.4. The decimal number: no leading zero (.3), at most 255 (.5).
                while (is_ascii_digit(c())) {
                    unsigned number = static_cast<unsigned>(c() - '0');
                    if (!ipv4_piece) ipv4_piece = number;
                    else if (*ipv4_piece == 0) return std::nullopt;
                    else ipv4_piece = *ipv4_piece * 10 + number;
                    if (*ipv4_piece > 255) return std::nullopt;
                    ++pointer;
                }
                // 6.5.5.5.-6.5.5.7. Shift it into the piece; two numbers fill a piece.
                address[piece_index] = static_cast<uint16_t>(address[piece_index] * 0x100 + *ipv4_piece);
                ++numbers_seen;
                if (numbers_seen == 2 || numbers_seen == 4) ++piece_index;
            }
            // 6.5.6. Not four numbers: failure; 6.5.7. break.
            if (numbers_seen != 4) return std::nullopt;
            break;
        }
        if (c() == ':') {
            // 6.6. ":" must be followed by something (6.6.2).
            ++pointer;
            if (c() == -1) return std::nullopt;
        } else if (c() != -1) {
            // 6.7. Anything else: failure.
            return std::nullopt;
        }
        // 6.9., 6.10. Store the piece.
        address[piece_index++] = static_cast<uint16_t>(value);
    }
    if (compress) {
        // 7. Move the pieces after the compression to the end.
        size_t swaps = piece_index - *compress;
        piece_index = 7;
        while (piece_index != 0 && swaps > 0) {
            std::swap(address[piece_index], address[*compress + swaps - 1]);
            --piece_index;
            --swaps;
        }
    } else if (piece_index != 8) {
        // 8. No compression and fewer than eight pieces: failure.
        return std::nullopt;
    }
    return address;
}

// https://url.spec.whatwg.org/#concept-ipv4-serializer, writing the most significant byte first
// instead of prepending.
void serialize_ipv4(Ipv4Address address, std::string& out) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        char digits[3];
        auto result = std::to_chars(digits, digits + 3, (address >> shift) & 0xFF);
        out.append(digits, result.ptr);
        if (shift != 0) out += '.';
    }
}

// https://url.spec.whatwg.org/#concept-ipv6-serializer
void serialize_ipv6(const Ipv6Address& address, std::string& out) {
    // 2. compress: the first longest run of at least two zero pieces
    //    (https://url.spec.whatwg.org/#find-the-ipv6-address-compressed-piece-index).
    size_t compress_start = 8;
    size_t compress_length = 1;
    for (size_t i = 0; i < 8;) {
        if (address[i] != 0) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < 8 && address[end] == 0) ++end;
        if (end - i > compress_length) {
            compress_start = i;
            compress_length = end - i;
        }
        i = end;
    }
    // 3., 4. Each piece, skipping the zeros after the compression (4.1).
    bool ignore0 = false;
    for (size_t i = 0; i < 8; ++i) {
        if (ignore0 && address[i] == 0) continue;
        ignore0 = false;
        // 4.3. "::" at the start, else ":", where the compression begins.
        if (i == compress_start) {
            out += i == 0 ? "::" : ":";
            ignore0 = true;
            continue;
        }
        // 4.4. Shortest lowercase hex; 4.5. ":" after all but the last piece.
        char digits[4];
        auto result = std::to_chars(digits, digits + 4, address[i], 16);
        out.append(digits, result.ptr);
        if (i != 7) out += ':';
    }
}

}  // namespace whatwg
