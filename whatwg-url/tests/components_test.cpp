// The building blocks of the parser: UTF-8 replacement, percent-encoding, IPv4 and IPv6.
#include "whatwg-url/ip_address.hpp"
#include "whatwg-url/percent_encode.hpp"
#include "whatwg-url/unicode.hpp"

#include <gtest/gtest.h>

#include <string>

namespace whatwg {
namespace {

struct ReplacementCase {
    const char* name;
    std::string bytes;
    std::string expected;
};

class Utf8Replacement : public testing::TestWithParam<ReplacementCase> {};

TEST_P(Utf8Replacement, ReplacesMaximalSubparts) {
    std::string out;
    unicode::append_with_replacement(out, GetParam().bytes);
    EXPECT_EQ(out, GetParam().expected);
}

const std::string R = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(Forms, Utf8Replacement,
                         testing::Values(ReplacementCase{"ascii", "abc", "abc"},
                                         ReplacementCase{"four_byte", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
                                         ReplacementCase{"max", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
                                         ReplacementCase{"above_max", "\xF4\x90\x80\x80", R + R + R + R},
                                         ReplacementCase{"truncated_four",
                                                         "\xF0\x9F\x98"
                                                         "a",
                                                         R + "a"},
                                         ReplacementCase{"overlong_two", "\xC1\xBF", R + R},
                                         ReplacementCase{"overlong_three", "\xE0\x80\xAF", R + R + R},
                                         ReplacementCase{"surrogate", "\xED\xBF\xBF", R + R + R},
                                         ReplacementCase{"lead_then_lead", "\xE2\xE2\x82\xAC",
                                                         R + "\xE2\x82\xAC"},
                                         ReplacementCase{"at_end", "a\xC3", "a" + R},
                                         ReplacementCase{"f5_never_leads", "\xF5\x80", R + R}),
                         [](const auto& param_info) { return param_info.param.name; });

TEST(PercentEncode, EachSetEncodesItsOwnMembers) {
    const std::string printable = " !\"#$%&'()*+,-./09:;<=>?@AZ[\\]^_`az{|}~";
    struct SetCase {
        const EncodeSet* set;
        const char* expected;
    };
    const SetCase cases[] = {
        {&C0_CONTROL_PERCENT_ENCODE_SET, " !\"#$%&'()*+,-./09:;<=>?@AZ[\\]^_`az{|}~"},
        {&FRAGMENT_PERCENT_ENCODE_SET, "%20!%22#$%&'()*+,-./09:;%3C=%3E?@AZ[\\]^_%60az{|}~"},
        {&QUERY_PERCENT_ENCODE_SET, "%20!%22%23$%&'()*+,-./09:;%3C=%3E?@AZ[\\]^_`az{|}~"},
        {&SPECIAL_QUERY_PERCENT_ENCODE_SET, "%20!%22%23$%&%27()*+,-./09:;%3C=%3E?@AZ[\\]^_`az{|}~"},
        {&PATH_PERCENT_ENCODE_SET, "%20!%22%23$%&'()*+,-./09:;%3C=%3E%3F@AZ[\\]%5E_%60az%7B|%7D~"},
        {&USERINFO_PERCENT_ENCODE_SET,
         "%20!%22%23$%&'()*+,-.%2F09%3A%3B%3C%3D%3E%3F%40AZ%5B%5C%5D%5E_%60az%7B%7C%7D~"},
        {&COMPONENT_PERCENT_ENCODE_SET,
         "%20!%22%23%24%25%26'()*%2B%2C-.%2F09%3A%3B%3C%3D%3E%3F%40AZ%5B%5C%5D%5E_%60az%7B%7C%7D~"},
    };
    for (const SetCase& test : cases) {
        std::string out;
        percent_encode_append(out, printable, *test.set);
        EXPECT_EQ(out, test.expected);
    }
    std::string controls;
    percent_encode_append(controls, std::string("\x00\x1F\x7F\xC3\xBC", 5), C0_CONTROL_PERCENT_ENCODE_SET);
    EXPECT_EQ(controls, "%00%1F%7F%C3%BC");
}

TEST(PercentDecode, DecodesOnlyCompleteEscapes) {
    struct DecodeCase {
        const char* input;
        std::string expected;
    };
    const DecodeCase cases[] = {
        {"a%41b", "aAb"},
        {"%", "%"},
        {"%4", "%4"},
        {"%4g", "%4g"},
        {"%%41", "%A"},
        {"%c3%BC", "\xC3\xBC"},
        {"%00", std::string(1, '\0')},
        {"100%", "100%"},
    };
    for (const DecodeCase& test : cases) {
        std::string out;
        percent_decode_append(out, test.input);
        EXPECT_EQ(out, test.expected) << test.input;
    }
}

TEST(Ipv6, SerialisationCompressesTheFirstLongestZeroRun) {
    struct Ipv6Case {
        const char* input;
        const char* serialized;
    };
    const Ipv6Case cases[] = {
        {"0:0:0:0:0:0:0:0", "::"},
        {"0:0:0:0:0:0:0:1", "::1"},
        {"1:0:0:0:0:0:0:0", "1::"},
        {"1:0:1:0:1:0:1:0", "1:0:1:0:1:0:1:0"},
        {"0:0:1:0:0:0:1:0", "0:0:1::1:0"},
        {"1:0:0:2:0:0:3:4", "1::2:0:0:3:4"},
        {"ABCD:EF01:2345:6789:ABCD:EF01:2345:6789", "abcd:ef01:2345:6789:abcd:ef01:2345:6789"},
        {"::ffff:192.168.0.1", "::ffff:c0a8:1"},
        {"0001:0002::0003", "1:2::3"},
    };
    for (const Ipv6Case& test : cases) {
        auto address = parse_ipv6(test.input);
        ASSERT_TRUE(address.has_value()) << test.input;
        std::string out;
        serialize_ipv6(*address, out);
        EXPECT_EQ(out, test.serialized) << test.input;
    }
}

TEST(Ipv6, RejectsMalformedAddresses) {
    for (const char* input : {"", ":", ":1", "1:", "1::2::3", "1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7",
                              "12345::", "::1.2.3", "::1.2.3.4.5", "::01.2.3.4", "::256.0.0.1",
                              "1:2:3:4:5:6:7:1.2.3.4", "::1.2.3.4x", "g::", "::%31"}) {
        EXPECT_FALSE(parse_ipv6(input).has_value()) << input;
    }
}

TEST(Ipv4, EndsInANumber) {
    EXPECT_TRUE(ends_in_a_number("1"));
    EXPECT_TRUE(ends_in_a_number("a.1."));
    EXPECT_TRUE(ends_in_a_number("a.0x"));
    EXPECT_TRUE(ends_in_a_number("a.0xAb"));
    EXPECT_TRUE(ends_in_a_number("a.09"));  // all digits, even if not valid octal
    EXPECT_FALSE(ends_in_a_number("1.a"));
    EXPECT_FALSE(ends_in_a_number("a.0xg"));
    EXPECT_FALSE(ends_in_a_number(""));
    EXPECT_FALSE(ends_in_a_number("."));
    EXPECT_FALSE(ends_in_a_number("1.."));
}

}  // namespace
}  // namespace whatwg
