// Running a built program as its own process, the way a browser or an installer runs the host:
// chosen arguments and environment, standard input fed through a pipe, standard output and
// error captured, or closed, or connected to a pipe that nobody reads.
#pragma once

#include "browser-native-host/tests/support/test_support.hpp"
#include "platform/child_process.hpp"
#include "platform/platform.hpp"

#include <gtest/gtest.h>

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

namespace ondrake::test {

enum class Stream {
    Captured,  // into a file, returned in ProgramRun
    Closed,    // the descriptor is not open at all in the program
    Unread,    // a pipe whose reading end is already closed: every write fails with EPIPE
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

// Sets up descriptor `fd` of the child as `mode` says; `parent_ends` receives the descriptors
// that the caller closes once the child exists. False (and a test failure) when it cannot.
inline bool arrange(platform::SpawnSetup& setup, int fd, Stream mode, const std::string& file,
                    std::vector<int>& parent_ends) {
    switch (mode) {
        case Stream::Captured: setup.open(fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600); break;
        case Stream::Closed: setup.close(fd); break;
        case Stream::Unread: {
            int ends[2];
            if (platform::pipe_cloexec(ends) != 0) {
                ADD_FAILURE() << "cannot make a pipe: " << std::strerror(errno);
                return false;
            }
            ::close(ends[0]);  // before the program starts, so that even its first write fails
            setup.duplicate(ends[1], fd);
            parent_ends.push_back(ends[1]);
            break;
        }
    }
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
    std::vector<int> parent_ends;
    platform::SpawnSetup setup;
    bool arranged = true;
    if (options.input_closed) {
        setup.close(0);
    } else if (platform::pipe_cloexec(input) == 0) {
        setup.duplicate(input[0], 0);
    } else {
        ADD_FAILURE() << "cannot make a pipe: " << std::strerror(errno);
        input[0] = input[1] = -1;  // a failed call may leave numbers it has closed again
        arranged = false;
    }
    arranged = arranged && detail::arrange(setup, 1, options.out, out_file, parent_ends) &&
               detail::arrange(setup, 2, options.err, err_file, parent_ends);
    setup.only_listed_descriptors();

    boost::system::result<pid_t> spawned = pid_t{-1};
    if (arranged) spawned = setup.spawn(argv[0], argv.data(), envp.data());
    for (int fd : parent_ends) ::close(fd);
    if (input[0] >= 0) ::close(input[0]);

    if (!arranged || !spawned) {
        if (input[1] >= 0) ::close(input[1]);
        if (!spawned) ADD_FAILURE() << "cannot start " << program << ": " << spawned.error().message();
        return result;
    }
    pid_t pid = *spawned;
    if (input[1] >= 0) {
        (void)platform::write_all(input[1], options.input);  // fails when the program stops reading
        ::close(input[1]);
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
    result.status = ended && WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    result.out = read_file(out_file).value_or("");
    result.err = read_file(err_file).value_or("");
    return result;
}

}  // namespace ondrake::test
