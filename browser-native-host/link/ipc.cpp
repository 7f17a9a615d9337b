#include "browser-native-host/link/ipc.hpp"

#include "platform/utf8.hpp"
#include "browser-native-host/common/user_dirs.hpp"
#include "platform/platform.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <utility>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

namespace ondrake::ipc {

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
    if (!platform::is_valid_utf8(path)) return std::nullopt;
    return path;
}

Connection::Connection(asio::any_io_executor executor, int fd) noexcept
    : executor_(std::move(executor)), fd_(fd) {}

Connection::Connection(Socket socket) noexcept
    : executor_(socket.get_executor()), fd_(socket.native_handle()), socket_(std::move(socket)) {}

Connection::Connection(Connection&& other) noexcept
    : executor_(std::move(other.executor_)),
      fd_(std::exchange(other.fd_, -1)),
      socket_(std::move(other.socket_)) {
    other.socket_.reset();
}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        close();
        executor_ = std::move(other.executor_);
        fd_ = std::exchange(other.fd_, -1);
        socket_ = std::move(other.socket_);
        other.socket_.reset();
    }
    return *this;
}

Connection::~Connection() { close(); }

void Connection::close() {
    if (socket_) {
        error_code ignored;
        socket_->close(ignored);  // the descriptor is the socket's now
        socket_.reset();
    } else if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
}

error_code Connection::hand_to_io_context() {
    if (socket_) return {};
    if (fd_ < 0) return asio::error::bad_descriptor;
    error_code error;
    socket_.emplace(executor_);
    socket_->assign(asio::local::stream_protocol(), fd_, error);
    if (error) socket_.reset();  // the descriptor stays ours, to close
    return error;
}

boost::system::result<Socket*> Connection::socket() {
    if (auto error = hand_to_io_context()) return error;
    return &*socket_;
}

asio::awaitable<error_code> Connection::wait(Socket::wait_type direction, Deadline deadline) {
    if (auto error = hand_to_io_context()) co_return error;
    if (!deadline) {
        auto [error] = co_await socket_->async_wait(direction, asio::as_tuple(asio::use_awaitable));
        co_return error;
    }
    // The timer cancels the wait when it expires. Its handler can still be queued when the wait
    // has finished and this frame is gone (both completing in the same turn of the io_context),
    // so what it touches is shared with it rather than borrowed from here, and the slot, whose
    // handler refers to the socket, is emptied before the socket can go.
    struct Expiry {
        asio::cancellation_signal signal;
        bool expired = false;
    };
    auto expiry = std::make_shared<Expiry>();
    asio::steady_timer timer(executor_, *deadline);
    timer.async_wait([expiry](error_code error) {
        if (error) return;  // cancelled: the wait finished first
        expiry->expired = true;
        expiry->signal.emit(asio::cancellation_type::terminal);
    });
    // The caller's own cancellation still reaches the wait, through the same signal.
    asio::cancellation_state caller = co_await asio::this_coro::cancellation_state;
    if (caller.slot().is_connected()) {
        caller.slot().assign([expiry](asio::cancellation_type type) { expiry->signal.emit(type); });
    }
    auto [error] = co_await socket_->async_wait(
        direction, asio::bind_cancellation_slot(expiry->signal.slot(), asio::as_tuple(asio::use_awaitable)));
    expiry->signal.slot().clear();
    if (caller.slot().is_connected()) caller.slot().clear();
    if (expiry->expired) co_return asio::error::timed_out;
    co_return error;
}  // the timer is cancelled here if it is still pending

namespace {

error_code last_error() { return error_code(errno, boost::system::system_category()); }

// Every operation below first moves what the connection takes or holds right now, and waits
// only when that is not enough: a request always fits the socket buffer and a reply is often
// there before it is read, and then neither a timer nor the io_context is needed at all.

// Receives into `rest` what the connection holds, never waiting (whatever the descriptor's mode),
// and moves `rest` past it: none once `rest` is full, would_block when more has to arrive first,
// eof when the stream ends.
error_code receive_now(const Connection& connection, asio::mutable_buffer& rest) {
    while (rest.size() > 0) {
        ssize_t received = ::recv(connection.native_handle(), rest.data(), rest.size(), MSG_DONTWAIT);
        if (received == 0) return asio::error::eof;
        if (received < 0 && errno == EINTR) continue;
        if (received < 0) return last_error();
        rest += static_cast<std::size_t>(received);
    }
    return {};
}

// Sends `rest` in one gathered send after another, never waiting and never raising SIGPIPE, and
// moves `rest` past what went: none once all of it went, would_block when the socket buffer is
// full, io_error for a send that moves nothing.
error_code send_now(const Connection& connection, std::array<asio::const_buffer, 2>& rest) {
    while (asio::buffer_size(rest) > 0) {
        std::array<iovec, 2> vectors{};
        for (std::size_t i = 0; i < rest.size(); ++i) {
            vectors[i].iov_base = const_cast<void*>(rest[i].data());
            vectors[i].iov_len = rest[i].size();
        }
        msghdr message{};
        message.msg_iov = vectors.data();
        message.msg_iovlen = static_cast<decltype(message.msg_iovlen)>(vectors.size());
        ssize_t sent =
            ::sendmsg(connection.native_handle(), &message, MSG_DONTWAIT | platform::send_no_signal_flag());
        if (sent == 0) return make_error_code(std::errc::io_error);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0) return last_error();
        auto moved = static_cast<std::size_t>(sent);
        for (auto& part : rest) {
            std::size_t used = std::min(moved, part.size());
            part += used;
            moved -= used;
        }
    }
    return {};
}

// Fills `rest`: what the connection holds now, then whatever arrives before `deadline`. eof when
// the stream ends first.
asio::awaitable<error_code> read_exactly(Connection& connection, asio::mutable_buffer rest,
                                         Deadline deadline) {
    error_code error;
    while ((error = receive_now(connection, rest)) == asio::error::would_block) {
        if ((error = co_await connection.wait(Socket::wait_read, deadline))) break;
    }
    co_return error;
}

// Sends all of `rest`, waiting for room in the socket buffer until `deadline`.
asio::awaitable<error_code> write_all(Connection& connection, std::array<asio::const_buffer, 2> rest,
                                      Deadline deadline) {
    error_code error;
    while ((error = send_now(connection, rest)) == asio::error::would_block) {
        if ((error = co_await connection.wait(Socket::wait_write, deadline))) break;
    }
    co_return error;
}

// The outcome of a connect that did not finish at once, now that the socket is writable.
error_code pending_connect_result(const Connection& connection) {
    int pending_error = 0;
    socklen_t size = sizeof pending_error;
    if (::getsockopt(connection.native_handle(), SOL_SOCKET, SO_ERROR, &pending_error, &size) != 0) {
        return last_error();
    }
    if (pending_error != 0) return error_code(pending_error, boost::system::system_category());
    // Writable and without an error may still be unconnected; only asking for the peer tells.
    sockaddr_un peer{};
    socklen_t peer_size = sizeof peer;
    if (::getpeername(connection.native_handle(), reinterpret_cast<sockaddr*>(&peer), &peer_size) != 0) {
        return last_error();
    }
    return {};
}

}  // namespace

asio::awaitable<ConnectResult> connect(std::string endpoint, Deadline deadline) {
    if (endpoint.size() > MAX_SOCKET_PATH) co_return make_error_code(asio::error::name_too_long);
    // A zero byte would make the system see another, shorter path (or, on Linux, an abstract
    // socket name).
    if (endpoint.find('\0') != std::string::npos) co_return make_error_code(asio::error::invalid_argument);

    int fd = platform::open_unix_stream_socket(true);
    if (fd < 0) co_return last_error();
    Connection connection(co_await asio::this_coro::executor, fd);

    asio::local::stream_protocol::endpoint address(endpoint);
    if (::connect(fd, address.data(), static_cast<socklen_t>(address.size())) == 0)
        co_return std::move(connection);
    error_code error = last_error();
    // Anything else, Linux's EAGAIN for a listener whose backlog is full included, leaves the
    // socket unconnected with nothing pending.
    if (error != asio::error::in_progress && error != asio::error::interrupted) co_return error;
    if ((error = co_await connection.wait(Socket::wait_write, deadline))) co_return error;
    if ((error = pending_connect_result(connection))) co_return error;
    co_return std::move(connection);
}

asio::awaitable<framing::FrameStatus> write_frame(Connection& connection, std::string_view body,
                                                  Deadline deadline) {
    if (auto valid = framing::check_frame_size(body.size()); !valid) co_return valid;
    std::array<char, 4> prefix = framing::encode_length(static_cast<std::uint32_t>(body.size()));
    // Gathered sends: the application sees the prefix and the body together when they fit the
    // socket buffer.
    auto error = co_await write_all(connection,
                                    {asio::buffer(prefix), asio::buffer(body.data(), body.size())}, deadline);
    if (error) co_return FrameError::io(error);
    co_return framing::FrameStatus{};
}

asio::awaitable<framing::FrameResult> read_frame(Connection& connection, Deadline deadline) {
    // Two reads, never one larger one: the bytes after this frame belong to whoever reads next.
    std::array<char, 4> prefix{};
    auto prefix_error = co_await read_exactly(connection, asio::buffer(prefix), deadline);
    if (prefix_error == asio::error::eof) co_return FrameError::end_of_stream();
    if (prefix_error) co_return FrameError::io(prefix_error);

    std::uint32_t length = framing::decode_length(prefix);
    if (auto valid = framing::check_frame_size(length); !valid) co_return valid.error();

    std::string body(length, '\0');
    auto body_error = co_await read_exactly(connection, asio::buffer(body), deadline);
    if (body_error == asio::error::eof) co_return FrameError::truncated();
    if (body_error) co_return FrameError::io(body_error);
    co_return body;
}

}  // namespace ondrake::ipc
