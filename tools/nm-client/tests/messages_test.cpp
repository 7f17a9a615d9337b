#include "tools/nm-client/messages.hpp"

#include <gtest/gtest.h>

namespace ondrake::nm_client {
namespace {

struct MessagesCase {
    const char* name;
    std::string text;
    std::vector<std::string> messages;
};

class ReadMessages : public testing::TestWithParam<MessagesCase> {};

TEST_P(ReadMessages, OneMessagePerLineByteForByte) {
    EXPECT_EQ(read_messages(GetParam().text), GetParam().messages);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadMessages,
    testing::Values(MessagesCase{"empty", "", {}},
                    MessagesCase{"last_line_without_line_feed", "{}\n[1]", {"{}", "[1]"}},
                    MessagesCase{"blank_and_comment_lines_skipped", "\n  \n\t\r\n# note\n{}\n\n", {"{}"}},
                    MessagesCase{"indented_hash_is_a_message", " # not a comment\n", {" # not a comment"}},
                    MessagesCase{"carriage_return_kept", "{}\r\nhello \r\n", {"{}\r", "hello \r"}},
                    MessagesCase{"surrounding_blanks_kept", "  {\"a\":1}\t\n", {"  {\"a\":1}\t"}},
                    MessagesCase{"any_bytes", std::string("\xff\x00x\n", 4), {std::string("\xff\x00x", 3)}}),
    [](const auto& param_info) { return param_info.param.name; });

struct ReplyCase {
    const char* name;
    std::string body;
    ReplyKind kind;
};

class CheckReply : public testing::TestWithParam<ReplyCase> {};

TEST_P(CheckReply, KindOfBody) { EXPECT_EQ(check_reply(GetParam().body), GetParam().kind); }

INSTANTIATE_TEST_SUITE_P(
    Bodies, CheckReply,
    testing::Values(
        ReplyCase{"host_response",
                  R"({"protocolVersion":1,"requestId":"r-1","status":"accepted","code":"ACCEPTED"})",
                  ReplyKind::HostResponse},
        ReplyCase{
            "host_response_with_blanks",
            "{ \"protocolVersion\": 1,\n \"requestId\": \"\", \"status\": \"rejected\", \"code\": \"INVALID_MESSAGE\" }",
            ReplyKind::HostResponse},
        ReplyCase{
            "capture_response",
            R"({"protocolVersion":4,"requestId":"r-2","captureId":"c-2","status":"unknown","code":"APP_UNAVAILABLE"})",
            ReplyKind::CaptureResponse},
        ReplyCase{"unknown_code",
                  R"({"protocolVersion":1,"requestId":"r-1","status":"accepted","code":"FINE"})",
                  ReplyKind::NotAReply},
        ReplyCase{"extra_key",
                  R"({"protocolVersion":1,"requestId":"r-1","status":"accepted","code":"ACCEPTED","x":1})",
                  ReplyKind::NotAReply},
        ReplyCase{"other_object", R"({"a":1})", ReplyKind::NotAReply},
        ReplyCase{"json_text", R"("ACCEPTED")", ReplyKind::NotAReply},
        ReplyCase{"not_json", "hello", ReplyKind::NotJson},
        ReplyCase{"cut_short", R"({"protocolVersion":1,"requestId")", ReplyKind::NotJson},
        ReplyCase{"two_documents", "{}{}", ReplyKind::NotJson}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(ReplyLine, KeptAsItCameUnlessItSpansLines) {
    EXPECT_EQ(reply_line(R"({ "a" : "\u00e9" })"), R"({ "a" : "\u00e9" })");
    EXPECT_EQ(reply_line("{\n  \"a\": 1,\r\n  \"b\": [true]\n}"), R"({"a":1,"b":[true]})");
}

TEST(Excerpt, ShowsEveryByteReadably) {
    EXPECT_EQ(excerpt("hello"), "hello");
    EXPECT_EQ(excerpt(std::string("a\0\n\\\xff", 5)), "a\\x00\\x0a\\x5c\\xff");
    EXPECT_EQ(excerpt("abcdef", 4), "abcd...");
    EXPECT_EQ(excerpt("abcd", 4), "abcd");
}

}  // namespace
}  // namespace ondrake::nm_client
