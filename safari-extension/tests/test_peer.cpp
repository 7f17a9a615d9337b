#include "safari-extension/tests/test_peer.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/child_process.hpp"
#include "platform/platform.hpp"

namespace ondrake::safari::testing_support {
namespace {

sockaddr_un address_of(const std::string& path) {
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        throw std::runtime_error("socket path too long for a test peer");
    std::memcpy(address.sun_path, path.data(), path.size());
    return address;
}

}  // namespace

double elapsed_ms(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

std::optional<std::string> PeerConnection::read_some(std::size_t count) {
    std::string buffer(count, '\0');
    for (;;) {
        if (!peer_.wait_readable(fd_)) return std::nullopt;
        ssize_t got = ::read(fd_, buffer.data(), count);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) return std::nullopt;
        buffer.resize(static_cast<std::size_t>(got));
        return buffer;
    }
}

std::optional<std::string> PeerConnection::read_exactly(std::size_t count) {
    std::string bytes;
    while (bytes.size() < count) {
        std::optional<std::string> part = read_some(count - bytes.size());
        if (!part) return std::nullopt;
        bytes += *part;
    }
    return bytes;
}

std::optional<std::string> PeerConnection::read_request() {
    std::optional<std::string> head = read_exactly(4);
    if (!head) return std::nullopt;
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < 4; ++i)
        length |= static_cast<std::uint32_t>(static_cast<unsigned char>((*head)[i])) << (8 * i);
    std::optional<std::string> body = read_exactly(length);
    if (!body) return std::nullopt;
    peer_.record(*head + *body);
    return body;
}

std::string PeerConnection::read_to_end() {
    std::string bytes;
    while (std::optional<std::string> part = read_some(65536)) bytes += *part;
    return bytes;
}

bool PeerConnection::send(std::string_view bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, platform::send_no_signal_flag());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void PeerConnection::hold_open() {
    pollfd stop{peer_.stop_pipe_[0], POLLIN, 0};
    while (::poll(&stop, 1, -1) < 0 && errno == EINTR) {
    }
}

TestPeer::TestPeer(std::string socket_path, Handler handler, int backlog, bool accepting)
    : socket_path_(std::move(socket_path)), handler_(std::move(handler)) {
    std::filesystem::create_directories(std::filesystem::path(socket_path_).parent_path());
    if (platform::pipe_cloexec(stop_pipe_) != 0) throw std::runtime_error("pipe failed");
    listen_fd_ = platform::open_unix_stream_socket(false);
    sockaddr_un address = address_of(socket_path_);
    if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_fd_, backlog) != 0) {
        throw std::runtime_error("cannot listen on " + socket_path_ + ": " + std::strerror(errno));
    }
    if (accepting) acceptor_ = std::thread([this] { accept_loop(); });
}

TestPeer::~TestPeer() {
    char stop = 1;
    (void)!::write(stop_pipe_[1], &stop, 1);
    if (acceptor_.joinable()) acceptor_.join();
    for (std::thread& connection : connections_) connection.join();
    ::close(listen_fd_);
    ::close(stop_pipe_[0]);
    ::close(stop_pipe_[1]);
    ::unlink(socket_path_.c_str());
}

bool TestPeer::wait_readable(int fd) {
    pollfd watched[2] = {{fd, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    for (;;) {
        int ready = ::poll(watched, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || watched[1].revents != 0) return false;
        if (watched[0].revents != 0) return true;
    }
}

void TestPeer::accept_loop() {
    while (wait_readable(listen_fd_)) {
        int fd = ::accept(listen_fd_, nullptr, nullptr);
        if (fd < 0) continue;
        platform::suppress_sigpipe(fd);
        accepted_.fetch_add(1);
        connections_.emplace_back([this, fd] {
            PeerConnection connection(*this, fd);
            handler_(connection);
            ::close(fd);
        });
    }
}

void TestPeer::record(std::string request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
}

std::vector<std::string> TestPeer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

BacklogFiller::BacklogFiller(const std::string& socket_path) {
    sockaddr_un address = address_of(socket_path);
    // Bounded, so that a system with a huge minimum backlog ends the test instead of the machine.
    for (int attempt = 0; attempt < 256 && !full_; ++attempt) {
        int fd = platform::open_unix_stream_socket(true);
        if (fd < 0) break;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            fds_.push_back(fd);
            continue;
        }
        // Linux says "try again" once the backlog is full; macOS refuses the connection.
        full_ = errno == EAGAIN || errno == ECONNREFUSED;
        ::close(fd);
    }
}

BacklogFiller::~BacklogFiller() {
    for (int fd : fds_) ::close(fd);
}

}  // namespace ondrake::safari::testing_support

namespace ondrake::safari::testing_support {

std::string describe(const Exchange& outcome) {
    if (const auto* replied = std::get_if<Replied>(&outcome)) return "replied:" + replied->body;
    if (const auto* unavailable = std::get_if<Unavailable>(&outcome)) {
        return "unavailable:" + std::string(code_text(unavailable->code));
    }
    return "indeterminate:" + std::string(code_text(std::get<Indeterminate>(outcome).code));
}

}  // namespace ondrake::safari::testing_support
