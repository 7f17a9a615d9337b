#include "whatwg-url/unicode.hpp"

namespace whatwg::unicode {
namespace {

struct LeadByte {
    size_t continuations;  // 0 for ASCII; SIZE_MAX when the byte cannot start a sequence
    unsigned char lower;   // bounds of the first continuation byte (they exclude overlong forms,
    unsigned char upper;   // surrogates and values above U+10FFFF)
};

constexpr size_t NOT_A_LEAD = static_cast<size_t>(-1);

constexpr LeadByte classify_lead(unsigned char byte) {
    if (byte < 0x80) return {0, 0, 0};
    if (byte >= 0xC2 && byte <= 0xDF) return {1, 0x80, 0xBF};
    if (byte == 0xE0) return {2, 0xA0, 0xBF};
    if (byte == 0xED) return {2, 0x80, 0x9F};
    if (byte >= 0xE1 && byte <= 0xEF) return {2, 0x80, 0xBF};
    if (byte == 0xF0) return {3, 0x90, 0xBF};
    if (byte >= 0xF1 && byte <= 0xF3) return {3, 0x80, 0xBF};
    if (byte == 0xF4) return {3, 0x80, 0x8F};
    return {NOT_A_LEAD, 0, 0};
}

// How many bytes after the lead byte are acceptable continuation bytes (at most `continuations`).
size_t acceptable_continuations(std::string_view bytes, const LeadByte& lead) {
    size_t count = 0;
    while (count < lead.continuations && count + 1 < bytes.size()) {
        auto byte = static_cast<unsigned char>(bytes[count + 1]);
        unsigned char lower = count == 0 ? lead.lower : 0x80;
        unsigned char upper = count == 0 ? lead.upper : 0xBF;
        if (byte < lower || byte > upper) break;
        ++count;
    }
    return count;
}

}  // namespace

size_t well_formed_sequence_length(std::string_view bytes) {
    LeadByte lead = classify_lead(static_cast<unsigned char>(bytes[0]));
    if (lead.continuations == NOT_A_LEAD) return 0;
    if (lead.continuations == 0) return 1;
    return acceptable_continuations(bytes, lead) == lead.continuations ? lead.continuations + 1 : 0;
}

size_t ill_formed_sequence_length(std::string_view bytes) {
    LeadByte lead = classify_lead(static_cast<unsigned char>(bytes[0]));
    if (lead.continuations == NOT_A_LEAD) return 1;
    return 1 + acceptable_continuations(bytes, lead);
}

void append_with_replacement(std::string& out, std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        std::string_view rest = bytes.substr(i);
        if (size_t length = well_formed_sequence_length(rest); length != 0) {
            out.append(rest.data(), length);
            i += length;
        } else {
            out += REPLACEMENT_CHARACTER;
            i += ill_formed_sequence_length(rest);
        }
    }
}

}  // namespace whatwg::unicode
