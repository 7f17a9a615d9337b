// The application socket: where the desktop application listens for this user, and how one
// request frame and one reply frame travel over a connection to it. Every operation is an
// asynchronous operation of the caller's single-threaded io_context and reports failure as a
// value; the time limits around them belong to delivery.
#pragma once

#include "browser-native-host/framing.hpp"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/system/error_code.hpp>

#include <optional>
#include <string>
#include <variant>

namespace ondrake::ipc {

using Socket = boost::asio::local::stream_protocol::socket;

// HOME + "Library/Application Support/OndrakeDownload/ipc/browser.sock", joined by path rules.
// None when HOME is unset or not absolute, or when the joined path is not UTF-8. The path may be
// too long for a socket address; then every connect to it fails. Touches no file.
std::optional<std::string> user_endpoint();

// A connected socket, or the reason there is none.
using ConnectResult = std::variant<Socket, boost::system::error_code>;

// Connects a new Unix stream socket to `endpoint`. The socket is close-on-exec (a launched
// application never inherits it), non-blocking, and never raises SIGPIPE. A path that does not
// fit a socket address, or that holds a zero byte, fails before any socket is made.
boost::asio::awaitable<ConnectResult> connect(std::string endpoint);

// Writes one frame: the 4-byte little-endian length, then the body, completely. A body that is
// empty or longer than MAX_FRAME is refused (Empty, TooLarge) before anything is written; every
// write failure, a write that moves nothing included, is Io.
boost::asio::awaitable<std::optional<framing::FrameError>> write_frame(Socket& socket,
                                                                      std::string_view body);

// Reads one frame. The stream ending before the four length bytes are complete is EndOfStream,
// inside the body Truncated; a declared length of 0 is Empty and one over MAX_FRAME TooLarge,
// with no body read. Other failures are Io.
boost::asio::awaitable<framing::FrameResult> read_frame(Socket& socket);

}  // namespace ondrake::ipc
