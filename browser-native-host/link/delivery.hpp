// Hands one checked request to the desktop application and turns whatever happens into the
// result the browser gets: the application's own answer, or the code for a failure on the way.
// When nobody listens, the application is started once and the request is tried again on a
// fixed schedule; a request that may already have reached the application is never sent twice.
//
// Everything here runs on the caller's single-threaded io_context. The endpoint and the request
// are borrowed for the duration of the operation (co_await it directly); timings are copied.
#pragma once

#include "browser-native-host/link/ipc.hpp"
#include "browser-native-host/link/launcher_interface.hpp"
#include "browser-native-host/messages/protocol.hpp"
#include "browser-native-host/messages/validated.hpp"

#include <boost/asio/awaitable.hpp>

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <variant>
#include <vector>

namespace ondrake::delivery {

using Milliseconds = std::chrono::milliseconds;

// Per attempt: establishing the connection.
inline constexpr Milliseconds CONNECT_TIMEOUT{2'000};
// Per attempt: the whole reply frame, counted from the end of the request's write.
inline constexpr Milliseconds REPLY_TIMEOUT{20'000};
// Per attempt: writing the request. A frame is at most 64 KiB, which a live application drains
// in far less than this; only one that accepted the connection and stopped reading can take
// longer, and then the host must not hang. It matches the reply limit, the time the application
// is allowed for its answer as a whole.
inline constexpr Milliseconds WRITE_TIMEOUT{20'000};
// Waits after a successful launch, one before each further attempt; 11.7 s in all.
inline constexpr std::array<Milliseconds, 8> RETRY_DELAYS_MS{
    Milliseconds{150},  Milliseconds{250},  Milliseconds{400},  Milliseconds{700},
    Milliseconds{1200}, Milliseconds{2000}, Milliseconds{3000}, Milliseconds{4000}};

// The time limits and the retry schedule as one value; the default is the product's. Tests pass
// shorter ones.
struct DeliveryTimings {
    Milliseconds connect_timeout = CONNECT_TIMEOUT;
    Milliseconds reply_timeout = REPLY_TIMEOUT;
    Milliseconds write_timeout = WRITE_TIMEOUT;
    std::vector<Milliseconds> retry_delays{RETRY_DELAYS_MS.begin(), RETRY_DELAYS_MS.end()};
};

// How far a delivery got, kept by its caller so that it outlasts a failure that cuts the delivery
// short (an exception, running out of memory included, which deliver and deliver_capture let
// through): once the write of the request frame begins, the request may have reached the
// application, whatever happens next, and the caller must not answer as if it had not.
struct Progress {
    bool may_have_arrived = false;
};

// No connection could be made: the only outcome after which an attempt is repeated.
struct Unreachable {
    bool operator==(const Unreachable&) const = default;
};

// The result of a capture request: the capture's state and the code.
struct CaptureOutcome {
    protocol::CaptureStatus status;
    protocol::Code code;
    bool operator==(const CaptureOutcome&) const = default;
};

// One attempt (an exchange): connect, write the request frame, read the reply frame, check that
// it answers this request. When it finds nobody listening, one launch and then one attempt after
// each retry delay. APP_UNAVAILABLE (capture: status "unknown") when the launch fails or no
// attempt connects. Failures after a connection was made are DELIVERY_INDETERMINATE (capture:
// status "indeterminate"); a message that cannot be encoded, or is too long for one frame, is
// INTERNAL_ERROR (capture: status "unknown") and is never written. The message is encoded once,
// and every attempt sends the same bytes; each attempt's connection is closed before the next.
// `progress`, when given, is kept up to date.
boost::asio::awaitable<protocol::Code> deliver(const std::string& endpoint,
                                               const classification::ValidatedRequest& request,
                                               Launcher& launcher, DeliveryTimings timings = {},
                                               Progress* progress = nullptr);
boost::asio::awaitable<CaptureOutcome> deliver_capture(const std::string& endpoint,
                                                       const classification::ValidatedCapture& capture,
                                                       Launcher& launcher, DeliveryTimings timings = {},
                                                       Progress* progress = nullptr);

// The part of an exchange after the connection exists: writes `body` as one frame within the
// write limit, then reads one frame within the reply limit, counted from the end of the write.
// The reply body, or none when a step fails or runs out of time: the request may or may not
// have reached the application.
boost::asio::awaitable<std::optional<std::string>> send_and_receive(ipc::Connection& connection,
                                                                    std::string_view body,
                                                                    const DeliveryTimings& timings);

// The schedule of deliver on its own, for any kind of attempt: `attempt` runs once; only when it
// is Unreachable is `launcher` asked, once, and then `attempt` runs again after each of `delays`
// until it is not Unreachable. `unavailable` is the result when the launch fails or every
// attempt was Unreachable. Instantiated for protocol::Code and CaptureOutcome.
template <class Result>
using Attempt = std::function<boost::asio::awaitable<std::variant<Unreachable, Result>>()>;

template <class Result>
boost::asio::awaitable<Result> retry_after_launch(Attempt<Result> attempt, Launcher& launcher,
                                                  std::vector<Milliseconds> delays, Result unavailable);

}  // namespace ondrake::delivery
