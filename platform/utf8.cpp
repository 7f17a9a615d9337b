#include "platform/utf8.hpp"

#include <cstddef>
#include <cstdint>

namespace ondrake::platform {
namespace {

// One row of the table of well-formed byte sequences: lead bytes in [lead_low, lead_high] are
// followed by `trailing` continuation bytes, the first of which must lie in
// [second_low, second_high] (this range is what rules out overlong forms, surrogates and code
// points past U+10FFFF); every later one lies in 0x80..0xBF.
struct SequenceRule {
    std::uint8_t lead_low;
    std::uint8_t lead_high;
    std::uint8_t trailing;
    std::uint8_t second_low;
    std::uint8_t second_high;
};

constexpr SequenceRule RULES[] = {
    {0xC2, 0xDF, 1, 0x80, 0xBF}, {0xE0, 0xE0, 2, 0xA0, 0xBF}, {0xE1, 0xEC, 2, 0x80, 0xBF},
    {0xED, 0xED, 2, 0x80, 0x9F}, {0xEE, 0xEF, 2, 0x80, 0xBF}, {0xF0, 0xF0, 3, 0x90, 0xBF},
    {0xF1, 0xF3, 3, 0x80, 0xBF}, {0xF4, 0xF4, 3, 0x80, 0x8F},
};

const SequenceRule* rule_for(std::uint8_t lead) {
    for (const SequenceRule& rule : RULES) {
        if (lead >= rule.lead_low && lead <= rule.lead_high) return &rule;
    }
    return nullptr;
}

bool in_range(std::uint8_t byte, std::uint8_t low, std::uint8_t high) { return byte >= low && byte <= high; }

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        auto lead = static_cast<std::uint8_t>(bytes[at]);
        if (lead < 0x80) {
            ++at;
            continue;
        }
        const SequenceRule* rule = rule_for(lead);
        if (rule == nullptr || bytes.size() - at <= rule->trailing) return false;
        if (!in_range(static_cast<std::uint8_t>(bytes[at + 1]), rule->second_low, rule->second_high))
            return false;
        for (std::size_t k = 2; k <= rule->trailing; ++k) {
            if (!in_range(static_cast<std::uint8_t>(bytes[at + k]), 0x80, 0xBF)) return false;
        }
        at += 1 + rule->trailing;
    }
    return true;
}

}  // namespace ondrake::platform
