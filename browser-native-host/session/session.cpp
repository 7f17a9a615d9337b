#include "browser-native-host/session/session.hpp"

#include "browser-native-host/checks/classification.hpp"
#include "browser-native-host/messages/framing.hpp"
#include "browser-native-host/session/replies.hpp"

#include <exception>
#include <utility>
#include <variant>

namespace ondrake::session {

namespace asio = boost::asio;
using protocol::CaptureStatus;
using protocol::Code;

namespace {

// What the handling of one message has learnt so far, kept by the caller so that a failure that
// cuts the handling short can still be answered with it.
struct Handling {
    classification::Classified classified;
    delivery::Progress progress;
};

std::string logged(const Session& session, Answer answer) {
    session.diagnostics.line(answer.line);
    return std::move(answer.reply);
}

// A simple request: delivered when there is somewhere to deliver it, logged, answered.
asio::awaitable<std::string> answer_request(const classification::ValidatedRequest& request,
                                            const Session& session, delivery::Progress& progress) {
    Code code = Code::AppUnavailable;
    if (session.endpoint) {
        code = co_await delivery::deliver(*session.endpoint, request, session.launcher, session.timings,
                                          &progress);
    }
    co_return logged(session, request_answer(request, code));
}

// A capture step: delivered when there is somewhere to deliver it, logged, answered.
asio::awaitable<std::string> answer_capture(const classification::ValidatedCapture& capture,
                                            const Session& session, delivery::Progress& progress) {
    delivery::CaptureOutcome outcome{CaptureStatus::Unknown, Code::AppUnavailable};
    if (session.endpoint) {
        outcome = co_await delivery::deliver_capture(*session.endpoint, capture, session.launcher,
                                                     session.timings, &progress);
    }
    co_return logged(session, capture_answer(capture, outcome));
}

// The encoded reply to one frame body (empty when it could not be encoded). Rejections come
// ready from classification and are not logged: the extension learns of them from the reply.
asio::awaitable<std::string> answer(std::string_view body, const Session& session, Handling& handling) {
    handling.classified = classification::classify_any(body);
    if (auto* rejection = std::get_if<classification::Reply>(&handling.classified)) {
        co_return std::move(rejection->bytes);
    }
    if (auto* request = std::get_if<classification::Request>(&handling.classified)) {
        co_return co_await answer_request(request->request, session, handling.progress);
    }
    co_return co_await answer_capture(*std::get<classification::Capture>(handling.classified).capture,
                                      session, handling.progress);
}

std::string describe(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "an exception of unknown type";
    }
}

// The answer to a message whose handling failed. The unwinding has released what the handling
// held, so there is room again for this much; if there is not, the reply is lost as one that
// could not be encoded.
std::string answer_failure(const Handling& handling, std::exception_ptr failure, const Session& session) {
    try {
        return logged(session, failure_answer(handling.classified, handling.progress.may_have_arrived,
                                              describe(failure)));
    } catch (...) {
        return {};
    }
}

void write_reply(const Session& session, std::string_view reply) {
    framing::write_encoded_reply(session.output, reply, session.diagnostics);
}

}  // namespace

asio::awaitable<void> run_session(Session session) {
    if (!session.endpoint) session.diagnostics.line("no per-user endpoint is available");

    for (;;) {
        // Everything derived from this frame lives in this iteration only, so a session holds
        // one message's worth of memory however long it runs.
        framing::FrameResult frame;
        try {
            frame = framing::read_frame(session.input);
        } catch (...) {
            // Only the body's buffer can fail to be had, and the body stays unread: the stream is
            // no longer at a frame boundary. Answered once, as after a frame error.
            session.diagnostics.line("could not read a frame (" + describe(std::current_exception()) + ")");
            write_reply(session, reply_without_id(Code::InternalError));
            co_return;
        }
        if (!frame) {
            const framing::FrameError error = frame.error();
            if (error.kind == framing::FrameError::Kind::EndOfStream) co_return;
            // The stream cannot be trusted to be at a frame boundary any more: answer once, and
            // leave the rest of it unread.
            session.diagnostics.line(framing::display_text(error));
            write_reply(session, reply_without_id(Code::InvalidMessage));
            co_return;
        }
        Handling handling;
        std::string reply;
        try {
            reply = co_await answer(*frame, session, handling);
        } catch (...) {
            reply = answer_failure(handling, std::current_exception(), session);
        }
        try {
            write_reply(session, reply);
        } catch (...) {
            // Only the report of a write that had already failed can get here; the reply's fate
            // is sealed either way.
        }
    }
}

}  // namespace ondrake::session
