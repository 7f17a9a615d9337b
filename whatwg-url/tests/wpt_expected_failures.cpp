#include "whatwg-url/tests/wpt_expected_failures.hpp"

#include <unicode/uchar.h>

namespace whatwg {
namespace {

constexpr ExpectedFailure EXPECTED_FAILURES[] = {
    {"toascii.json", "placeholder", {16, 0}, "placeholder"},
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
