#include "browser-native-host/common/text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace ondrake::text {
namespace {

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
