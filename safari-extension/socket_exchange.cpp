#include "safari-extension/socket_exchange.hpp"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

#include "platform/platform.hpp"

namespace ondrake::safari {
namespace {

constexpr std::int64_t NANOSECONDS_PER_SECOND = 1'000'000'000;
constexpr std::int64_t NANOSECONDS_PER_MICROSECOND = 1'000;

// The address is laid out as macOS lays out its sockaddr_un: 2 bytes before the path (length
// and family there, a 2-byte family on Linux) and a 104-byte path field, 106 bytes in all.
// Linux's own sockaddr_un is 110 bytes; connecting with the 106-byte length there makes the
// kernel see the same 104-byte field, so the path limit and the NUL after the path are the same
// on both systems.
constexpr std::size_t PATH_FIELD_SIZE = MAX_SOCKET_PATH + 1;
constexpr socklen_t ADDRESS_LENGTH = offsetof(sockaddr_un, sun_path) + PATH_FIELD_SIZE;
static_assert(ADDRESS_LENGTH <= sizeof(sockaddr_un), "the path field must fit the system's sockaddr_un");

// Closes its descriptor on every way out of the exchange.
class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    int fd() const { return fd_; }
    bool is_open() const { return fd_ >= 0; }

private:
    int fd_;
};

// The zero-filled address for `path`, or nothing when the path is too long or holds a NUL byte
// (the kernel would stop at the NUL and connect to a different path).
std::optional<sockaddr_un> socket_address(const std::string& path) {
    if (path.size() > MAX_SOCKET_PATH || path.find('\0') != std::string::npos) return std::nullopt;
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return address;
}

// Puts what is left of the budget into both socket time-outs, receive first. False when the
// budget is spent, or when a limit could not be set: a blocking call without its limit could
// outlast the budget, so it is not made.
bool limit_next_call(int fd, const ExchangeDeadline& deadline) {
    std::optional<timeval> limit = deadline.remaining_timeout();
    if (!limit) return false;
    return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &*limit, sizeof *limit) == 0 &&
           ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &*limit, sizeof *limit) == 0;
}

}  // namespace

std::string_view code_text(Code code) {
    switch (code) {
        case Code::InvalidMessage: return "INVALID_MESSAGE";
        case Code::AppUnavailable: return "APP_UNAVAILABLE";
        case Code::DeliveryIndeterminate: return "DELIVERY_INDETERMINATE";
        case Code::InternalError: return "INTERNAL_ERROR";
    }
    return "INTERNAL_ERROR";
}

ExchangeDeadline::ExchangeDeadline(Clock clock, std::chrono::nanoseconds budget)
    : clock_(std::move(clock)), end_ns_(static_cast<std::int64_t>(clock_()) + budget.count()) {}

std::optional<timeval> ExchangeDeadline::remaining_timeout() const {
    return socket_timeout(end_ns_ - static_cast<std::int64_t>(clock_()));
}

std::optional<timeval> socket_timeout(std::int64_t remaining_ns) {
    if (remaining_ns < NANOSECONDS_PER_MICROSECOND) return std::nullopt;
    timeval limit{};
    limit.tv_sec = static_cast<decltype(limit.tv_sec)>(remaining_ns / NANOSECONDS_PER_SECOND);
    limit.tv_usec = static_cast<decltype(limit.tv_usec)>((remaining_ns % NANOSECONDS_PER_SECOND) /
                                                         NANOSECONDS_PER_MICROSECOND);
    return limit;
}

std::optional<std::array<char, 4>> frame_header(std::size_t length) {
    if (length > UINT32_MAX) return std::nullopt;
    std::array<char, 4> header{};
    for (std::size_t i = 0; i < header.size(); ++i) {
        header[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    }
    return header;
}

std::uint32_t frame_length(std::string_view header) {
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < 4 && i < header.size(); ++i) {
        length |= static_cast<std::uint32_t>(static_cast<unsigned char>(header[i])) << (8 * i);
    }
    return length;
}

std::size_t send_within_budget(int fd, std::string_view bytes, const ExchangeDeadline& deadline) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        if (!limit_next_call(fd, deadline)) break;
        ssize_t sent =
            ::send(fd, bytes.data() + written, bytes.size() - written, platform::send_no_signal_flag());
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) break;
        written += static_cast<std::size_t>(sent);
    }
    return written;
}

std::optional<std::string> receive_within_budget(int fd, std::size_t count,
                                                 const ExchangeDeadline& deadline) {
    std::string buffer(count, '\0');
    std::size_t filled = 0;
    while (filled < count) {
        if (!limit_next_call(fd, deadline)) return std::nullopt;
        ssize_t got = ::read(fd, buffer.data() + filled, count - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return std::nullopt;
        filled += static_cast<std::size_t>(got);
    }
    return buffer;
}

Exchange exchange(const std::string& socket_path, std::string_view payload, const Clock& clock,
                  std::chrono::nanoseconds budget) {
    const ExchangeDeadline deadline(clock, budget);

    const std::optional<std::array<char, 4>> request_header = frame_header(payload.size());
    if (!request_header) return Unavailable{};

    Socket socket(platform::open_unix_stream_socket(false));
    if (!socket.is_open()) return Unavailable{};

    const std::optional<sockaddr_un> address = socket_address(socket_path);
    if (!address) return Unavailable{};

    // On Linux a connect to a listener whose backlog is full waits, bounded by SO_SNDTIMEO, for
    // room in the backlog; macOS refuses such a connect at once. Either way the limit set here
    // keeps the connect inside the budget.
    if (!limit_next_call(socket.fd(), deadline)) return Unavailable{};
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&*address), ADDRESS_LENGTH) != 0) {
        return Unavailable{};
    }

    const std::string_view header_bytes(request_header->data(), request_header->size());
    if (send_within_budget(socket.fd(), header_bytes, deadline) != header_bytes.size()) return Unavailable{};
    if (send_within_budget(socket.fd(), payload, deadline) != payload.size()) return Unavailable{};

    const std::optional<std::string> reply_header = receive_within_budget(socket.fd(), 4, deadline);
    if (!reply_header) return Indeterminate{Code::DeliveryIndeterminate};

    const std::uint32_t length = frame_length(*reply_header);
    if (length == 0 || length > MAX_FRAME) return Indeterminate{Code::InternalError};

    std::optional<std::string> body = receive_within_budget(socket.fd(), length, deadline);
    if (!body) return Indeterminate{Code::DeliveryIndeterminate};
    return Replied{std::move(*body)};
}

}  // namespace ondrake::safari
