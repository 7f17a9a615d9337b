// Running a built program as its own process, the way a browser or an installer runs the host:
// chosen arguments and environment, standard input fed through a pipe, standard output and
// error captured, or closed, or connected to a pipe that nobody reads or that is read late.
#pragma once

#include "browser-native-host/tests/support/test_support.hpp"
#include "platform/child_process.hpp"
#include "platform/platform.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <optional>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

// Defined when this build runs under AddressSanitizer, which the programs of the same build do as
// well: they then need descriptors and address space of their own that a tight limit would deny.
#if defined(__SANITIZE_ADDRESS__)
#define ONDRAKE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ONDRAKE_SANITIZED 1
#endif
#endif

namespace ondrake::test {

enum class Stream {
    Captured,   // into a file, returned in ProgramRun
    Closed,     // the descriptor is not open at all in the program
    Unread,     // a pipe whose reading end is already closed: every write fails with EPIPE
    Undrained,  // a pipe read only once the program has ended: full after a pipe's worth of bytes
    Piped,      // a pipe read from `reading_delay` after the start on, returned in ProgramRun
};

struct ProgramOptions {
    std::vector<std::string> arguments;
    std::string input;          // written to the program's standard input, which then ends
    bool input_closed = false;  // standard input not open at all (`input` unused)
    // Changes to this process's environment: a value sets the variable, none removes it.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment;
    Stream out = Stream::Captured;
    Stream err = Stream::Captured;
    // RLIMIT_NOFILE for the program, set through the shell's ulimit before it is executed.
    std::optional<int> descriptor_limit;
    // SIGCHLD ignored in the program, as some parents hand it over (an ignored signal survives
    // exec); set through the shell's trap before it is executed.
    bool child_signal_ignored = false;
    // O_NONBLOCK on the program's end of its standard input and of every pipe it writes to, set
    // on the open file description, as a parent that shares the description with it may have.
    bool non_blocking_pipes = false;
    std::chrono::milliseconds input_delay{0};    // the input is written only this long after the start
    std::chrono::milliseconds reading_delay{0};  // Piped: reading begins this long after the start
    // RLIMIT_AS for the program in KiB, set through the shell's ulimit before it is executed.
    std::optional<long> address_space_limit_kib;
    std::chrono::milliseconds limit = std::chrono::seconds(60);
};

struct ProgramRun {
    int status = -1;  // the exit status; -1 when the program did not exit by itself
    std::string out;
    std::string err;
};

namespace detail {

inline std::vector<std::string> environment_with(const ProgramOptions& options) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string_view text(*entry);
        bool changed = false;
        for (const auto& [name, value] : options.environment) {
            changed = changed || (text.size() > name.size() && text.substr(0, name.size()) == name &&
                                  text[name.size()] == '=');
        }
        if (!changed) result.emplace_back(text);
    }
    for (const auto& [name, value] : options.environment) {
        if (value) result.push_back(name + "=" + *value);
    }
    return result;
}

inline std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& text : strings) result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

// Our end of a pipe connected to one of the program's standard streams.
struct PipeEnd {
    int fd = -1;
    Stream mode = Stream::Captured;
    std::string* into = nullptr;  // where what it carries goes
};

inline bool make_pipe(int ends[2]) {
    if (platform::pipe_cloexec(ends) == 0) return true;
    ADD_FAILURE() << "cannot make a pipe: " << std::strerror(errno);
    ends[0] = ends[1] = -1;  // a failed call may leave numbers it has closed again
    return false;
}

inline void set_non_blocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Everything that can still be read from `fd`, which no writer holds any more (or the rest is
// not wanted): read without waiting.
inline void read_rest(int fd, std::string& into) {
    set_non_blocking(fd);
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);) {
        if (n > 0) into.append(buffer, static_cast<std::size_t>(n));
    }
}

// Sets up descriptor `fd` of the child as `mode` says; `child_ends` receives the descriptors that
// the caller closes once the child exists, `ours` the pipes it reads. False (and a test failure)
// when it cannot.
inline bool arrange(platform::SpawnSetup& setup, int fd, Stream mode, const std::string& file,
                    const ProgramOptions& options, std::string& into, std::vector<int>& child_ends,
                    std::vector<PipeEnd>& ours) {
    if (mode == Stream::Captured) setup.open(fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (mode == Stream::Closed) setup.close(fd);
    if (mode == Stream::Captured || mode == Stream::Closed) return true;
    int ends[2];
    if (!make_pipe(ends)) return false;
    if (mode == Stream::Unread) {
        ::close(ends[0]);  // before the program starts, so that even its first write fails
    } else {
        ours.push_back({ends[0], mode, &into});
    }
    if (options.non_blocking_pipes) set_non_blocking(ends[1]);
    setup.duplicate(ends[1], fd);
    child_ends.push_back(ends[1]);
    return true;
}

}  // namespace detail

// What the host prints on standard error for `messages`: each behind its prefix, one per line.
inline std::string host_log(std::initializer_list<std::string_view> messages) {
    std::string text;
    for (std::string_view message : messages)
        text.append("ondrake-native-host: ").append(message).push_back('\n');
    return text;
}

// Runs `program` to its end (killing it after options.limit, which fails the test).
inline ProgramRun run_program(const std::string& program, const ProgramOptions& options) {
    // The program may stop reading before its input is all written.
    std::signal(SIGPIPE, SIG_IGN);
    TempDir capture;
    std::string out_file = capture / "stdout";
    std::string err_file = capture / "stderr";

    std::vector<std::string> argument_strings;
    std::string shell_setup;
    if (options.descriptor_limit)
        shell_setup += "ulimit -n " + std::to_string(*options.descriptor_limit) + " && ";
    if (options.address_space_limit_kib)
        shell_setup += "ulimit -v " + std::to_string(*options.address_space_limit_kib) + " && ";
    // bash, because dash keeps SIGCHLD for itself and hands it on at its default action.
    if (options.child_signal_ignored) shell_setup += "trap '' CHLD && ";
    if (!shell_setup.empty()) argument_strings = {"/bin/bash", "-c", shell_setup + "exec \"$@\"", "bash"};
    argument_strings.push_back(program);
    argument_strings.insert(argument_strings.end(), options.arguments.begin(), options.arguments.end());
    std::vector<std::string> environment = detail::environment_with(options);
    std::vector<char*> argv = detail::pointers(argument_strings);
    std::vector<char*> envp = detail::pointers(environment);

    ProgramRun result;
    int input[2] = {-1, -1};
    std::vector<int> child_ends;
    std::vector<detail::PipeEnd> ours;
    platform::SpawnSetup setup;
    bool arranged = true;
    if (options.input_closed) {
        setup.close(0);
    } else if (detail::make_pipe(input)) {
        if (options.non_blocking_pipes) detail::set_non_blocking(input[0]);
        setup.duplicate(input[0], 0);
        child_ends.push_back(input[0]);
    } else {
        arranged = false;
    }
    arranged = arranged &&
               detail::arrange(setup, 1, options.out, out_file, options, result.out, child_ends, ours) &&
               detail::arrange(setup, 2, options.err, err_file, options, result.err, child_ends, ours);
    setup.only_listed_descriptors();

    boost::system::result<pid_t> spawned = pid_t{-1};
    if (arranged) spawned = setup.spawn(argv[0], argv.data(), envp.data());
    for (int fd : child_ends) ::close(fd);
    if (!arranged || !spawned) {
        if (input[1] >= 0) ::close(input[1]);
        for (const auto& end : ours) ::close(end.fd);
        if (!spawned) ADD_FAILURE() << "cannot start " << program << ": " << spawned.error().message();
        return result;
    }
    pid_t pid = *spawned;

    // Input and Piped outputs move on threads of their own, so that a program that stops reading
    // or writing cannot hold this thread past the limit. Once the program has ended they stop
    // as soon as the pipe has nothing more to move (a process it left behind may hold it open).
    std::atomic<bool> program_ended{false};
    auto wait_for = [&program_ended](int fd, platform::Ready direction) {
        for (;;) {
            if (platform::wait_ready(fd, direction, 20) == 1) return true;
            if (program_ended) return false;
        }
    };
    std::vector<std::thread> movers;
    if (input[1] >= 0) {
        movers.emplace_back([&options, &wait_for, fd = input[1]] {
            std::this_thread::sleep_for(options.input_delay);
            detail::set_non_blocking(fd);  // our own end's description: the program's is its own
            std::string_view rest = options.input;
            while (!rest.empty() && wait_for(fd, platform::Ready::ForWriting)) {
                ssize_t n = ::write(fd, rest.data(), rest.size());
                if (n < 0 && errno != EINTR && errno != EAGAIN) break;  // the program stopped reading
                if (n > 0) rest.remove_prefix(static_cast<std::size_t>(n));
            }
            ::close(fd);
        });
    }
    for (const auto& end : ours) {
        if (end.mode != Stream::Piped) continue;
        movers.emplace_back([&options, &wait_for, end] {
            std::this_thread::sleep_for(options.reading_delay);
            detail::set_non_blocking(end.fd);
            char buffer[65536];
            while (wait_for(end.fd, platform::Ready::ForReading)) {
                ssize_t n = ::read(end.fd, buffer, sizeof buffer);
                if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
                if (n > 0) end.into->append(buffer, static_cast<std::size_t>(n));
            }
        });
    }

    int wait_status = 0;
    bool ended = wait_until(
        [&] {
            pid_t waited = ::waitpid(pid, &wait_status, WNOHANG);
            return waited == pid || (waited < 0 && errno != EINTR);
        },
        options.limit);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &wait_status, 0);
        ADD_FAILURE() << program << " did not end within " << options.limit.count() << " ms";
    }
    program_ended = true;
    for (auto& mover : movers) mover.join();
    for (const auto& end : ours) {
        if (end.mode == Stream::Undrained) detail::read_rest(end.fd, *end.into);
        ::close(end.fd);
    }
    result.status = ended && WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    if (options.out == Stream::Captured) result.out = read_file(out_file).value_or("");
    if (options.err == Stream::Captured) result.err = read_file(err_file).value_or("");
    return result;
}

}  // namespace ondrake::test
