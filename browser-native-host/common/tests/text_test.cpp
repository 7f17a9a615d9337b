#include "browser-native-host/common/text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace ondrake::text {
namespace {

struct Utf8Case {
    const char* name;
    std::string bytes;
    bool valid;
};

class Utf8Validity : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Validity, MatchesRfc3629) { EXPECT_EQ(is_valid_utf8(GetParam().bytes), GetParam().valid); }

INSTANTIATE_TEST_SUITE_P(Forms, Utf8Validity,
                         testing::Values(Utf8Case{"empty", "", true}, Utf8Case{"ascii", "plain", true},
                                         Utf8Case{"two_byte", "caf\xC3\xA9", true},
                                         Utf8Case{"four_byte", "\xF0\x9F\x98\x80", true},
                                         Utf8Case{"max_code_point", "\xF4\x8F\xBF\xBF", true},
                                         Utf8Case{"above_max", "\xF4\x90\x80\x80", false},
                                         Utf8Case{"overlong_slash", "\xC0\xAF", false},
                                         Utf8Case{"overlong_three", "\xE0\x80\xAF", false},
                                         Utf8Case{"surrogate", "\xED\xA0\x80", false},
                                         Utf8Case{"lone_continuation", "\x80", false},
                                         Utf8Case{"cut_short", "\xE2\x82", false},
                                         Utf8Case{"latin1", "caf\xE9", false},
                                         Utf8Case{"nul_is_valid", std::string("a\0b", 3), true}),
                         [](const auto& param_info) { return param_info.param.name; });

struct TrimCase {
    const char* name;
    std::string input;
    std::string expected;
};

class WhiteSpaceTrim : public testing::TestWithParam<TrimCase> {};

TEST_P(WhiteSpaceTrim, RemovesUnicodeWhiteSpaceAtBothEnds) {
    EXPECT_EQ(trim_white_space(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, WhiteSpaceTrim,
    testing::Values(TrimCase{"nothing", "a b", "a b"}, TrimCase{"ascii", " \t\r\na b\n ", "a b"},
                    TrimCase{"all_blank", " \n\t", ""},
                    TrimCase{"nbsp_and_ideographic", "\xC2\xA0x\xE3\x80\x80", "x"},
                    TrimCase{"line_separator", "\xE2\x80\xA8/p\xE2\x80\xA9", "/p"},
                    TrimCase{"next_line", "\xC2\x85y\xC2\x85", "y"},
                    TrimCase{"zero_width_space_is_not_white", "\xE2\x80\x8Bz", "\xE2\x80\x8Bz"},
                    TrimCase{"inner_kept",
                             "\xE2\x80\x83"
                             "a\xE2\x80\x83"
                             "b\xE2\x80\x83",
                             "a\xE2\x80\x83"
                             "b"}),
    [](const auto& param_info) { return param_info.param.name; });

}  // namespace
}  // namespace ondrake::text
