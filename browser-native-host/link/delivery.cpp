#include "browser-native-host/link/delivery.hpp"

#include "browser-native-host/link/ipc.hpp"
#include "browser-native-host/messages/frame_limit.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

namespace ondrake::delivery {

namespace asio = boost::asio;
using protocol::CaptureStatus;
using protocol::Code;

namespace {

// The deadline of a step that may take `limit` and starts now. Each step gets its own, taken when
// it starts, so that a slow step before it does not shorten its time.
ipc::Deadline after(Milliseconds limit) { return ipc::Clock::now() + limit; }

// How far one request frame got: no connection, a failure after connecting (the code for it),
// or the application's reply body.
using Transfer = std::variant<Unreachable, Code, std::string>;

// Connects, then sends and receives. The message is encoded by the caller before the connect,
// but a body that cannot be sent (one that failed to encode is empty) counts only once a
// connection exists: an unreachable application stays Unreachable.
asio::awaitable<Transfer> transfer(const std::string& endpoint, std::string_view body,
                                   const DeliveryTimings& timings, Progress* progress) {
    ipc::ConnectResult connected = co_await ipc::connect(endpoint, after(timings.connect_timeout));
    if (!connected) co_return Unreachable{};

    // The accepted message can be longer than the browser's (null members, a percent-encoded
    // URL); a frame that is never written cannot have reached the application.
    if (!framing::fits_one_frame(body.size())) co_return Code::InternalError;
    if (progress != nullptr) progress->may_have_arrived = true;
    auto reply = co_await send_and_receive(*connected, body, timings);
    if (!reply) co_return Code::DeliveryIndeterminate;
    co_return std::move(*reply);
}  // the connection closes here, whatever happened

// The body of the request frame: empty when the message cannot be encoded. A request is encoded
// once and the same bytes serve every attempt.
std::string encoded(const classification::ValidatedRequest& request) {
    return protocol::to_json(
        protocol::IpcRequest{protocol::SIMPLE_PROTOCOL_VERSION, request.request_id, request.url});
}
std::string encoded(const classification::ValidatedCapture& capture) {
    return protocol::to_json(capture.message);
}

// What delivery answers itself for a failure code: the capture state that goes with it.
CaptureOutcome capture_failure(Code code) {
    return {code == Code::DeliveryIndeterminate ? CaptureStatus::Indeterminate : CaptureStatus::Unknown,
            code};
}

// One attempt with an encoded simple request (`body`) whose id is `request_id`.
asio::awaitable<std::variant<Unreachable, Code>> attempt_request(const std::string& endpoint,
                                                                 std::string_view body,
                                                                 const std::string& request_id,
                                                                 const DeliveryTimings& timings,
                                                                 Progress* progress) {
    Transfer transferred = co_await transfer(endpoint, body, timings, progress);
    if (std::holds_alternative<Unreachable>(transferred)) co_return Unreachable{};
    if (auto* failure = std::get_if<Code>(&transferred)) co_return *failure;

    auto reply = ipc::decode_ipc_response(std::get<std::string>(transferred));
    if (!reply || reply->request_id != request_id) co_return Code::DeliveryIndeterminate;
    co_return reply->code;
}

// One attempt with an encoded capture (`body`) of `message`.
asio::awaitable<std::variant<Unreachable, CaptureOutcome>> attempt_capture(
    const std::string& endpoint, std::string_view body, const protocol::IpcCaptureRequest& message,
    const DeliveryTimings& timings, Progress* progress) {
    Transfer transferred = co_await transfer(endpoint, body, timings, progress);
    if (std::holds_alternative<Unreachable>(transferred)) co_return Unreachable{};
    if (auto* failure = std::get_if<Code>(&transferred)) co_return capture_failure(*failure);

    auto reply = ipc::decode_ipc_capture_response(std::get<std::string>(transferred));
    if (!reply || reply->request_id != message.request_id || reply->capture_id != message.capture_id) {
        co_return capture_failure(Code::DeliveryIndeterminate);
    }
    co_return CaptureOutcome{reply->status, reply->code};
}

}  // namespace

asio::awaitable<std::optional<std::string>> send_and_receive(ipc::Connection& connection,
                                                             std::string_view body,
                                                             const DeliveryTimings& timings) {
    if (!co_await ipc::write_frame(connection, body, after(timings.write_timeout))) co_return std::nullopt;
    // The application's time for its answer starts once it has the whole request.
    framing::FrameResult reply = co_await ipc::read_frame(connection, after(timings.reply_timeout));
    if (!reply) co_return std::nullopt;
    co_return std::move(*reply);
}

template <class Result>
asio::awaitable<Result> retry_after_launch(Attempt<Result> attempt, Launcher& launcher,
                                           std::vector<Milliseconds> delays, Result unavailable) {
    auto first = co_await attempt();
    if (auto* result = std::get_if<Result>(&first)) co_return *result;

    if (!launcher.launch()) co_return unavailable;
    asio::steady_timer timer(co_await asio::this_coro::executor);
    for (Milliseconds delay : delays) {
        timer.expires_after(delay);
        auto [cancelled] = co_await timer.async_wait(asio::as_tuple(asio::use_awaitable));
        if (cancelled) co_return unavailable;  // the caller gave up on this request
        auto retried = co_await attempt();
        if (auto* result = std::get_if<Result>(&retried)) co_return *result;
    }
    co_return unavailable;
}

template asio::awaitable<Code> retry_after_launch(Attempt<Code>, Launcher&, std::vector<Milliseconds>, Code);
template asio::awaitable<CaptureOutcome> retry_after_launch(Attempt<CaptureOutcome>, Launcher&,
                                                            std::vector<Milliseconds>, CaptureOutcome);

asio::awaitable<Code> deliver(const std::string& endpoint, const classification::ValidatedRequest& request,
                              Launcher& launcher, DeliveryTimings timings, Progress* progress) {
    const std::string body = encoded(request);
    Attempt<Code> attempt = [&]() {
        return attempt_request(endpoint, body, request.request_id, timings, progress);
    };
    co_return co_await retry_after_launch(std::move(attempt), launcher, timings.retry_delays,
                                          Code::AppUnavailable);
}

asio::awaitable<CaptureOutcome> deliver_capture(const std::string& endpoint,
                                                const classification::ValidatedCapture& capture,
                                                Launcher& launcher, DeliveryTimings timings,
                                                Progress* progress) {
    const std::string body = encoded(capture);
    Attempt<CaptureOutcome> attempt = [&]() {
        return attempt_capture(endpoint, body, capture.message, timings, progress);
    };
    co_return co_await retry_after_launch(std::move(attempt), launcher, timings.retry_delays,
                                          capture_failure(Code::AppUnavailable));
}

}  // namespace ondrake::delivery
