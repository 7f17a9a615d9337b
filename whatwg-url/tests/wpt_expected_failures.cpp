#include "whatwg-url/tests/wpt_expected_failures.hpp"

#include <unicode/uchar.h>

namespace whatwg {
namespace {

// Each entry: the data file, the case's input, the first Unicode version whose IDNA mapping table
// gives the expected result, and why older data cannot. Generated from the failures seen with
// ICU 72 (Unicode 15.0) and the UTS #46 changes of Unicode 15.1 (U+1E9E), 16.0 (characters
// disallowed for IDNA2008 case-folding instability became mapped; Hangul fillers, U+17B4, the
// musical beam symbols and deprecated format controls became ignored) and 17.0 (new characters).
constexpr ExpectedFailure EXPECTED_FAILURES[] = {
    {"toascii.json", "look\u180Eout.net", {16, 0}, "U+180E is ignored from Unicode 16.0 (disallowed before)"},
    {"toascii.json", "look\u206Bout.net", {16, 0}, "U+206B is ignored from Unicode 16.0 (disallowed before)"},
    {"toascii.json", "\u04C0.com", {16, 0}, "U+04C0 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"toascii.json", "\U0002F868.com", {16, 0}, "CJK compatibility ideograph U+2F868 is mapped from Unicode 16.0 (disallowed before)"},
    {"toascii.json", "\u2183.com", {16, 0}, "U+2183 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"toascii.json", "\u1E9E.com", {15, 1}, "U+1E9E maps to U+00DF from Unicode 15.1 (to \"ss\" before)"},
    {"toascii.json", "\u1E9E.foo.com", {15, 1}, "U+1E9E maps to U+00DF from Unicode 15.1 (to \"ss\" before)"},
    {"IdnaTestV2.json", "FA\u1E9E.de", {15, 1}, "U+1E9E maps to U+00DF from Unicode 15.1 (to \"ss\" before)"},
    {"IdnaTestV2.json", "FA\u1E9E.DE", {15, 1}, "U+1E9E maps to U+00DF from Unicode 15.1 (to \"ss\" before)"},
    {"IdnaTestV2.json", "\uF951\U0002F868\U0002F874\U0002F91F\U0002F95F\U0002F9BF", {16, 0}, "CJK compatibility ideograph U+2F868 is mapped from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "=\u0338\u1899>\u0338.\u1109\u1169\u11BE-\u1874\u10A0", {16, 0}, "Georgian capital U+10A0 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u2260\u1899\u226F.\uC1A3-\u1874\u10A0", {16, 0}, "Georgian capital U+10A0 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\U0001E925\U000E016E\uFF0E\u1844\u10AE", {16, 0}, "Georgian capital U+10AE maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\U0001E925\U000E016E.\u1844\u10AE", {16, 0}, "Georgian capital U+10AE maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\U0001E903\U000E016E.\u1844\u10AE", {16, 0}, "Georgian capital U+10AE maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\U0001E903.\u1844\u10AE", {16, 0}, "Georgian capital U+10AE maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\U0001E903\U000E016E\uFF0E\u1844\u10AE", {16, 0}, "Georgian capital U+10AE maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\U0001E925.\u1844\u10AE", {16, 0}, "Georgian capital U+10AE maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u00DF\uFF61\U000102F3\u10AC\u0FB8", {16, 0}, "Georgian capital U+10AC maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u00DF\u3002\U000102F3\u10AC\u0FB8", {16, 0}, "Georgian capital U+10AC maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "SS\u3002\U000102F3\u10AC\u0FB8", {16, 0}, "Georgian capital U+10AC maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "Ss\u3002\U000102F3\u10AC\u0FB8", {16, 0}, "Georgian capital U+10AC maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "SS.\U000102F3\u10AC\u0FB8", {16, 0}, "Georgian capital U+10AC maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "Ss.\U000102F3\u10AC\u0FB8", {16, 0}, "Georgian capital U+10AC maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "SS\uFF61\U000102F3\u10AC\u0FB8", {16, 0}, "Georgian capital U+10AC maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "Ss\uFF61\U000102F3\u10AC\u0FB8", {16, 0}, "Georgian capital U+10AC maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10BA\U000102F8\U000E0104\u3002\U0001D7DD\uD7F6\u103A", {16, 0}, "Georgian capital U+10BA maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10BA\U000102F8\U000E0104\u30025\uD7F6\u103A", {16, 0}, "Georgian capital U+10BA maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10BA\U000102F8.5\uD7F6\u103A", {16, 0}, "Georgian capital U+10BA maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\uA846\u3002\u2183\u0FB5\uB1AE-", {16, 0}, "U+2183 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\uA846\u3002\u2183\u0FB5\u1102\u116A\u11C1-", {16, 0}, "U+2183 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u2132\u17D2.=\u0338", {16, 0}, "U+2132 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u2132\u17D2.\u2260", {16, 0}, "U+2132 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\uA9D0\u04C0\u1BAA\u08F6\uFF0E\uB235", {16, 0}, "U+04C0 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\uA9D0\u04C0\u1BAA\u08F6\uFF0E\u1102\u116F\u11BC", {16, 0}, "U+04C0 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\uA9D0\u04C0\u1BAA\u08F6.\uB235", {16, 0}, "U+04C0 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\uA9D0\u04C0\u1BAA\u08F6.\u1102\u116F\u11BC", {16, 0}, "U+04C0 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u3002\u3002\u10A3\u226F", {16, 0}, "Georgian capital U+10A3 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u3002\u3002\u10A3>\u0338", {16, 0}, "Georgian capital U+10A3 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u06B9\uFF0E\u1873\u115F", {16, 0}, "U+115F is ignored from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u06B9.\u1873\u115F", {16, 0}, "U+115F is ignored from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "SS\uAAF6\u18A5.\u22B6\u10C1\u10B6", {16, 0}, "Georgian capital U+10C1 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "Ss\uAAF6\u18A5.\u22B6\u10C1\u2D16", {16, 0}, "Georgian capital U+10C1 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10BA.\u03A3", {16, 0}, "Georgian capital U+10BA maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10BA.\u03C2", {16, 0}, "Georgian capital U+10BA maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10BA.\u03C3", {16, 0}, "Georgian capital U+10BA maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10A1\u755D.<\u0338", {16, 0}, "Georgian capital U+10A1 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10A1\u755D.\u226E", {16, 0}, "Georgian capital U+10A1 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\U0001F57C\uFF0E\uFFA0", {16, 0}, "U+FFA0 is ignored from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\U0001F57C.\u1160", {16, 0}, "U+1160 is ignored from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u03C2\u10C5\u3002\u075A", {16, 0}, "Georgian capital U+10C5 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u03A3\u10C5\u3002\u075A", {16, 0}, "Georgian capital U+10C5 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u03A3\u10C5.\u075A", {16, 0}, "Georgian capital U+10C5 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\U00010A57.\u10A9\u10B5", {16, 0}, "Georgian capital U+10A9 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\U00010A57.\u10A9\u2D15", {16, 0}, "Georgian capital U+10A9 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\U0003293120.\u97F3.\uA8661.", {17, 0}, "U+32931 (CJK Extension J) is assigned from Unicode 17.0"},
    {"IdnaTestV2.json", "\u10B5\u3002\u06F0\u226E\u00DF\u0745", {16, 0}, "Georgian capital U+10B5 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10B5\u3002\u06F0<\u0338\u00DF\u0745", {16, 0}, "Georgian capital U+10B5 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10B5\u3002\u06F0\u226ESS\u0745", {16, 0}, "Georgian capital U+10B5 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10B5\u3002\u06F0<\u0338SS\u0745", {16, 0}, "Georgian capital U+10B5 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10B5\u3002\u06F0\u226ESs\u0745", {16, 0}, "Georgian capital U+10B5 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10B5\u3002\u06F0<\u0338Ss\u0745", {16, 0}, "Georgian capital U+10B5 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10B5.\u06F0<\u0338SS\u0745", {16, 0}, "Georgian capital U+10B5 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10B5.\u06F0\u226ESS\u0745", {16, 0}, "Georgian capital U+10B5 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10B5.\u06F0\u226ESs\u0745", {16, 0}, "Georgian capital U+10B5 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10B5.\u06F0<\u0338Ss\u0745", {16, 0}, "Georgian capital U+10B5 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\U00032B9A9\uA369\u17D3.ss", {17, 0}, "U+32B9A (CJK Extension J) is assigned from Unicode 17.0"},
    {"IdnaTestV2.json", "\U00032B9A9\uA369\u17D3.SS", {17, 0}, "U+32B9A (CJK Extension J) is assigned from Unicode 17.0"},
    {"IdnaTestV2.json", "\u10B6\u0366.", {16, 0}, "Georgian capital U+10B6 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u08BB.\u10A3\U0001E012", {16, 0}, "Georgian capital U+10A3 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u650C\uABED.\u1896-\u10B8", {16, 0}, "Georgian capital U+10B8 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\U0001F0B4\u10AB.\u226E", {16, 0}, "Georgian capital U+10AB maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\U0001F0B4\u10AB.<\u0338", {16, 0}, "Georgian capital U+10AB maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\U0001D175\u30029\U0001E008\u4B3A1.", {16, 0}, "U+1D175 is ignored from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u17B4.\uCB87-", {16, 0}, "U+17B4 is ignored from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u17B4.\u110D\u1170\u11AE-", {16, 0}, "U+17B4 is ignored from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10C1\u10B16\u0318\u3002\u00DF\u1B03", {16, 0}, "Georgian capital U+10C1 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10C1\u10B16\u0318\u3002SS\u1B03", {16, 0}, "Georgian capital U+10C1 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10C1\u2D116\u0318\u3002Ss\u1B03", {16, 0}, "Georgian capital U+10C1 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10C1\u10B16\u0318.SS\u1B03", {16, 0}, "Georgian capital U+10C1 maps to its small letter from Unicode 16.0 (disallowed before)"},
    {"IdnaTestV2.json", "\u10C1\u2D116\u0318.Ss\u1B03", {16, 0}, "Georgian capital U+10C1 maps to its small letter from Unicode 16.0 (disallowed before)"},
};

}  // namespace

std::span<const ExpectedFailure> expected_failures() { return EXPECTED_FAILURES; }

const ExpectedFailure* find_expected_failure(std::string_view file, std::string_view input) {
    for (const ExpectedFailure& entry : EXPECTED_FAILURES) {
        if (file == entry.file && input == entry.input) return &entry;
    }
    return nullptr;
}

bool icu_unicode_at_least(UnicodeVersion version) {
    UVersionInfo info;
    u_getUnicodeVersion(info);
    if (info[0] != version.major) return info[0] > version.major;
    return info[1] >= version.minor;
}

std::string icu_unicode_version_text() {
    UVersionInfo info;
    u_getUnicodeVersion(info);
    return std::to_string(info[0]) + "." + std::to_string(info[1]);
}

}  // namespace whatwg
