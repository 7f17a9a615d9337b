#include "browser-native-host/ipc.hpp"

#include "browser-native-host/json_codec.hpp"
#include "browser-native-host/protocol_tables.hpp"
#include "browser-native-host/text.hpp"
#include "browser-native-host/user_dirs.hpp"
#include "platform/platform.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <array>
#include <cerrno>
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

asio::awaitable<ConnectResult> connect(std::string endpoint) {
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

    auto [connect_error] = co_await socket.async_connect(
        asio::local::stream_protocol::endpoint(endpoint), asio::as_tuple(asio::use_awaitable));
    if (connect_error) co_return connect_error;
    // Linux answers a non-blocking connect to a listener whose backlog is full with EAGAIN and
    // leaves the socket unconnected, yet writable; only asking for the peer tells the two apart.
    socket.remote_endpoint(error);
    if (error) co_return error;
    co_return std::move(socket);
}

asio::awaitable<std::optional<FrameError>> write_frame(Socket& socket, std::string_view body) {
    if (auto refused = framing::check_body_size(body.size())) co_return refused;
    std::array<char, 4> prefix = framing::encode_length(static_cast<std::uint32_t>(body.size()));
    // One gathered write: the application sees the prefix and the body together when they fit
    // the socket buffer, and async_write keeps writing after partial writes.
    std::array<asio::const_buffer, 2> frame{asio::buffer(prefix), asio::buffer(body.data(), body.size())};
    auto [error, written] = co_await asio::async_write(socket, frame, asio::as_tuple(asio::use_awaitable));
    if (error) co_return FrameError::io(error);
    if (written != prefix.size() + body.size()) {
        co_return FrameError::io(std::make_error_code(std::errc::io_error));  // a write moved nothing
    }
    co_return std::nullopt;
}

asio::awaitable<framing::FrameResult> read_frame(Socket& socket) {
    std::array<char, 4> prefix{};
    auto [prefix_error, prefix_read] =
        co_await asio::async_read(socket, asio::buffer(prefix), asio::as_tuple(asio::use_awaitable));
    if (prefix_error == asio::error::eof) co_return FrameError::end_of_stream();
    if (prefix_error) co_return FrameError::io(prefix_error);

    std::uint32_t length = framing::decode_length(prefix);
    if (auto refused = framing::check_declared_length(length)) co_return *refused;

    std::string body(length, '\0');
    auto [body_error, body_read] =
        co_await asio::async_read(socket, asio::buffer(body), asio::as_tuple(asio::use_awaitable));
    if (body_error == asio::error::eof) co_return FrameError::truncated();
    if (body_error) co_return FrameError::io(body_error);
    co_return body;
}

}  // namespace ondrake::ipc
