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

void reach(const Session& session, Stage stage) {
    if (session.stage_hook) session.stage_hook(stage);
}

// How far the delivery of one request got: once its write has begun, the request may have
// reached the application, whatever happens next.
class Progress final : public delivery::Observer {
public:
    explicit Progress(const Session& session) : session_(session) {}

    void reached(delivery::Milestone milestone) override {
        // The stage first: a failure played as the write is about to begin has written nothing.
        reach(session_, stage_of(milestone));
        if (milestone == delivery::Milestone::Writing) may_have_arrived = true;
    }

    bool may_have_arrived = false;

private:
    static Stage stage_of(delivery::Milestone milestone) {
        switch (milestone) {
            case delivery::Milestone::Connected: return Stage::Connected;
            case delivery::Milestone::Writing: return Stage::Writing;
            case delivery::Milestone::Replied: return Stage::Replied;
        }
        return Stage::Replied;
    }

    const Session& session_;
};

std::string logged(const Session& session, Answer answer) {
    session.diagnostics.line(answer.line);
    return std::move(answer.reply);
}

// A simple request: delivered when there is somewhere to deliver it, logged, answered.
asio::awaitable<std::string> answer_request(const classification::ValidatedRequest& request,
                                            const Session& session, Progress& progress) {
    Code code = Code::AppUnavailable;
    if (session.endpoint) {
        code = co_await delivery::deliver(*session.endpoint, request, session.launcher, session.timings,
                                          &progress);
    }
    reach(session, Stage::Answering);
    co_return logged(session, request_answer(request, code));
}

// One capture step, the same way.
asio::awaitable<std::string> answer_capture(const classification::ValidatedCapture& capture,
                                            const Session& session, Progress& progress) {
    delivery::CaptureOutcome outcome{CaptureStatus::Unknown, Code::AppUnavailable};
    if (session.endpoint) {
        outcome = co_await delivery::deliver_capture(*session.endpoint, capture, session.launcher,
                                                     session.timings, &progress);
    }
    reach(session, Stage::Answering);
    co_return logged(session, capture_answer(capture, outcome));
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
std::string answer_failure(const classification::Classified& classified, bool may_have_arrived,
                           std::exception_ptr failure, const Session& session) {
    try {
        return logged(session, failure_answer(classified, may_have_arrived, describe(failure)));
    } catch (...) {
        return {};
    }
}

// The encoded reply to one frame body (empty when it could not be encoded). Rejections come
// ready from classification and are not logged: the extension learns of them from the reply.
// `classified` and `progress` belong to the caller, so that they outlive a failure.
asio::awaitable<std::string> answer(std::string_view body, const Session& session,
                                    classification::Classified& classified, Progress& progress) {
    reach(session, Stage::Checking);
    classified = classification::classify_any(body);
    if (auto* rejection = std::get_if<classification::Reply>(&classified)) {
        co_return std::move(rejection->bytes);
    }
    reach(session, Stage::Delivering);
    if (auto* request = std::get_if<classification::Request>(&classified)) {
        co_return co_await answer_request(request->request, session, progress);
    }
    co_return co_await answer_capture(*std::get<classification::Capture>(classified).capture, session,
                                      progress);
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
            framing::write_encoded_reply(session.output, reply_without_id(Code::InternalError),
                                         session.diagnostics);
            co_return;
        }
        if (!frame) {
            const framing::FrameError error = frame.error();
            if (error.kind == framing::FrameError::Kind::EndOfStream) co_return;
            // The stream cannot be trusted to be at a frame boundary any more: answer once, and
            // leave the rest of it unread.
            session.diagnostics.line(framing::display_text(error));
            framing::write_encoded_reply(session.output, reply_without_id(Code::InvalidMessage),
                                         session.diagnostics);
            co_return;
        }
        classification::Classified classified;
        Progress progress(session);
        std::string reply;
        try {
            reply = co_await answer(*frame, session, classified, progress);
        } catch (...) {
            reply = answer_failure(classified, progress.may_have_arrived, std::current_exception(), session);
        }
        try {
            framing::write_encoded_reply(session.output, reply, session.diagnostics);
        } catch (...) {
            // Only the report of a write that had already failed can get here; the reply's fate
            // is sealed either way.
        }
    }
}

}  // namespace ondrake::session
