// The answer to a message whose handling failed, for each point classification can have reached:
// the reply's form and ids, the capture's state, and the log line.
#include "browser-native-host/session/replies.hpp"

#include "browser-native-host/tests/support/session_messages.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace ondrake::session {
namespace {

using namespace test;

classification::Classified request_r1() { return classification::Request{{"r-1", "https://example.test/"}}; }

classification::Classified prepare_c1() {
    auto capture = std::make_unique<classification::ValidatedCapture>();
    capture->message.request_id = "r-1";
    capture->message.capture_id = "c-1";
    capture->message.action = protocol::CaptureAction::CapturePrepare;
    return classification::Capture{std::move(capture)};
}

struct FailureAnswerCase {
    const char* name;
    std::function<classification::Classified()> classified;
    bool may_have_arrived;
    std::string reply;
    std::string line;
};

void PrintTo(const FailureAnswerCase& c, std::ostream* out) { *out << c.name; }

class FailureAnswer : public testing::TestWithParam<FailureAnswerCase> {};

TEST_P(FailureAnswer, CarriesWhatClassificationFound) {
    const FailureAnswerCase& c = GetParam();
    Answer answer = failure_answer(c.classified(), c.may_have_arrived, "std::bad_alloc");
    EXPECT_EQ(answer.reply, c.reply);
    EXPECT_EQ(answer.line, c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Points, FailureAnswer,
    testing::Values(
        FailureAnswerCase{"before_classification_found_anything", [] { return classification::Classified{}; },
                          false, host_reply("", "indeterminate", "INTERNAL_ERROR"),
                          "message -> InternalError (std::bad_alloc)"},
        FailureAnswerCase{"simple_request", request_r1, true,
                          host_reply("r-1", "indeterminate", "INTERNAL_ERROR"),
                          "request r-1 -> InternalError (std::bad_alloc)"},
        FailureAnswerCase{"capture_not_written", prepare_c1, false,
                          capture_reply("c-1", "unknown", "INTERNAL_ERROR"),
                          "capture c-1 CapturePrepare -> Unknown/InternalError (std::bad_alloc)"},
        FailureAnswerCase{"capture_written", prepare_c1, true,
                          capture_reply("c-1", "indeterminate", "INTERNAL_ERROR"),
                          "capture c-1 CapturePrepare -> Indeterminate/InternalError (std::bad_alloc)"}),
    [](const auto& param_info) { return param_info.param.name; });

}  // namespace
}  // namespace ondrake::session
