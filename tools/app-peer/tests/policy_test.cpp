#include "tools/app-peer/policy.hpp"

#include "browser-native-host/messages/protocol.hpp"

#include <gtest/gtest.h>

namespace ondrake::app_peer {
namespace {

using protocol::CaptureAction;
using protocol::CaptureStatus;
using protocol::Code;

struct PolicyCase {
    const char* text;
    std::optional<Behaviour> behaviour;  // none: refused
};

TEST(ParsePolicy, ReadsEveryBehaviourAndRefusesTheRest) {
    const PolicyCase cases[] = {
        {"accept", Behaviour::Accept},
        {"silent", Behaviour::Silent},
        {"no-read", Behaviour::NoRead},
        {"close-before-read", Behaviour::CloseBeforeRead},
        {"close-mid-reply", Behaviour::CloseMidReply},
        {"wrong-request-id", Behaviour::WrongRequestId},
        {"wrong-capture-id", Behaviour::WrongCaptureId},
        {"extra-key", Behaviour::ExtraKey},
        {"code:APP_REJECTED", Behaviour::FixedCode},
        {"code:CAPTURE_CONFLICT/aborted", Behaviour::FixedCode},
        {"length:0", Behaviour::BadLength},
        {"length:4294967295", Behaviour::BadLength},
        {"Accept", std::nullopt},
        {"code:accepted", std::nullopt},
        {"code:APP_REJECTED/", std::nullopt},
        {"code:APP_REJECTED/Prepared", std::nullopt},
        {"length:", std::nullopt},
        {"length:-1", std::nullopt},
        {"length:12x", std::nullopt},
        {"length:4294967296", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto policy = parse_policy(c.text);
        ASSERT_EQ(policy.has_value(), c.behaviour.has_value());
        if (!policy) continue;
        EXPECT_EQ(policy->behaviour, *c.behaviour);
        // The name written to the log reads back as the same policy.
        auto again = parse_policy(policy_name(*policy));
        ASSERT_TRUE(again.has_value()) << policy_name(*policy);
        EXPECT_EQ(again->behaviour, policy->behaviour);
        EXPECT_EQ(again->code, policy->code);
        EXPECT_EQ(again->status, policy->status);
        EXPECT_EQ(again->declared_length, policy->declared_length);
    }
    EXPECT_EQ(parse_policy("code:CAPTURE_CONFLICT/aborted")->status, CaptureStatus::Aborted);
    EXPECT_EQ(parse_policy("code:CAPTURE_CONFLICT")->status, CaptureStatus::Unknown);
    EXPECT_EQ(parse_policy("length:65537")->declared_length, 65537u);
}

protocol::IpcCaptureRequest capture(CaptureAction action, const std::string& capture_id) {
    protocol::IpcCaptureRequest request;
    request.request_id = "r";
    request.capture_id = capture_id;
    request.action = action;
    request.browser = "chrome";
    return request;
}

TEST(CaptureBook, FollowsEachCaptureThroughItsSteps) {
    struct Step {
        CaptureAction action;
        const char* capture_id;
        CaptureStatus status;
        Code code;
    };
    const Step steps[] = {
        {CaptureAction::CaptureStatus, "a", CaptureStatus::Unknown, Code::CaptureUnknown},
        {CaptureAction::CaptureRevokeCredentials, "a", CaptureStatus::Unknown, Code::Accepted},
        {CaptureAction::CapturePrepare, "a", CaptureStatus::Prepared, Code::CapturePrepared},
        {CaptureAction::CaptureStatus, "a", CaptureStatus::Prepared, Code::Accepted},
        {CaptureAction::CaptureStatus, "b", CaptureStatus::Unknown, Code::CaptureUnknown},
        {CaptureAction::CaptureCommit, "a", CaptureStatus::Committed, Code::Accepted},
        {CaptureAction::CaptureRevokeCredentials, "a", CaptureStatus::Committed, Code::Accepted},
        {CaptureAction::CapturePreflight, "a", CaptureStatus::Unknown, Code::Accepted},
        {CaptureAction::CaptureAbort, "b", CaptureStatus::Aborted, Code::CaptureAborted},
        {CaptureAction::CaptureStatus, "b", CaptureStatus::Aborted, Code::Accepted},
        {CaptureAction::CaptureStatus, "a", CaptureStatus::Committed, Code::Accepted},
    };
    CaptureBook book;
    int index = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(index++);
        auto answer = book.natural_answer(capture(step.action, step.capture_id));
        EXPECT_EQ(answer.status, step.status);
        EXPECT_EQ(answer.code, step.code);
    }
}

TEST(Replies, SimpleRequestsPerPolicy) {
    protocol::IpcRequest request{1, "r-1", "https://example.test/"};
    EXPECT_EQ(reply_to_request(*parse_policy("accept"), request),
              R"({"protocolVersion":1,"requestId":"r-1","code":"ACCEPTED"})");
    EXPECT_EQ(reply_to_request(*parse_policy("code:APP_REJECTED"), request),
              R"({"protocolVersion":1,"requestId":"r-1","code":"APP_REJECTED"})");
    EXPECT_EQ(reply_to_request(*parse_policy("wrong-request-id"), request),
              R"({"protocolVersion":1,"requestId":"r-1-other","code":"ACCEPTED"})");
    EXPECT_EQ(reply_to_request(*parse_policy("silent"), request), std::nullopt);
    auto extra = reply_to_request(*parse_policy("extra-key"), request);
    ASSERT_TRUE(extra.has_value());
    EXPECT_FALSE(ipc::decode_ipc_response(*extra).has_value());
    EXPECT_TRUE(ipc::decode_ipc_response(*reply_to_request(*parse_policy("accept"), request)).has_value());
}

TEST(Replies, CapturesPerPolicy) {
    CaptureBook book;
    auto prepare = capture(CaptureAction::CapturePrepare, "c-1");
    EXPECT_EQ(
        reply_to_capture(*parse_policy("accept"), prepare, book),
        R"({"protocolVersion":4,"requestId":"r","captureId":"c-1","status":"prepared","code":"CAPTURE_PREPARED"})");
    EXPECT_EQ(
        reply_to_capture(*parse_policy("code:CAPTURE_CONFLICT/aborted"), prepare, book),
        R"({"protocolVersion":4,"requestId":"r","captureId":"c-1","status":"aborted","code":"CAPTURE_CONFLICT"})");
    EXPECT_EQ(
        reply_to_capture(*parse_policy("wrong-capture-id"), prepare, book),
        R"({"protocolVersion":4,"requestId":"r","captureId":"c-1-other","status":"prepared","code":"CAPTURE_PREPARED"})");
    EXPECT_EQ(reply_to_capture(*parse_policy("no-read"), prepare, book), std::nullopt);
    auto extra = reply_to_capture(*parse_policy("extra-key"), prepare, book);
    ASSERT_TRUE(extra.has_value());
    EXPECT_FALSE(ipc::decode_ipc_capture_response(*extra).has_value());
}

TEST(Replies, InvalidBodiesGetInvalidMessageWithWhateverIdsTheyHave) {
    EXPECT_EQ(reply_to_invalid("hello"), R"({"protocolVersion":1,"requestId":"","code":"INVALID_MESSAGE"})");
    EXPECT_EQ(reply_to_invalid(R"({"requestId":"r-9","url":7})"),
              R"({"protocolVersion":1,"requestId":"r-9","code":"INVALID_MESSAGE"})");
    EXPECT_EQ(
        reply_to_invalid(R"({"requestId":"r-9","captureId":"c-9"})"),
        R"({"protocolVersion":4,"requestId":"r-9","captureId":"c-9","status":"unknown","code":"INVALID_MESSAGE"})");
}

}  // namespace
}  // namespace ondrake::app_peer
