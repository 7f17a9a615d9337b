#include "browser-native-host/ipc.hpp"

#include "browser-native-host/json_codec.hpp"
#include "browser-native-host/protocol_tables.hpp"
#include "browser-native-host/text.hpp"
#include "browser-native-host/user_dirs.hpp"
#include "platform/platform.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace ondrake::ipc {

namespace {

using json_codec::AbsentMembers;
using json_codec::Field;
using json_codec::UnknownKeys;

constexpr Field IPC_RESPONSE_FIELDS[] = {
    json_codec::required<&IpcResponse::protocol_version>("protocolVersion"),
    json_codec::required<&IpcResponse::request_id>("requestId"),
    json_codec::required<&IpcResponse::code>("code"),
};
constexpr auto IPC_RESPONSE =
    json_codec::table<IpcResponse>(IPC_RESPONSE_FIELDS, UnknownKeys::Reject, AbsentMembers::Omit);

constexpr Field IPC_CAPTURE_RESPONSE_FIELDS[] = {
    json_codec::required<&IpcCaptureResponse::protocol_version>("protocolVersion"),
    json_codec::required<&IpcCaptureResponse::request_id>("requestId"),
    json_codec::required<&IpcCaptureResponse::capture_id>("captureId"),
    json_codec::required<&IpcCaptureResponse::status>("status"),
    json_codec::required<&IpcCaptureResponse::code>("code"),
    json_codec::optional<&IpcCaptureResponse::preflight, protocol::tables::PREFLIGHT>("preflight"),
};
constexpr auto IPC_CAPTURE_RESPONSE =
    json_codec::table<IpcCaptureResponse>(IPC_CAPTURE_RESPONSE_FIELDS,
                                          UnknownKeys::Reject, AbsentMembers::Omit);

}  // namespace

std::optional<IpcResponse> decode_ipc_response(std::string_view body) {
    return json_codec::decode(IPC_RESPONSE, body);
}

std::optional<IpcCaptureResponse> decode_ipc_capture_response(std::string_view body) {
    return json_codec::decode(IPC_CAPTURE_RESPONSE, body);
}

bool encode(const IpcResponse& message, std::string& out) {
    return json_codec::encode(IPC_RESPONSE, message, out);
}

bool encode(const IpcCaptureResponse& message, std::string& out) {
    return json_codec::encode(IPC_CAPTURE_RESPONSE, message, out);
}

// ---- The socket ----------------------------------------------------------------------------


namespace asio = boost::asio;
using boost::system::error_code;
using framing::FrameError;

namespace {

// The longest path a socket address holds, without the terminating zero (103 bytes on macOS).
constexpr std::size_t MAX_SOCKET_PATH = sizeof(sockaddr_un{}.sun_path) - 1;

}  // namespace

std::size_t max_endpoint_length() { return MAX_SOCKET_PATH; }

std::optional<std::string> user_endpoint() {
    auto state_dir = user_dirs::user_state_dir();
    if (!state_dir) return std::nullopt;
    std::string path = (*state_dir / "ipc" / "browser.sock").string();
    if (!text::is_valid_utf8(path)) return std::nullopt;
    return path;
}

namespace {

// Waits until `socket` is ready for `direction`, or until `deadline` has passed (timed_out).
// The operations below make their system call first and come here only when it would block: a
// Unix socket connects at once, and a reply is often in the socket before it is read, and then
// no timer is armed and nothing goes through the io_context's queue, which costs more per
// message than the system calls themselves.
asio::awaitable<error_code> wait_ready(Socket& socket, Socket::wait_type direction, Deadline deadline) {
    if (!deadline) {
        auto [error] = co_await socket.async_wait(direction, asio::as_tuple(asio::use_awaitable));
        co_return error;
    }
    using namespace asio::experimental::awaitable_operators;
    // Whichever finishes first cancels the other, and both have ended before the race returns.
    asio::steady_timer timer(co_await asio::this_coro::executor, *deadline);
    auto first = co_await (socket.async_wait(direction, asio::as_tuple(asio::use_awaitable)) ||
                           timer.async_wait(asio::as_tuple(asio::use_awaitable)));
    if (first.index() == 1) co_return asio::error::timed_out;
    co_return std::get<0>(std::get<0>(first));
}

// Asio keeps its own note of the mode: until told, it turns a synchronous call that would block
// into a blocking wait, which would stall everything else on the io_context.
error_code make_non_blocking(Socket& socket) {
    error_code error;
    if (!socket.non_blocking()) socket.non_blocking(true, error);
    return error;
}

// Fills `buffer`: what the socket holds now, then whatever arrives before `deadline`. eof when
// the stream ends first.
asio::awaitable<error_code> read_exactly(Socket& socket, asio::mutable_buffer buffer, Deadline deadline) {
    while (buffer.size() > 0) {
        error_code error;
        buffer += socket.read_some(buffer, error);
        if (error == asio::error::would_block) error = co_await wait_ready(socket, Socket::wait_read, deadline);
        if (error && error != asio::error::interrupted) co_return error;
    }
    co_return error_code{};
}

// Writes all of `parts` in order, waiting for room in the socket buffer until `deadline`.
asio::awaitable<error_code> write_all(Socket& socket, std::array<asio::const_buffer, 2> parts,
                                      Deadline deadline) {
    while (asio::buffer_size(parts) > 0) {
        error_code error;
        std::size_t written = socket.write_some(parts, error);
        if (!error && written == 0) co_return make_error_code(std::errc::io_error);  // a write that moves nothing
        for (auto& part : parts) {
            std::size_t used = std::min(written, part.size());
            part += used;
            written -= used;
        }
        if (error == asio::error::would_block) error = co_await wait_ready(socket, Socket::wait_write, deadline);
        if (error && error != asio::error::interrupted) co_return error;
    }
    co_return error_code{};
}

// The outcome of a connect that did not finish at once, now that the socket is writable.
error_code pending_connect_result(Socket& socket) {
    int pending_error = 0;
    socklen_t size = sizeof pending_error;
    if (::getsockopt(socket.native_handle(), SOL_SOCKET, SO_ERROR, &pending_error, &size) != 0) {
        return error_code(errno, boost::system::system_category());
    }
    if (pending_error != 0) return error_code(pending_error, boost::system::system_category());
    // Writable and without an error may still be unconnected; only asking for the peer tells.
    error_code error;
    socket.remote_endpoint(error);
    return error;
}

}  // namespace

asio::awaitable<ConnectResult> connect(std::string endpoint, Deadline deadline) {
    if (endpoint.size() > MAX_SOCKET_PATH) co_return make_error_code(asio::error::name_too_long);
    // A zero byte would make the system see another, shorter path (or, on Linux, an abstract
    // socket name).
    if (endpoint.find('\0') != std::string::npos) co_return make_error_code(asio::error::invalid_argument);

    int fd = platform::open_unix_stream_socket(true);
    if (fd < 0) co_return error_code(errno, boost::system::system_category());
    Socket socket(co_await asio::this_coro::executor);
    error_code error;
    socket.assign(asio::local::stream_protocol(), fd, error);
    if (error) {
        ::close(fd);
        co_return error;
    }
    if ((error = make_non_blocking(socket))) co_return error;

    // Not socket.connect(), which would wait without a limit for a connection that is pending.
    asio::local::stream_protocol::endpoint address(endpoint);
    if (::connect(fd, address.data(), static_cast<socklen_t>(address.size())) == 0) co_return std::move(socket);
    int failure = errno;
    // Anything else, Linux's EAGAIN for a listener whose backlog is full included, leaves the
    // socket unconnected with nothing pending.
    if (failure != EINPROGRESS && failure != EINTR) co_return error_code(failure, boost::system::system_category());
    if ((error = co_await wait_ready(socket, Socket::wait_write, deadline))) co_return error;
    if ((error = pending_connect_result(socket))) co_return error;
    co_return std::move(socket);
}

asio::awaitable<std::optional<FrameError>> write_frame(Socket& socket, std::string_view body, Deadline deadline) {
    if (auto refused = framing::check_body_size(body.size())) co_return refused;
    if (auto error = make_non_blocking(socket)) co_return FrameError::io(error);
    std::array<char, 4> prefix = framing::encode_length(static_cast<std::uint32_t>(body.size()));
    // One gathered write: the application sees the prefix and the body together when they fit
    // the socket buffer.
    auto error = co_await write_all(socket, {asio::buffer(prefix), asio::buffer(body.data(), body.size())}, deadline);
    if (error) co_return FrameError::io(error);
    co_return std::nullopt;
}

asio::awaitable<framing::FrameResult> read_frame(Socket& socket, Deadline deadline) {
    if (auto error = make_non_blocking(socket)) co_return FrameError::io(error);
    // Two reads, never one larger one: the bytes after this frame belong to whoever reads next.
    std::array<char, 4> prefix{};
    auto prefix_error = co_await read_exactly(socket, asio::buffer(prefix), deadline);
    if (prefix_error == asio::error::eof) co_return FrameError::end_of_stream();
    if (prefix_error) co_return FrameError::io(prefix_error);

    std::uint32_t length = framing::decode_length(prefix);
    if (auto refused = framing::check_declared_length(length)) co_return *refused;

    std::string body(length, '\0');
    auto body_error = co_await read_exactly(socket, asio::buffer(body), deadline);
    if (body_error == asio::error::eof) co_return FrameError::truncated();
    if (body_error) co_return FrameError::io(body_error);
    co_return body;
}

}  // namespace ondrake::ipc
