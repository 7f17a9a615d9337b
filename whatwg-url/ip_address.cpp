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

// IPv4 number parser: nullopt is failure. Values above 2^32 come back as 2^32.
std::optional<uint64_t> parse_ipv4_number(std::string_view input) {
    if (input.empty()) return std::nullopt;
    int radix = 10;
    if (input.size() >= 2 && input[0] == '0' && (input[1] == 'x' || input[1] == 'X')) {
        input.remove_prefix(2);
        radix = 16;
    } else if (input.size() >= 2 && input[0] == '0') {
        input.remove_prefix(1);
        radix = 8;
    }
    if (input.empty()) return 0;
    uint64_t value = 0;
    for (char c : input) {
        if (!is_radix_digit(c, radix)) return std::nullopt;
        value = value * radix + static_cast<uint64_t>(hex_digit_value(c));
        if (value > IPV4_NUMBER_CEILING) value = IPV4_NUMBER_CEILING;
    }
    return value;
}

// Splits on "." into at most `capacity` parts; returns the count, or capacity + 1 when there are more.
size_t split_on_dots(std::string_view input, std::string_view* parts, size_t capacity) {
    size_t count = 0;
    size_t start = 0;
    while (true) {
        size_t dot = input.find('.', start);
        if (count == capacity) return capacity + 1;
        parts[count++] = input.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (dot == std::string_view::npos) return count;
        start = dot + 1;
    }
}

}  // namespace

bool ends_in_a_number(std::string_view domain) {
    size_t dot = domain.rfind('.');
    std::string_view last = dot == std::string_view::npos ? domain : domain.substr(dot + 1);
    if (last.empty()) {
        if (dot == std::string_view::npos) return false;  // the empty domain is a single part
        std::string_view rest = domain.substr(0, dot);
        size_t previous = rest.rfind('.');
        last = previous == std::string_view::npos ? rest : rest.substr(previous + 1);
    }
    if (!last.empty()) {
        bool all_digits = true;
        for (char c : last) all_digits = all_digits && is_ascii_digit(c);
        if (all_digits) return true;
    }
    return parse_ipv4_number(last).has_value();
}

std::optional<Ipv4Address> parse_ipv4(std::string_view input) {
    std::string_view parts[5];
    size_t count = split_on_dots(input, parts, 5);
    if (count > 5) return std::nullopt;
    if (parts[count - 1].empty() && count > 1) --count;
    if (count > 4) return std::nullopt;

    uint64_t numbers[4];
    for (size_t i = 0; i < count; ++i) {
        auto number = parse_ipv4_number(parts[i]);
        if (!number) return std::nullopt;
        numbers[i] = *number;
    }
    for (size_t i = 0; i + 1 < count; ++i) {
        if (numbers[i] > 255) return std::nullopt;
    }
    uint64_t last = numbers[count - 1];
    if (last >= (uint64_t{1} << (8 * (5 - count)))) return std::nullopt;

    uint64_t address = last;
    for (size_t i = 0; i + 1 < count; ++i) address += numbers[i] << (8 * (3 - i));
    return static_cast<Ipv4Address>(address);
}

std::optional<Ipv6Address> parse_ipv6(std::string_view input) {
    Ipv6Address address{};
    size_t piece_index = 0;
    std::optional<size_t> compress;
    size_t pointer = 0;
    auto c = [&]() -> int { return pointer < input.size() ? static_cast<unsigned char>(input[pointer]) : -1; };

    if (c() == ':') {
        if (pointer + 1 >= input.size() || input[pointer + 1] != ':') return std::nullopt;
        pointer += 2;
        compress = ++piece_index;
    }
    while (c() != -1) {
        if (piece_index == 8) return std::nullopt;
        if (c() == ':') {
            if (compress) return std::nullopt;
            ++pointer;
            compress = ++piece_index;
            continue;
        }
        unsigned value = 0;
        size_t length = 0;
        while (length < 4 && is_ascii_hex_digit(c())) {
            value = value * 0x10 + static_cast<unsigned>(hex_digit_value(c()));
            ++pointer;
            ++length;
        }
        if (c() == '.') {
            // An IPv4 address in the last two pieces.
            if (length == 0) return std::nullopt;
            pointer -= length;
            if (piece_index > 6) return std::nullopt;
            int numbers_seen = 0;
            while (c() != -1) {
                std::optional<unsigned> ipv4_piece;
                if (numbers_seen > 0) {
                    if (c() == '.' && numbers_seen < 4) ++pointer;
                    else return std::nullopt;
                }
                if (!is_ascii_digit(c())) return std::nullopt;
                while (is_ascii_digit(c())) {
                    unsigned number = static_cast<unsigned>(c() - '0');
                    if (!ipv4_piece) ipv4_piece = number;
                    else if (*ipv4_piece == 0) return std::nullopt;
                    else ipv4_piece = *ipv4_piece * 10 + number;
                    if (*ipv4_piece > 255) return std::nullopt;
                    ++pointer;
                }
                address[piece_index] = static_cast<uint16_t>(address[piece_index] * 0x100 + *ipv4_piece);
                ++numbers_seen;
                if (numbers_seen == 2 || numbers_seen == 4) ++piece_index;
            }
            if (numbers_seen != 4) return std::nullopt;
            break;
        }
        if (c() == ':') {
            ++pointer;
            if (c() == -1) return std::nullopt;
        } else if (c() != -1) {
            return std::nullopt;
        }
        address[piece_index++] = static_cast<uint16_t>(value);
    }
    if (compress) {
        size_t swaps = piece_index - *compress;
        piece_index = 7;
        while (piece_index != 0 && swaps > 0) {
            std::swap(address[piece_index], address[*compress + swaps - 1]);
            --piece_index;
            --swaps;
        }
    } else if (piece_index != 8) {
        return std::nullopt;
    }
    return address;
}

void serialize_ipv4(Ipv4Address address, std::string& out) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        char digits[3];
        auto result = std::to_chars(digits, digits + 3, (address >> shift) & 0xFF);
        out.append(digits, result.ptr);
        if (shift != 0) out += '.';
    }
}

void serialize_ipv6(const Ipv6Address& address, std::string& out) {
    // The first longest run of at least two zero pieces is compressed.
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
    bool ignore0 = false;
    for (size_t i = 0; i < 8; ++i) {
        if (ignore0 && address[i] == 0) continue;
        ignore0 = false;
        if (i == compress_start) {
            out += i == 0 ? "::" : ":";
            ignore0 = true;
            continue;
        }
        char digits[4];
        auto result = std::to_chars(digits, digits + 4, address[i], 16);
        out.append(digits, result.ptr);
        if (i != 7) out += ':';
    }
}

}  // namespace whatwg
