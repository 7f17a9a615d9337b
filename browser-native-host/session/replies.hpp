// What the session answers, built in one place: for each way the handling of a message can end,
// the reply the browser gets and the line the host logs. Only the rejections of classification
// come ready-made (classify_any encodes them where it decides them); every other reply of the
// session is built here. Nothing here writes: session.cpp logs the line and frames the reply.
#pragma once

#include "browser-native-host/checks/classification.hpp"
#include "browser-native-host/link/delivery.hpp"
#include "browser-native-host/messages/protocol.hpp"

#include <string>
#include <string_view>

namespace ondrake::session {

// One message's answer: the encoded reply (empty when it could not be encoded, which the reply
// writer reports) and the log line that goes with it.
struct Answer {
    std::string reply;
    std::string line;
};

// A simple request answered with `code`: by delivery, or APP_UNAVAILABLE without an endpoint.
Answer request_answer(const classification::ValidatedRequest& request, protocol::Code code);

// A capture step answered with `outcome`: by delivery, or "unknown" with APP_UNAVAILABLE
// without an endpoint.
Answer capture_answer(const classification::ValidatedCapture& capture, delivery::CaptureOutcome outcome);

// A message whose handling failed with `failure` (what was thrown, as words): INTERNAL_ERROR, in
// the form and with the ids that classification had found when it failed, the simple form
// without an id when classification got no further. A capture's state is "unknown" while
// nothing was written to the application, "indeterminate" once it `may_have_arrived`. The line
// ends with the failure in parentheses.
Answer failure_answer(const classification::Classified& classified, bool may_have_arrived,
                      std::string_view failure);

// The simple form without an id, with `code`: the reply to a frame that could not be read,
// after which the session ends (INVALID_MESSAGE for a frame error, INTERNAL_ERROR for a failure
// of the host), and to a message whose handling failed before its ids were known.
std::string reply_without_id(protocol::Code code);

}  // namespace ondrake::session
