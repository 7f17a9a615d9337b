// The application socket: where the desktop application listens for this user, and how one
// request frame and one reply frame travel over a connection to it. The socket operations are
// asynchronous operations of the caller's single-threaded io_context and report failure as a
// value; each one takes the moment by which it has to be over, and delivery decides what those
// moments are.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/system/error_code.hpp>
#include <boost/system/result.hpp>

#include "browser-native-host/messages/framing.hpp"

namespace ondrake::ipc {

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

// One connection between the host and the application, owned: destroying it closes it. Frames
// travel over it by system calls that never block. Only an operation that has to wait hands the
// descriptor to the io_context, which keeps it from then on: registering it there and taking it
// out again adds several system calls to an exchange that, with an application answering at
// once, may never have to wait.
class Connection {
public:
    // Takes over `fd`, an open stream socket, for use on `executor`'s io_context.
    Connection(boost::asio::any_io_executor executor, int fd) noexcept;
    // Takes over a socket the io_context already has, such as one an acceptor made.
    explicit Connection(Socket socket) noexcept;
    Connection(Connection&& other) noexcept;
    Connection& operator=(Connection&& other) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    int native_handle() const { return fd_; }
    bool is_open() const { return fd_ >= 0; }
    void close();

    // Waits until the connection is ready for `direction`, or until `deadline` (timed_out). The
    // caller's cancellation ends the wait with operation_aborted.
    [[nodiscard]] boost::asio::awaitable<boost::system::error_code> wait(Socket::wait_type direction,
                                                                         Deadline deadline = std::nullopt);

    // The connection as an Asio socket, for what this module does not offer; it hands the
    // descriptor to the io_context if that has not happened yet, and reports why when that
    // fails. The socket belongs to the connection and goes with it.
    [[nodiscard]] boost::system::result<Socket*> socket();

private:
    [[nodiscard]] boost::system::error_code hand_to_io_context();

    boost::asio::any_io_executor executor_;
    int fd_ = -1;
    std::optional<Socket> socket_;  // once the io_context has the descriptor
};

// A connection, or the reason there is none.
using ConnectResult = boost::system::result<Connection>;

// Connects a new Unix stream socket to `endpoint`. The socket is close-on-exec (a launched
// application never inherits it), non-blocking, and never raises SIGPIPE. A path that does not
// fit a socket address, or that holds a zero byte, fails before any socket is made. A connection
// still pending at `deadline` fails with timed_out.
[[nodiscard]] boost::asio::awaitable<ConnectResult> connect(std::string endpoint,
                                                            Deadline deadline = std::nullopt);

// Writes one frame: the 4-byte little-endian length, then the body, completely. A body that is
// empty or longer than MAX_FRAME is refused (Empty, TooLarge) before anything is written; every
// write failure, a write that moves nothing and running out of time (timed_out) included, is Io.
[[nodiscard]] boost::asio::awaitable<framing::FrameStatus> write_frame(Connection& connection,
                                                                       std::string_view body,
                                                                       Deadline deadline = std::nullopt);

// Reads one frame. The stream ending before the four length bytes are complete is EndOfStream,
// inside the body Truncated; a declared length of 0 is Empty and one over MAX_FRAME TooLarge,
// with no body read. Other failures, a frame not complete by `deadline` (timed_out) included,
// are Io. Nothing past the frame is read.
[[nodiscard]] boost::asio::awaitable<framing::FrameResult> read_frame(Connection& connection,
                                                                      Deadline deadline = std::nullopt);

}  // namespace ondrake::ipc
