#include "browser-native-host/bin/session.hpp"

#include "browser-native-host/classification.hpp"
#include "browser-native-host/framing.hpp"
#include "browser-native-host/protocol.hpp"

#include <utility>
#include <variant>

namespace ondrake::session {

namespace asio = boost::asio;
using protocol::CaptureStatus;
using protocol::Code;

namespace {

// A simple request: delivered when there is somewhere to deliver it, logged, answered.
asio::awaitable<std::string> answer_request(const classification::ValidatedRequest& request,
                                            const Session& session) {
    Code code = Code::AppUnavailable;
    if (session.endpoint) {
        code = co_await delivery::deliver(*session.endpoint, request, session.launcher, session.timings);
    }
    std::string line = "request ";
    line.append(request.request_id).append(" -> ").append(protocol::value_name(code));
    session.diagnostics.line(line);
    co_return protocol::to_json(protocol::make_host_response(request.request_id, code));
}

// One capture step, the same way; the log line names the step and the state it left.
asio::awaitable<std::string> answer_capture(const classification::ValidatedCapture& capture,
                                            const Session& session) {
    delivery::CaptureOutcome outcome{CaptureStatus::Unknown, Code::AppUnavailable};
    if (session.endpoint) {
        outcome = co_await delivery::deliver_capture(*session.endpoint, capture, session.launcher,
                                                     session.timings);
    }
    const protocol::IpcCaptureRequest& message = capture.message;
    std::string line = "capture ";
    line.append(message.capture_id)
        .append(" ")
        .append(protocol::value_name(message.action))
        .append(" -> ")
        .append(protocol::value_name(outcome.status))
        .append("/")
        .append(protocol::value_name(outcome.code));
    session.diagnostics.line(line);
    co_return protocol::to_json(
        protocol::make_capture_response(message.request_id, message.capture_id, outcome.status, outcome.code));
}

// The encoded reply to one frame body (empty when it could not be encoded). Rejections come
// ready from classification and are not logged: the extension learns of them from the reply.
asio::awaitable<std::string> answer(std::string_view body, const Session& session) {
    classification::Classified classified = classification::classify_any(body);
    if (auto* rejection = std::get_if<classification::Reply>(&classified)) {
        co_return std::move(rejection->bytes);
    }
    if (auto* request = std::get_if<classification::Request>(&classified)) {
        co_return co_await answer_request(request->request, session);
    }
    co_return co_await answer_capture(*std::get<classification::Capture>(classified).capture, session);
}

}  // namespace

asio::awaitable<void> run_session(Session session) {
    if (!session.endpoint) session.diagnostics.line("no per-user endpoint is available");

    for (;;) {
        // Everything derived from this frame lives in this iteration only, so a session holds
        // one message's worth of memory however long it runs.
        framing::FrameResult frame = framing::read_frame(session.input);
        if (auto* error = std::get_if<framing::FrameError>(&frame)) {
            if (error->kind == framing::FrameError::Kind::EndOfStream) co_return;
            // The stream cannot be trusted to be at a frame boundary any more: answer once, and
            // leave the rest of it unread.
            session.diagnostics.line(framing::display_text(*error));
            framing::write_reply(session.output, protocol::make_host_response("", Code::InvalidMessage),
                                 session.diagnostics);
            co_return;
        }
        std::string reply = co_await answer(std::get<std::string>(frame), session);
        framing::write_encoded_reply(session.output, reply, session.diagnostics);
    }
}

}  // namespace ondrake::session
