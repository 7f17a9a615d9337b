// The web-platform-tests cases that the installed ICU cannot pass because its Unicode data is older
// than the data the cases were generated from, each with the Unicode version that fixes it.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace whatwg {

struct UnicodeVersion {
    int major;
    int minor;
};

struct ExpectedFailure {
    const char* file;
    std::string_view input;
    UnicodeVersion fixed_in;  // the case passes with ICU data of this Unicode version or newer
    const char* reason;
};

std::span<const ExpectedFailure> expected_failures();

// The entry for `input` of `file`, or nullptr.
const ExpectedFailure* find_expected_failure(std::string_view file, std::string_view input);

// True when the linked ICU carries Unicode data of `version` or newer.
bool icu_unicode_at_least(UnicodeVersion version);

// The linked ICU's Unicode version, e.g. "15.0".
std::string icu_unicode_version_text();

}  // namespace whatwg
