#include "browser-native-host/session/replies.hpp"

#include <utility>
#include <variant>

namespace ondrake::session {

using protocol::CaptureStatus;
using protocol::Code;

namespace {

std::string request_line(std::string_view request_id, Code code) {
    std::string line = "request ";
    line.append(request_id).append(" -> ").append(protocol::value_name(code));
    return line;
}

// The capture's id and the step it was asked for, then the state the step left it in and the
// code: what a support engineer needs to follow one capture through the log.
std::string capture_line(const protocol::IpcCaptureRequest& message, CaptureStatus status, Code code) {
    std::string line = "capture ";
    line.append(message.capture_id)
        .append(" ")
        .append(protocol::value_name(message.action))
        .append(" -> ")
        .append(protocol::value_name(status))
        .append("/")
        .append(protocol::value_name(code));
    return line;
}

std::string capture_reply(const protocol::IpcCaptureRequest& message, CaptureStatus status, Code code) {
    return protocol::to_json(
        protocol::make_capture_response(message.request_id, message.capture_id, status, code));
}

}  // namespace

Answer request_answer(const classification::ValidatedRequest& request, Code code) {
    return {protocol::to_json(protocol::make_host_response(request.request_id, code)),
            request_line(request.request_id, code)};
}

Answer capture_answer(const classification::ValidatedCapture& capture, delivery::CaptureOutcome outcome) {
    return {capture_reply(capture.message, outcome.status, outcome.code),
            capture_line(capture.message, outcome.status, outcome.code)};
}

Answer failure_answer(const classification::Classified& classified, bool may_have_arrived,
                      std::string_view failure) {
    Answer answer;
    if (const auto* request = std::get_if<classification::Request>(&classified)) {
        answer = request_answer(request->request, Code::InternalError);
    } else if (const auto* accepted = std::get_if<classification::Capture>(&classified)) {
        CaptureStatus status = may_have_arrived ? CaptureStatus::Indeterminate : CaptureStatus::Unknown;
        answer = capture_answer(*accepted->capture, {status, Code::InternalError});
    } else {
        answer = {reply_without_id(Code::InternalError),
                  "message -> " + std::string(protocol::value_name(Code::InternalError))};
    }
    answer.line.append(" (").append(failure).append(")");
    return answer;
}

std::string reply_without_id(Code code) { return protocol::to_json(protocol::make_host_response("", code)); }

}  // namespace ondrake::session
