// A native-messaging host started as a browser starts one, for the doctor's round trip: pipes on
// its three standard streams, its standard error collected line by line while it runs, a time
// limit on every wait, and always stopped and collected in the end. The caller ignores SIGPIPE,
// so that a write to a host that has gone fails instead of ending the doctor.
#pragma once

#include "tools/doctor/report.hpp"

#include <boost/system/result.hpp>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace ondrake::doctor {

struct HostCommand {
    std::string program;                   // started as it is, never looked up on PATH
    std::vector<std::string> arguments;    // after the program's own name
    std::vector<std::string> environment;  // the whole environment, NAME=value
    std::string working_directory;
};

// What came back for one message.
struct HostReply {
    enum class Kind : std::uint8_t {
        Reply,     // `text` is the reply's body
        Ended,     // the host's output ended first
        TimedOut,  // nothing complete before the deadline
        BadFrame,  // a frame no browser accepts; `text` says why
    };
    Kind kind;
    std::string text;
};

// How many lines of standard error are kept, and how much of each: a host that floods its
// standard error must not flood the report.
inline constexpr std::size_t KEPT_ERROR_LINES = 100;
inline constexpr std::size_t KEPT_ERROR_LINE_BYTES = 1000;

class HostProcess {
public:
    using Clock = std::chrono::steady_clock;

    // Starts the host; the system's error when it cannot be started.
    static boost::system::result<HostProcess> start(const HostCommand& command);

    HostProcess(HostProcess&& other) noexcept;
    HostProcess& operator=(HostProcess&&) = delete;
    HostProcess(const HostProcess&) = delete;
    // Stops and collects the host unless stop() did.
    ~HostProcess();

    // Writes `body` as one frame and reads one reply frame, both by `deadline`.
    HostReply exchange(std::string_view body, Clock::time_point deadline);

    // Closes the host's standard input, as a browser does when the extension lets go of it, and
    // gives the host `grace` to exit; then SIGTERM and, a second later, SIGKILL. Collects the
    // host and what is left of its standard error. Only the first call does anything.
    HostExit stop(std::chrono::milliseconds grace);

    // The lines of standard error so far, as the host wrote them, without their line feeds.
    const std::vector<std::string>& error_lines() const { return error_lines_; }
    std::size_t error_lines_left_out() const { return left_out_; }

private:
    HostProcess(pid_t pid, int input, int output, int errors)
        : pid_(pid), input_(input), output_(output), errors_(errors) {}

    // Waits for readiness until `deadline` (writing `frame` meanwhile when it is not empty), takes
    // what standard output and standard error have, and returns once a reply is complete or can no
    // longer come.
    HostReply wait_for_reply(std::string_view frame, Clock::time_point deadline);
    // A complete reply frame from what standard output gave so far, if there is one.
    std::optional<HostReply> take_frame();
    // Reads what standard error has now; false once it has ended.
    bool read_errors();
    void keep_error_line(std::string_view line);
    // Collects the host if it has exited by `deadline`, taking standard error meanwhile.
    bool collected_by(Clock::time_point deadline);
    void close_pipes();

    pid_t pid_;
    int input_;
    int output_;
    int errors_;
    std::string output_bytes_;
    std::string partial_error_line_;
    std::vector<std::string> error_lines_;
    std::size_t left_out_ = 0;
    int wait_status_ = 0;
    std::optional<HostExit> exit_;
};

}  // namespace ondrake::doctor
