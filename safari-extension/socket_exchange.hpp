// One request frame out and one reply frame back over the desktop application's Unix-domain
// socket, all of it inside one time budget. Frames are a 4-byte little-endian body length
// followed by the body, in both directions.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/time.h>
#include <variant>

#include "safari-extension/environment.hpp"

namespace ondrake::safari {

// Everything from the first system call to the last byte of the reply fits in this budget.
inline constexpr std::chrono::nanoseconds EXCHANGE_BUDGET = std::chrono::milliseconds(2500);
// The largest reply body accepted; the application's frames never exceed it.
inline constexpr std::uint32_t MAX_FRAME = 65536;
// The longest socket path, in bytes without the terminating NUL, that the handler connects to.
// It is what macOS's 104-byte sun_path can hold, and the handler keeps it on every system so
// that a container path behaves the same wherever the code runs.
inline constexpr std::size_t MAX_SOCKET_PATH = 103;

// The result codes the handler answers its own failures with.
enum class Code { InvalidMessage, AppUnavailable, DeliveryIndeterminate, InternalError };

std::string_view code_text(Code code);

// The application answered; the body is exactly what it sent.
struct Replied {
    std::string body;
};
// The request did not reach the application.
struct Unavailable {
    Code code = Code::AppUnavailable;
};
// The request may have reached the application, but no usable answer came back.
struct Indeterminate {
    Code code = Code::DeliveryIndeterminate;
};

using Exchange = std::variant<Replied, Unavailable, Indeterminate>;

// The end of an exchange's budget on the monotonic clock it was measured on.
class ExchangeDeadline {
public:
    // Reads the clock once; the budget runs from this moment.
    ExchangeDeadline(Clock clock, std::chrono::nanoseconds budget);

    // What is left of the budget as a socket time-out, or nothing once less than a microsecond
    // is left (see socket_timeout).
    std::optional<timeval> remaining_timeout() const;

private:
    Clock clock_;
    std::int64_t end_ns_;
};

// `remaining_ns` as a socket time-out, truncated to whole microseconds so that it never exceeds
// what is left. Nothing when less than one microsecond remains: a time-out of zero would tell
// the socket layer to wait without limit, so such a remainder counts as spent.
std::optional<timeval> socket_timeout(std::int64_t remaining_ns);

// The 4-byte header announcing a body of `length` bytes, or nothing when the length does not fit
// the header's 32 bits (a truncated length would frame the body wrongly).
std::optional<std::array<char, 4>> frame_header(std::size_t length);

// The body length a 4-byte header announces.
std::uint32_t frame_length(std::string_view header);

// Writes `bytes` on `fd`, continuing after short writes and interrupted calls, and before each
// call puts what is left of the budget into the socket's send and receive time-outs. Returns how
// many bytes went out; fewer than asked means a time-out, an error or a vanished peer.
std::size_t send_within_budget(int fd, std::string_view bytes, const ExchangeDeadline& deadline);

// Reads exactly `count` bytes from `fd` under the same rules as send_within_budget. Nothing on
// time-out, error or end of stream.
std::optional<std::string> receive_within_budget(int fd, std::size_t count, const ExchangeDeadline& deadline);

// Connects to `socket_path`, sends `payload` as one frame and reads one reply frame. The clock is
// read before anything else, so the budget covers every step.
Exchange exchange(const std::string& socket_path, std::string_view payload, const Clock& clock,
                  std::chrono::nanoseconds budget = EXCHANGE_BUDGET);

}  // namespace ondrake::safari
