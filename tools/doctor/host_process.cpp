#include "tools/doctor/host_process.hpp"

#include "browser-native-host/messages/frame_limit.hpp"
#include "browser-native-host/messages/framing.hpp"
#include "platform/child_process.hpp"
#include "platform/platform.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ondrake::doctor {

namespace {

using Clock = HostProcess::Clock;

// After SIGTERM: how long a host may take to exit before SIGKILL ends it.
constexpr std::chrono::milliseconds TERMINATION_GRACE{1'000};
// Once the host is collected, what is still readable on its standard error is taken for at most
// this long: a process it left behind may hold the pipe open and keep writing.
constexpr std::chrono::milliseconds ERROR_DRAIN_LIMIT{200};

int milliseconds_until(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Our end of a pipe waits through poll, never in read or write: the description is ours alone.
bool make_non_blocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
    std::vector<char*> result;
    for (std::string& word : words) result.push_back(word.data());
    result.push_back(nullptr);
    return result;
}

}  // namespace

boost::system::result<HostProcess> HostProcess::start(const HostCommand& command) {
    auto failure = [](int error) {
        return boost::system::error_code(error, boost::system::system_category());
    };
    std::array<int, 2> in{-1, -1}, out{-1, -1}, err{-1, -1};
    auto close_all = [&] {
        for (int* fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1]}) close_fd(*fd);
    };
    if (platform::pipe_cloexec(in.data()) != 0 || platform::pipe_cloexec(out.data()) != 0 ||
        platform::pipe_cloexec(err.data()) != 0) {
        int error = errno;
        close_all();
        return failure(error);
    }

    platform::SpawnSetup setup;
    setup.duplicate(in[0], 0);
    setup.duplicate(out[1], 1);
    setup.duplicate(err[1], 2);
    // A browser resets what it ignores itself before it starts a host.
    setup.default_signal(SIGPIPE);
    if (!command.working_directory.empty()) setup.change_directory(command.working_directory.c_str());
    setup.only_listed_descriptors();

    std::vector<std::string> words{command.program};
    words.insert(words.end(), command.arguments.begin(), command.arguments.end());
    std::vector<std::string> environment = command.environment;
    std::vector<char*> argv = pointers(words);
    std::vector<char*> envp = pointers(environment);
    auto spawned = setup.spawn(command.program.c_str(), argv.data(), envp.data());
    for (int* fd : {&in[0], &out[1], &err[1]}) close_fd(*fd);
    if (!spawned) {
        close_all();
        return spawned.error();
    }
    HostProcess host(*spawned, in[1], out[0], err[0]);
    if (!make_non_blocking(host.input_) || !make_non_blocking(host.output_) ||
        !make_non_blocking(host.errors_)) {
        int error = errno;
        host.stop(std::chrono::milliseconds(0));
        return failure(error);
    }
    return host;
}

HostProcess::HostProcess(HostProcess&& other) noexcept
    : pid_(other.pid_),
      input_(other.input_),
      output_(other.output_),
      errors_(other.errors_),
      output_bytes_(std::move(other.output_bytes_)),
      partial_error_line_(std::move(other.partial_error_line_)),
      error_lines_(std::move(other.error_lines_)),
      left_out_(other.left_out_),
      wait_status_(other.wait_status_),
      exit_(other.exit_) {
    other.pid_ = -1;
    other.input_ = other.output_ = other.errors_ = -1;
}

HostProcess::~HostProcess() {
    if (pid_ > 0) stop(std::chrono::milliseconds(0));
}

HostReply HostProcess::exchange(std::string_view body, Clock::time_point deadline) {
    auto prefix = framing::encode_length(static_cast<std::uint32_t>(body.size()));
    std::string frame(prefix.data(), prefix.size());
    frame.append(body);
    return wait_for_reply(frame, deadline);
}

HostReply HostProcess::wait_for_reply(std::string_view frame, Clock::time_point deadline) {
    for (;;) {
        if (auto reply = take_frame()) return *reply;
        if (output_ < 0) return {HostReply::Kind::Ended, {}};
        if (Clock::now() >= deadline) return {HostReply::Kind::TimedOut, {}};

        // poll passes over the negative descriptors: a stream that has ended, or nothing to write.
        std::array<pollfd, 3> ready{
            {{output_, POLLIN, 0}, {errors_, POLLIN, 0}, {frame.empty() ? -1 : input_, POLLOUT, 0}}};
        int count = ::poll(ready.data(), ready.size(), milliseconds_until(deadline));
        if (count < 0 && errno != EINTR) return {HostReply::Kind::Ended, {}};
        if (count <= 0) continue;

        if (ready[2].revents != 0) {
            ssize_t written = ::write(input_, frame.data(), frame.size());
            if (written > 0) {
                frame.remove_prefix(static_cast<std::size_t>(written));
            } else if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                // The host no longer reads: what it wrote, or its end, still tells what happened.
                frame = {};
            }
        }
        if (ready[1].revents != 0 && !read_errors()) close_fd(errors_);
        if (ready[0].revents != 0) {
            char buffer[16 * 1024];
            ssize_t n = ::read(output_, buffer, sizeof buffer);
            if (n > 0) output_bytes_.append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) close_fd(output_);
        }
    }
}

std::optional<HostReply> HostProcess::take_frame() {
    if (output_bytes_.size() < 4) {
        if (output_ >= 0 || output_bytes_.empty()) return std::nullopt;
        return HostReply{HostReply::Kind::BadFrame, framing::display_text(framing::FrameError::truncated())};
    }
    std::array<char, 4> prefix{};
    std::copy_n(output_bytes_.begin(), 4, prefix.begin());
    std::uint32_t length = framing::decode_length(prefix);
    if (auto checked = framing::check_frame_size(length); !checked) {
        return HostReply{HostReply::Kind::BadFrame, framing::display_text(checked.error())};
    }
    if (output_bytes_.size() - 4 < length) {
        if (output_ >= 0) return std::nullopt;
        return HostReply{HostReply::Kind::BadFrame, framing::display_text(framing::FrameError::truncated())};
    }
    std::string body = output_bytes_.substr(4, length);
    output_bytes_.erase(0, 4 + std::size_t{length});
    return HostReply{HostReply::Kind::Reply, std::move(body)};
}

bool HostProcess::read_errors() {
    char buffer[4096];
    ssize_t n = ::read(errors_, buffer, sizeof buffer);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (n == 0) return false;
    partial_error_line_.append(buffer, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t end; (end = partial_error_line_.find('\n', start)) != std::string::npos;
         start = end + 1) {
        keep_error_line(std::string_view(partial_error_line_).substr(start, end - start));
    }
    partial_error_line_.erase(0, start);
    // A line without its end is cut where a kept line ends, so that it cannot grow without bound.
    if (partial_error_line_.size() > KEPT_ERROR_LINE_BYTES) {
        keep_error_line(partial_error_line_);
        partial_error_line_.clear();
    }
    return true;
}

void HostProcess::keep_error_line(std::string_view line) {
    if (error_lines_.size() >= KEPT_ERROR_LINES) {
        ++left_out_;
        return;
    }
    error_lines_.emplace_back(line.substr(0, KEPT_ERROR_LINE_BYTES));
}

bool HostProcess::collected_by(Clock::time_point deadline) {
    for (;;) {
        pid_t done = ::waitpid(pid_, &wait_status_, WNOHANG);
        if (done == pid_ || (done < 0 && errno != EINTR)) return true;
        if (Clock::now() >= deadline) return false;
        // Standard error is taken while waiting: a host blocked on a full pipe would never exit.
        pollfd ready{errors_, POLLIN, 0};
        int wait_ms = std::min(milliseconds_until(deadline), 10);
        if (::poll(&ready, 1, wait_ms) > 0 && !read_errors()) close_fd(errors_);
    }
}

HostExit HostProcess::stop(std::chrono::milliseconds grace) {
    if (exit_) return *exit_;
    close_fd(input_);
    bool stopped = false;
    if (!collected_by(Clock::now() + grace)) {
        stopped = true;
        ::kill(pid_, SIGTERM);
        if (!collected_by(Clock::now() + TERMINATION_GRACE)) {
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, &wait_status_, 0) < 0 && errno == EINTR) {
            }
        }
    }
    auto drain_until = Clock::now() + ERROR_DRAIN_LIMIT;
    while (errors_ >= 0 && Clock::now() < drain_until) {
        pollfd ready{errors_, POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0 || !read_errors()) break;
    }
    if (!partial_error_line_.empty()) keep_error_line(partial_error_line_);
    partial_error_line_.clear();
    close_pipes();
    bool signalled = WIFSIGNALED(wait_status_);
    exit_ = HostExit{signalled, signalled ? WTERMSIG(wait_status_) : WEXITSTATUS(wait_status_), stopped};
    pid_ = -1;
    return *exit_;
}

void HostProcess::close_pipes() {
    close_fd(input_);
    close_fd(output_);
    close_fd(errors_);
}

}  // namespace ondrake::doctor
