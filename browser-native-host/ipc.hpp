// The application socket: where the desktop application listens for this user, how one request
// frame and one reply frame travel over a connection to it, and the application's replies to
// IpcRequest and IpcCaptureRequest (protocol.hpp), decoded strictly and encoded for tools that
// play the application's part. The socket operations are asynchronous operations of the
// caller's single-threaded io_context and report failure as a value; each one takes the moment
// by which it has to be over, and delivery decides what those moments are.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <boost/asio/awaitable.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/system/error_code.hpp>

#include "browser-native-host/framing.hpp"
#include "browser-native-host/protocol.hpp"

namespace ondrake::ipc {


// The application's reply to an IpcRequest. Every member required, unknown keys refused.
struct IpcResponse {
    std::uint32_t protocol_version = protocol::SIMPLE_PROTOCOL_VERSION;  // never compared
    std::string request_id;
    protocol::Code code = protocol::Code::InternalError;

    bool operator==(const IpcResponse&) const = default;
};

// The application's reply to an IpcCaptureRequest. Unknown keys refused, except inside the
// preflight, where they are skipped.
struct IpcCaptureResponse {
    std::uint32_t protocol_version = protocol::CAPTURE_PROTOCOL_VERSION;  // never compared
    std::string request_id;
    std::string capture_id;
    protocol::CaptureStatus status = protocol::CaptureStatus::Unknown;
    protocol::Code code = protocol::Code::InternalError;
    std::optional<protocol::PreflightObservation> preflight;  // null or missing: absent

    bool operator==(const IpcCaptureResponse&) const = default;
};

std::optional<IpcResponse> decode_ipc_response(std::string_view body);
std::optional<IpcCaptureResponse> decode_ipc_capture_response(std::string_view body);

// Compact JSON appended to `out` (an absent preflight is left out); false, with `out`
// unchanged, when a text is not valid UTF-8 or an enumeration value is out of range.
bool encode(const IpcResponse& message, std::string& out);
bool encode(const IpcCaptureResponse& message, std::string& out);

// ---- The socket ----------------------------------------------------------------------------


using Socket = boost::asio::local::stream_protocol::socket;

// HOME + "Library/Application Support/OndrakeDownload/ipc/browser.sock", joined by path rules.
// None when HOME is unset or not absolute, or when the joined path is not UTF-8. The path may be
// too long for a socket address; then every connect to it fails. Touches no file.
std::optional<std::string> user_endpoint();

// The longest endpoint path a Unix socket address holds, without its terminating zero: 103 bytes
// on macOS. connect refuses a longer one before making a socket.
std::size_t max_endpoint_length();

// The moment by which an operation has to be over; none lets it wait as long as it takes. Only
// waiting counts against it: an operation that can finish without waiting always does.
using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;

// A connected socket, or the reason there is none.
using ConnectResult = std::variant<Socket, boost::system::error_code>;

// Connects a new Unix stream socket to `endpoint`. The socket is close-on-exec (a launched
// application never inherits it), non-blocking, and never raises SIGPIPE. A path that does not
// fit a socket address, or that holds a zero byte, fails before any socket is made. A connection
// still pending at `deadline` fails with timed_out.
boost::asio::awaitable<ConnectResult> connect(std::string endpoint, Deadline deadline = std::nullopt);

// Writes one frame: the 4-byte little-endian length, then the body, completely. A body that is
// empty or longer than MAX_FRAME is refused (Empty, TooLarge) before anything is written; every
// write failure, a write that moves nothing and running out of time (timed_out) included, is Io.
// Leaves the socket in non-blocking mode.
boost::asio::awaitable<std::optional<framing::FrameError>> write_frame(Socket& socket,
                                                                      std::string_view body,
                                                                      Deadline deadline = std::nullopt);

// Reads one frame. The stream ending before the four length bytes are complete is EndOfStream,
// inside the body Truncated; a declared length of 0 is Empty and one over MAX_FRAME TooLarge,
// with no body read. Other failures, a frame not complete by `deadline` (timed_out) included,
// are Io. Nothing past the frame is read. Leaves the socket in non-blocking mode.
boost::asio::awaitable<framing::FrameResult> read_frame(Socket& socket, Deadline deadline = std::nullopt);

}  // namespace ondrake::ipc
