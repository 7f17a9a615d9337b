// The checks begin_request makes before anything touches a socket, and the reply dictionaries.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "safari-extension/relay.hpp"
#include "safari-extension/standins/standins.hpp"

namespace ondrake::safari {
namespace {

// Keeps submitted work instead of running it, so a test sees what was answered synchronously.
class HeldQueue final : public WorkQueue {
public:
    void submit(std::function<void()> work) override { held.push_back(std::move(work)); }
    std::vector<std::function<void()>> held;
};

Dictionary dict(std::vector<Dictionary::Entry> entries) { return make_dictionary(std::move(entries)); }

Dictionary envelope(const char* status, const char* code,
                    std::optional<std::string> request_id = std::nullopt,
                    std::optional<std::string> capture_id = std::nullopt) {
    Dictionary reply = dict({{"status", Value(status)}, {"code", Value(code)}});
    if (request_id) reply.set("requestId", Value(*request_id));
    if (capture_id) reply.set("captureId", Value(*capture_id));
    return reply;
}

struct CheckCase {
    const char* name;
    std::optional<Value> message;
    bool has_container;
    std::optional<Dictionary> reply;  // nothing: the request goes on to the queue
};

class MessageChecks : public testing::TestWithParam<CheckCase> {};

TEST_P(MessageChecks, AnswerAtOnceOrQueueTheExchange) {
    const CheckCase& c = GetParam();
    auto context =
        c.message ? std::make_shared<RecordingContext>(*c.message) : std::make_shared<RecordingContext>();
    DirectoryLocator containers(
        std::string(APP_GROUP_ID),
        c.has_container ? std::optional<std::string>("/nonexistent-container") : std::nullopt);
    HeldQueue queue;
    begin_request(context, RelayServices{containers, queue, monotonic_clock()});

    if (c.reply) {
        EXPECT_TRUE(queue.held.empty());
        ASSERT_EQ(context->replies().size(), 1u);
        EXPECT_EQ(context->replies()[0], *c.reply);
    } else {
        EXPECT_EQ(queue.held.size(), 1u);
        EXPECT_TRUE(context->replies().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, MessageChecks,
    testing::Values(
        CheckCase{"no_message", std::nullopt, true, envelope("unknown", "INVALID_MESSAGE")},
        CheckCase{"message_is_null", Value(Null{}), true, envelope("unknown", "INVALID_MESSAGE")},
        CheckCase{"message_is_string", Value("{\"payload\":\"x\"}"), true,
                  envelope("unknown", "INVALID_MESSAGE")},
        CheckCase{"message_is_array", Value(Array{Value(dict({{"payload", Value("x")}}))}), true,
                  envelope("unknown", "INVALID_MESSAGE")},
        CheckCase{"message_not_representable", Value(Unrepresentable{}), true,
                  envelope("unknown", "INVALID_MESSAGE")},
        CheckCase{"payload_missing", Value(dict({{"requestId", Value("r1")}, {"captureId", Value("c1")}})),
                  true, envelope("unknown", "INVALID_MESSAGE", "r1", "c1")},
        CheckCase{"payload_empty", Value(dict({{"payload", Value("")}, {"requestId", Value("r1")}})), true,
                  envelope("unknown", "INVALID_MESSAGE", "r1")},
        CheckCase{"payload_number", Value(dict({{"payload", Value(7)}, {"captureId", Value("c1")}})), true,
                  envelope("unknown", "INVALID_MESSAGE", std::nullopt, "c1")},
        CheckCase{"payload_null", Value(dict({{"payload", Value(Null{})}})), true,
                  envelope("unknown", "INVALID_MESSAGE")},
        CheckCase{"payload_dictionary", Value(dict({{"payload", Value(dict({{"url", Value("u")}}))}})), true,
                  envelope("unknown", "INVALID_MESSAGE")},
        CheckCase{"payload_not_representable", Value(dict({{"payload", Value(Unrepresentable{})}})), true,
                  envelope("unknown", "INVALID_MESSAGE")},
        CheckCase{"numeric_request_id_not_echoed",
                  Value(dict({{"requestId", Value(42)}, {"captureId", Value(true)}, {"payload", Value("")}})),
                  true, envelope("unknown", "INVALID_MESSAGE")},
        CheckCase{"empty_ids_are_still_strings",
                  Value(dict({{"requestId", Value("")}, {"captureId", Value("")}})), true,
                  envelope("unknown", "INVALID_MESSAGE", "", "")},
        CheckCase{"no_container", Value(dict({{"payload", Value("{}")}, {"requestId", Value("r1")}})), false,
                  envelope("unknown", "APP_UNAVAILABLE", "r1")},
        CheckCase{"payload_checked_before_container", Value(dict({{"payload", Value("")}})), false,
                  envelope("unknown", "INVALID_MESSAGE")},
        CheckCase{"valid", Value(dict({{"payload", Value("{}")}, {"requestId", Value("r1")}})), true,
                  std::nullopt},
        CheckCase{"numeric_request_id_still_relayed",
                  Value(dict({{"payload", Value("{}")}, {"requestId", Value(42)}})), true, std::nullopt},
        CheckCase{"white_space_payload_is_not_empty", Value(dict({{"payload", Value(" ")}})), true,
                  std::nullopt}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(MessageChecks, AsksForTheApplicationGroupContainer) {
    auto context = std::make_shared<RecordingContext>(Value(dict({{"payload", Value("{}")}})));
    DirectoryLocator other_group("group.com.example.other", "/nonexistent-container");
    HeldQueue queue;
    begin_request(context, RelayServices{other_group, queue, monotonic_clock()});
    EXPECT_TRUE(queue.held.empty());
    ASSERT_EQ(context->replies().size(), 1u);
    EXPECT_EQ(context->replies()[0], envelope("unknown", "APP_UNAVAILABLE"));
}

struct ReplyCase {
    const char* name;
    Exchange outcome;
    Correlation correlation;
    Dictionary reply;
};

class Replies : public testing::TestWithParam<ReplyCase> {};

TEST_P(Replies, FollowTheOutcome) {
    EXPECT_EQ(reply_for(GetParam().outcome, GetParam().correlation), GetParam().reply);
}

const std::string REPLY_TEXT = " {\"protocolVersion\":1,\n\t\"code\":\"ACCEPTED\"} \xE2\x9C\x93\n";

INSTANTIATE_TEST_SUITE_P(
    Outcomes, Replies,
    testing::Values(ReplyCase{"replied_text_exactly_without_ids", Replied{REPLY_TEXT},
                              Correlation{"r1", "c1"}, dict({{"payload", Value(REPLY_TEXT)}})},
                    ReplyCase{"replied_with_nul_byte", Replied{std::string("a\0b", 3)}, Correlation{},
                              dict({{"payload", Value(std::string("a\0b", 3))}})},
                    ReplyCase{"replied_not_utf8", Replied{"{\"x\":\"\xC3\x28\"}"}, Correlation{"r1", "c1"},
                              envelope("indeterminate", "INTERNAL_ERROR", "r1", "c1")},
                    ReplyCase{"unavailable", Unavailable{}, Correlation{"r1", std::nullopt},
                              envelope("unknown", "APP_UNAVAILABLE", "r1")},
                    ReplyCase{"indeterminate_delivery", Indeterminate{Code::DeliveryIndeterminate},
                              Correlation{std::nullopt, "c1"},
                              envelope("indeterminate", "DELIVERY_INDETERMINATE", std::nullopt, "c1")},
                    ReplyCase{"indeterminate_internal", Indeterminate{Code::InternalError}, Correlation{},
                              envelope("indeterminate", "INTERNAL_ERROR")}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(Envelope, KeysComeInAFixedOrder) {
    Dictionary reply = Correlation{"r1", "c1"}.envelope(Status::Unknown, Code::AppUnavailable);
    std::vector<std::string> keys;
    for (const auto& entry : reply) keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"status", "code", "requestId", "captureId"}));
}

TEST(SocketPath, JoinsTheContainerByOneSeparator) {
    EXPECT_EQ(append_path_component("/c", SOCKET_SUBPATH), "/c/ipc/browser.sock");
    EXPECT_EQ(append_path_component("/c/", SOCKET_SUBPATH), "/c/ipc/browser.sock");
    EXPECT_EQ(append_path_component("/", SOCKET_SUBPATH), "/ipc/browser.sock");
}

}  // namespace
}  // namespace ondrake::safari
