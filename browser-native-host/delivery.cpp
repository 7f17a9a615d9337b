#include "browser-native-host/delivery.hpp"

#include "browser-native-host/ipc.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

namespace ondrake::delivery {

namespace asio = boost::asio;
using protocol::Code;
using protocol::CaptureStatus;

namespace {

// Carries an operation's result through operator||, which would otherwise merge a result that is
// itself a std::variant into its own.
template <class T>
struct Finished {
    T value;
};

template <class T>
asio::awaitable<Finished<T>> finish(asio::awaitable<T> operation) {
    // Not Finished<T>{co_await ...}: g++ 12 destroys a result awaited inside a braced
    // initialiser twice, which closes a connected socket under its new owner.
    T value = co_await std::move(operation);
    co_return Finished<T>{std::move(value)};
}

// `operation`'s result, or none when `limit` passes first; the operation is then cancelled, and
// has ended, before this returns.
template <class T>
asio::awaitable<std::optional<T>> within(Milliseconds limit, asio::awaitable<T> operation) {
    using namespace asio::experimental::awaitable_operators;
    asio::steady_timer timer(co_await asio::this_coro::executor, limit);
    auto first = co_await (finish(std::move(operation)) || timer.async_wait(asio::as_tuple(asio::use_awaitable)));
    if (auto* finished = std::get_if<0>(&first)) co_return std::move(finished->value);
    co_return std::nullopt;
}

// How far one request frame got: no connection, a failure after connecting (the code for it),
// or the application's reply body.
using Transfer = std::variant<Unreachable, Code, std::string>;

// Connects, then sends and receives. The message is encoded by the caller before the connect,
// but a failed encoding (no `body`) counts only once a connection exists: an unreachable
// application stays Unreachable.
asio::awaitable<Transfer> transfer(const std::string& endpoint, std::optional<std::string> body,
                                   const DeliveryTimings& timings) {
    auto connected = co_await within(timings.connect_timeout, ipc::connect(endpoint));
    ipc::Socket* socket = connected ? std::get_if<ipc::Socket>(&*connected) : nullptr;
    if (socket == nullptr) co_return Unreachable{};

    if (!body) co_return Code::InternalError;
    auto reply = co_await send_and_receive(*socket, *body, timings);
    if (!reply) co_return Code::DeliveryIndeterminate;
    co_return std::move(*reply);
}  // the socket closes here, whatever happened

template <class Message>
std::optional<std::string> encoded(const Message& message) {
    std::string body;
    body.reserve(128);
    if (!protocol::encode(message, body)) return std::nullopt;
    return body;
}

protocol::IpcRequest ipc_request(const classification::ValidatedRequest& request) {
    return {protocol::SIMPLE_PROTOCOL_VERSION, request.request_id, request.url};
}

protocol::IpcCaptureRequest ipc_capture_request(const classification::ValidatedCapture& capture) {
    return {protocol::CAPTURE_PROTOCOL_VERSION,
            capture.request_id,
            capture.capture_id,
            capture.action,
            capture.browser,
            capture.browser_download_id,
            capture.url,
            capture.observed,
            capture.cookies,
            capture.download_name,
            capture.initiator_origin,
            capture.revalidate_response};
}

// What delivery answers itself for a failure code: the capture state that goes with it.
CaptureOutcome capture_failure(Code code) {
    return {code == Code::DeliveryIndeterminate ? CaptureStatus::Indeterminate : CaptureStatus::Unknown, code};
}

}  // namespace

asio::awaitable<std::optional<std::string>> send_and_receive(ipc::Socket& socket, std::string_view body,
                                                            const DeliveryTimings& timings) {
    auto write_failure = co_await within(timings.write_timeout, ipc::write_frame(socket, body));
    bool written = write_failure && !*write_failure;  // in time, and no FrameError
    if (!written) co_return std::nullopt;

    auto reply = co_await within(timings.reply_timeout, ipc::read_frame(socket));
    std::string* reply_body = reply ? std::get_if<std::string>(&*reply) : nullptr;
    if (reply_body == nullptr) co_return std::nullopt;
    co_return std::move(*reply_body);
}

asio::awaitable<ExchangeResult> exchange(const std::string& endpoint,
                                         const classification::ValidatedRequest& request,
                                         DeliveryTimings timings) {
    Transfer transferred = co_await transfer(endpoint, encoded(ipc_request(request)), timings);
    if (std::holds_alternative<Unreachable>(transferred)) co_return Unreachable{};
    if (auto* failure = std::get_if<Code>(&transferred)) co_return *failure;

    auto reply = ipc::decode_ipc_response(std::get<std::string>(transferred));
    if (!reply || reply->request_id != request.request_id) co_return Code::DeliveryIndeterminate;
    co_return reply->code;
}

asio::awaitable<CaptureExchangeResult> exchange_capture(const std::string& endpoint,
                                                        const classification::ValidatedCapture& capture,
                                                        DeliveryTimings timings) {
    Transfer transferred = co_await transfer(endpoint, encoded(ipc_capture_request(capture)), timings);
    if (std::holds_alternative<Unreachable>(transferred)) co_return Unreachable{};
    if (auto* failure = std::get_if<Code>(&transferred)) co_return capture_failure(*failure);

    auto reply = ipc::decode_ipc_capture_response(std::get<std::string>(transferred));
    if (!reply || reply->request_id != capture.request_id || reply->capture_id != capture.capture_id) {
        co_return capture_failure(Code::DeliveryIndeterminate);
    }
    co_return CaptureOutcome{reply->status, reply->code};
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
                              Launcher& launcher, DeliveryTimings timings) {
    Attempt<Code> attempt = [&]() { return exchange(endpoint, request, timings); };
    co_return co_await retry_after_launch(std::move(attempt), launcher, timings.retry_delays,
                                          Code::AppUnavailable);
}

asio::awaitable<CaptureOutcome> deliver_capture(const std::string& endpoint,
                                                const classification::ValidatedCapture& capture,
                                                Launcher& launcher, DeliveryTimings timings) {
    Attempt<CaptureOutcome> attempt = [&]() { return exchange_capture(endpoint, capture, timings); };
    co_return co_await retry_after_launch(std::move(attempt), launcher, timings.retry_delays,
                                          capture_failure(Code::AppUnavailable));
}

}  // namespace ondrake::delivery
