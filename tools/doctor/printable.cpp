#include "tools/doctor/printable.hpp"

#include "platform/utf8.hpp"

namespace ondrake::doctor {

namespace {

// Calls `valid(sequence)` for every valid UTF-8 sequence of `bytes` and `invalid(byte)` for every
// byte that does not start one, in order.
template <class Valid, class Invalid>
void for_each_sequence(std::string_view bytes, Valid valid, Invalid invalid) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        auto lead = static_cast<unsigned char>(bytes[at]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        std::string_view sequence = bytes.substr(at, length);
        if (sequence.size() == length && platform::is_valid_utf8(sequence)) {
            valid(sequence);
            at += length;
        } else {
            invalid(lead);
            at += 1;
        }
    }
}

constexpr char HEX[] = "0123456789ABCDEF";

void append_escape(std::string& out, std::string_view prefix, unsigned value, int digits) {
    out.append(prefix);
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out.push_back(HEX[(value >> shift) & 0xF]);
}

}  // namespace

std::string printable(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for_each_sequence(
        bytes,
        [&](std::string_view sequence) {
            auto lead = static_cast<unsigned char>(sequence[0]);
            if (sequence.size() == 1) {
                if (lead < 0x20 || lead == 0x7F) append_escape(out, "\\x", lead, 2);
                else if (lead == '\\') out.append("\\\\");
                else out.push_back(static_cast<char>(lead));
                return;
            }
            // C1 controls are U+0080 to U+009F: the two bytes C2 80 to C2 9F.
            auto second = static_cast<unsigned char>(sequence[1]);
            if (lead == 0xC2 && second < 0xA0) append_escape(out, "\\u", second, 4);
            else out.append(sequence);
        },
        [&](unsigned char byte) { append_escape(out, "\\x", byte, 2); });
    return out;
}

std::string as_utf8(std::string_view bytes) {
    if (platform::is_valid_utf8(bytes)) return std::string(bytes);
    std::string out;
    for_each_sequence(
        bytes, [&](std::string_view sequence) { out.append(sequence); },
        [&](unsigned char) { out.append("\xEF\xBF\xBD"); });
    return out;
}

}  // namespace ondrake::doctor
