// The pure pieces: UTF-8 checking, the dictionary model, frame headers, time-out conversion and
// the driver's JSON conversion.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "safari-extension/message.hpp"
#include "safari-extension/socket_exchange.hpp"
#include "safari-extension/tools/message_json.hpp"
#include "platform/utf8.hpp"

namespace ondrake::safari {
namespace {

struct Utf8Case {
    const char* name;
    std::string bytes;
    bool well_formed;
};

class Utf8 : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8, IsCheckedByTheUnicodeTable) {
    EXPECT_EQ(platform::is_valid_utf8(GetParam().bytes), GetParam().well_formed);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8,
    testing::Values(
        Utf8Case{"empty", "", true}, Utf8Case{"ascii_with_nul", std::string("a\0b", 3), true},
        Utf8Case{"two_byte_lowest", "\xC2\x80", true}, Utf8Case{"three_byte_lowest", "\xE0\xA0\x80", true},
        Utf8Case{"last_before_surrogates", "\xED\x9F\xBF", true},
        Utf8Case{"first_after_surrogates", "\xEE\x80\x80", true},
        Utf8Case{"byte_order_mark", "\xEF\xBB\xBF", true},
        Utf8Case{"four_byte_emoji", "\xF0\x9F\x98\x80", true},
        Utf8Case{"highest_code_point", "\xF4\x8F\xBF\xBF", true},
        Utf8Case{"overlong_two_byte", "\xC0\x80", false}, Utf8Case{"overlong_c1", "\xC1\xBF", false},
        Utf8Case{"overlong_three_byte", "\xE0\x9F\xBF", false},
        Utf8Case{"overlong_four_byte", "\xF0\x8F\xBF\xBF", false},
        Utf8Case{"surrogate", "\xED\xA0\x80", false}, Utf8Case{"above_max", "\xF4\x90\x80\x80", false},
        Utf8Case{"lead_f5", "\xF5\x80\x80\x80", false}, Utf8Case{"lone_continuation", "\x80", false},
        Utf8Case{"byte_ff", "a\xFF", false}, Utf8Case{"truncated_two_byte", "\xC3", false},
        Utf8Case{"truncated_four_byte", "\xF0\x9F\x98", false},
        Utf8Case{"bad_third_byte", "\xE2\x82\x41", false},
        Utf8Case{"bad_fourth_byte", "\xF0\x9F\x98\xC0", false}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(DictionaryModel, SetReplacesInPlaceAndKeepsOrder) {
    Dictionary dictionary;
    dictionary.set("b", Value("1"));
    dictionary.set("a", Value(2));
    dictionary.set("b", Value(true));
    ASSERT_EQ(dictionary.size(), 2u);
    EXPECT_EQ(dictionary.begin()->first, "b");
    EXPECT_EQ(*dictionary.find("b"), Value(true));
    EXPECT_EQ(dictionary.find("c"), nullptr);
    EXPECT_EQ(string_entry(dictionary, "b"), std::nullopt);
    EXPECT_NE(dictionary, make_dictionary({{"a", Value(2)}, {"b", Value(true)}}));
    EXPECT_EQ(dictionary, make_dictionary({{"b", Value(true)}, {"a", Value(2)}}));
}

TEST(DictionaryModel, OnlyStringsAreStrings) {
    const Value others[] = {Value(Null{}),
                            Value(false),
                            Value(0),
                            Value(Array{Value("x")}),
                            Value(make_dictionary({{"x", Value("x")}})),
                            Value(Unrepresentable{})};
    for (const Value& other : others) EXPECT_EQ(other.as_string(), nullptr);
    EXPECT_EQ(*Value("").as_string(), "");
}

struct HeaderCase {
    const char* name;
    std::uint64_t length;
    std::optional<std::string> bytes;
};

class FrameHeader : public testing::TestWithParam<HeaderCase> {};

TEST_P(FrameHeader, IsLittleEndianAndFitsThirtyTwoBits) {
    const HeaderCase& c = GetParam();
    std::optional<std::array<char, 4>> encoded = frame_header(c.length);
    ASSERT_EQ(encoded.has_value(), c.bytes.has_value());
    if (!encoded) return;
    std::string bytes(encoded->data(), encoded->size());
    EXPECT_EQ(bytes, *c.bytes);
    EXPECT_EQ(frame_length(bytes), c.length);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, FrameHeader,
    testing::Values(HeaderCase{"sixteen", 16, std::string("\x10\x00\x00\x00", 4)},
                    HeaderCase{"max_frame", 65536, std::string("\x00\x00\x01\x00", 4)},
                    HeaderCase{"past_max_frame", 65537, std::string("\x01\x00\x01\x00", 4)},
                    HeaderCase{"all_bytes_differ", 0x04030201, std::string("\x01\x02\x03\x04", 4)},
                    HeaderCase{"largest", 0xFFFFFFFF, std::string("\xFF\xFF\xFF\xFF", 4)},
                    HeaderCase{"too_large", 0x100000000, std::nullopt}),
    [](const auto& param_info) { return param_info.param.name; });

struct TimeoutCase {
    const char* name;
    std::int64_t remaining_ns;
    std::optional<std::pair<long, long>> limit;  // seconds, microseconds
};

class SocketTimeout : public testing::TestWithParam<TimeoutCase> {};

TEST_P(SocketTimeout, TruncatesAndNeverBecomesZero) {
    std::optional<timeval> limit = socket_timeout(GetParam().remaining_ns);
    ASSERT_EQ(limit.has_value(), GetParam().limit.has_value());
    if (!limit) return;
    EXPECT_EQ(static_cast<long>(limit->tv_sec), GetParam().limit->first);
    EXPECT_EQ(static_cast<long>(limit->tv_usec), GetParam().limit->second);
}

INSTANTIATE_TEST_SUITE_P(
    Remainders, SocketTimeout,
    testing::Values(TimeoutCase{"overdue", -5'000, std::nullopt}, TimeoutCase{"zero", 0, std::nullopt},
                    TimeoutCase{"one_nanosecond", 1, std::nullopt},
                    TimeoutCase{"just_under_a_microsecond", 999, std::nullopt},
                    TimeoutCase{"one_microsecond", 1'000, std::pair{0L, 1L}},
                    TimeoutCase{"truncated_microseconds", 1'999, std::pair{0L, 1L}},
                    TimeoutCase{"just_under_a_second", 999'999'999, std::pair{0L, 999'999L}},
                    TimeoutCase{"whole_budget", 2'500'000'000, std::pair{2L, 500'000L}},
                    TimeoutCase{"second_and_a_bit", 1'000'000'900, std::pair{1L, 0L}}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(MessageJson, ReadsEveryKindOfValue) {
    std::string error;
    std::optional<Value> value =
        value_from_json(R"({"payload":"p","n":-3,"u":18446744073709551615,"f":1.5,"b":false,)"
                        R"("z":null,"a":[1,"x"],"o":{"k":"v"}})",
                        error);
    ASSERT_TRUE(value) << error;
    const Dictionary* fields = value->as_dictionary();
    ASSERT_NE(fields, nullptr);
    EXPECT_EQ(*fields->find("payload"), Value("p"));
    EXPECT_EQ(*fields->find("n"), Value(-3));
    EXPECT_EQ(*fields->find("u"), Value(18446744073709551615.0));
    EXPECT_EQ(*fields->find("f"), Value(1.5));
    EXPECT_EQ(*fields->find("b"), Value(false));
    EXPECT_EQ(*fields->find("z"), Value(Null{}));
    EXPECT_EQ(*fields->find("a"), Value(Array{Value(1), Value("x")}));
    EXPECT_EQ(*fields->find("o"), Value(make_dictionary({{"k", Value("v")}})));
}

TEST(MessageJson, RefusesWhatIsNotOneDocument) {
    for (const char* text : {"", "{", "{} {}", "\"\xFF\"", "[1,]"}) {
        SCOPED_TRACE(text);
        std::string error;
        EXPECT_FALSE(value_from_json(text, error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(MessageJson, WritesCompactlyInDictionaryOrder) {
    Dictionary reply = make_dictionary({{"status", Value("unknown")},
                                        {"code", Value("APP_UNAVAILABLE")},
                                        {"requestId", Value("q\"\\\n\xC3\xA9")}});
    EXPECT_EQ(json_from_dictionary(reply),
              "{\"status\":\"unknown\",\"code\":\"APP_UNAVAILABLE\",\"requestId\":\"q\\\"\\\\\\n\xC3\xA9\"}");
}

}  // namespace
}  // namespace ondrake::safari
