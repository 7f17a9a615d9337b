// nm-client: plays the browser's side of native messaging, for people who build browser
// extensions or hosts. It runs a host, hands it messages the way a browser frames them, and shows
// what comes back, pointing out every reply a browser would choke on.

#include "browser-native-host/messages/byte_stream.hpp"
#include "browser-native-host/messages/framing.hpp"
#include "platform/child_process.hpp"
#include "platform/platform.hpp"
#include "tools/nm-client/messages.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <variant>
#include <vector>

namespace {

using namespace ondrake;

constexpr const char* USAGE = R"(usage: nm-client [options] [FILE] [-- HOST-ARGUMENT...]

Plays the browser for a native-messaging host. Reads messages from FILE (default: standard
input), one per line, and sends each line byte for byte as one frame (a 4-byte little-endian
length, then the line) to the host's standard input; malformed messages go out just as written.
Blank lines and lines that start with # are skipped. Each reply is printed as one JSON line on
standard output; the host's standard error appears on ours, each line prefixed "host: ".

Every reply a browser would refuse is reported plainly: a frame that declares 0 bytes or more
than 65536, a frame cut short, a body that is not JSON or is no reply of the protocol, and more
or fewer replies than messages.

options:
  --host PATH     the host to run (default: ondrake-native-host beside nm-client)
  --stderr FILE   write the host's standard error to FILE instead
  --pipeline      write all messages at once; by default each message waits for the reply to
                  the one before
  --transcript    print each message ("> " + message) above its reply ("< " + reply)
  --reply-timeout SECONDS
                  how long to wait for the host to take each message, for each reply,
                  and for the host to end after its last one (default: 120, longer than
                  the host's own limits for one message); a host that takes longer is
                  reported and stopped
  --help          this text

Arguments after -- go to the host (browsers pass the extension's origin there).

Every message, field, limit, reply code and status of the protocol: docs/protocol.md.

Exit status: 0 when every message got one well-formed reply and the host exited with 0;
1 when not; 2 when the command line is wrong or the host could not be run.
)";

struct Options {
    std::string host;
    std::vector<std::string> host_arguments;
    std::optional<std::string> message_file;
    std::optional<std::string> stderr_file;
    bool pipeline = false;
    bool transcript = false;
    std::chrono::seconds reply_timeout{120};
};

// Our standard error, which the main thread and the relay of the host's share: one whole line
// at a time, so that our lines and the host's never mix inside a line, and never waiting for a
// reader that does not read (a line that finds no room is dropped; the exit status still tells).
class ErrorLines {
public:
    void say(std::string_view text) {
        std::lock_guard<std::mutex> one_at_a_time(lock_);
        (void)platform::write_line_without_waiting(2, "", text);  // nowhere to report a lost line
    }

private:
    std::mutex lock_;
};

std::string default_host() {
    auto self = platform::running_executable_path();
    std::filesystem::path directory =
        self ? std::filesystem::path(*self).parent_path() : std::filesystem::path(".");
    return (directory / "ondrake-native-host").string();
}

// The options, or the complaint about them ("" after --help).
std::variant<Options, std::string> parse_options(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        if (argument == "--") {
            options.host_arguments.assign(argv + i + 1, argv + argc);
            break;
        } else if (argument == "--help") {
            return std::string();
        } else if (argument == "--host" || argument == "--stderr") {
            auto given = value();
            if (!given) return std::string(argument) + " needs a value";
            (argument == "--host" ? options.host : options.stderr_file.emplace()) = *given;
        } else if (argument == "--reply-timeout") {
            auto given = value();
            unsigned seconds = 0;
            auto parsed = given ? std::from_chars(given->data(), given->data() + given->size(), seconds)
                                : std::from_chars_result{nullptr, std::errc::invalid_argument};
            if (!given || parsed.ec != std::errc() || parsed.ptr != given->data() + given->size() ||
                seconds == 0) {
                return "--reply-timeout needs a whole number of seconds above 0";
            }
            options.reply_timeout = std::chrono::seconds(seconds);
        } else if (argument == "--pipeline") {
            options.pipeline = true;
        } else if (argument == "--transcript") {
            options.transcript = true;
        } else if (argument.size() > 1 && argument.front() == '-') {
            return "unknown option " + std::string(argument);
        } else if (options.message_file) {
            return "one message file at most (the second is " + std::string(argument) + ")";
        } else {
            options.message_file = std::string(argument);
        }
    }
    if (options.host.empty()) options.host = default_host();
    return options;
}

// The most a message file may hold: hundreds of messages at the frame limit and beyond. A file
// past it (a device, a sparse file, a path mistyped) is refused like an unreadable one instead of
// being held in memory whole.
constexpr std::size_t MESSAGE_FILE_CEILING = 16 * 1024 * 1024;

std::optional<std::string> read_bounded(std::istream& in) {
    std::string text;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > MESSAGE_FILE_CEILING) return std::nullopt;
    }
    if (in.bad()) return std::nullopt;
    return text;
}

std::optional<std::string> read_all(const std::optional<std::string>& file) {
    if (!file || *file == "-") return read_bounded(std::cin);
    std::ifstream in(*file, std::ios::binary);
    if (!in) return std::nullopt;
    return read_bounded(in);
}

// The host process and our ends of its standard streams.
struct Host {
    pid_t pid = -1;
    int input = -1;   // we write its standard input
    int output = -1;  // we read its standard output
    int errors = -1;  // we read its standard error; -1 when it goes to a file
    std::atomic<bool> ended{false};
    int wait_status = 0;

    // True once the host has exited (collecting it when it has).
    bool has_ended() {
        if (ended) return true;
        pid_t done = ::waitpid(pid, &wait_status, WNOHANG);
        if (done == pid) ended = true;
        return ended;
    }
    // True once the host has exited, false when it still runs after `limit`.
    bool wait_for(std::chrono::seconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!has_ended()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    void wait() {
        while (!ended) {
            pid_t done = ::waitpid(pid, &wait_status, 0);
            if (done == pid || (done < 0 && errno != EINTR)) ended = true;
        }
    }
};

// Starts the host with pipes on its standard streams; the complaint when it cannot be started.
std::optional<std::string> start_host(const Options& options, Host& host) {
    int in[2], out[2], err[2] = {-1, -1};
    if (platform::pipe_cloexec(in) != 0 || platform::pipe_cloexec(out) != 0 ||
        (!options.stderr_file && platform::pipe_cloexec(err) != 0)) {
        return std::string("cannot make pipes: ") + std::strerror(errno);
    }
    platform::SpawnSetup setup;
    setup.duplicate(in[0], 0);
    setup.duplicate(out[1], 1);
    if (options.stderr_file) {
        setup.open(2, options.stderr_file->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    } else {
        setup.duplicate(err[1], 2);
    }
    setup.only_listed_descriptors();

    std::vector<std::string> words{options.host};
    words.insert(words.end(), options.host_arguments.begin(), options.host_arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    auto spawned = setup.spawn(options.host.c_str(), argv.data());
    if (spawned) host.pid = *spawned;

    for (int fd : {in[0], out[1], err[1]}) {
        if (fd >= 0) ::close(fd);
    }
    host.input = in[1];
    // Our end only: a host that stops reading must not hold a write up past the time limit.
    ::fcntl(host.input, F_SETFL, ::fcntl(host.input, F_GETFL) | O_NONBLOCK);
    host.output = out[0];
    host.errors = err[0];
    if (!spawned) return "cannot run the host " + options.host + ": " + spawned.error().message();
    return std::nullopt;
}

// The host's standard output. It normally ends when the host exits; a process the host left
// behind may still hold the pipe open, so once the host is gone, a pause ends it as well. A read
// still waiting at the deadline fails with timed_out.
class HostOutput final : public ByteSource {
public:
    HostOutput(Host& host, std::chrono::seconds limit) : host_(host), limit_(limit) {}

    // The time limit starts again, for the next reply.
    void start_waiting() { deadline_ = std::chrono::steady_clock::now() + limit_; }

    IoResult read_some(char* data, std::size_t size) override {
        for (;;) {
            if (std::chrono::steady_clock::now() >= deadline_)
                return boost::system::errc::make_error_code(boost::system::errc::timed_out);
            pollfd ready{host_.output, POLLIN, 0};
            int count = ::poll(&ready, 1, 100);
            if (count < 0 && errno != EINTR) return last_error();
            if (count > 0) {
                ssize_t n = ::read(host_.output, data, size);
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) return last_error();
                return static_cast<std::size_t>(n);
            }
            if (count == 0 && host_.has_ended()) return std::size_t{0};
        }
    }

private:
    static boost::system::error_code last_error() { return {errno, boost::system::system_category()}; }

    Host& host_;
    std::chrono::seconds limit_;
    std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::now() + limit_;
};

// One line of the host's standard error as it comes in, of which at most the last `limit` bytes
// are held: a host that writes without ever ending a line must not make us hold all it writes.
class HostLine {
public:
    explicit HostLine(std::size_t limit) : limit_(limit) {}

    void append(std::string_view bytes) {
        if (bytes.size() >= limit_) {
            left_out_ += held_.size() + bytes.size() - limit_;
            held_.assign(bytes.substr(bytes.size() - limit_));
            return;
        }
        std::size_t excess = held_.size() + bytes.size() > limit_ ? held_.size() + bytes.size() - limit_ : 0;
        held_.erase(0, excess);
        left_out_ += excess;
        held_.append(bytes);
    }
    bool empty() const { return held_.empty() && left_out_ == 0; }

    // The line for our standard error, and a fresh start for the next one.
    std::string take() {
        std::string line = "host: ";
        if (left_out_ > 0) line += "[" + std::to_string(left_out_) + " bytes left out] ";
        line += held_;
        held_.clear();
        left_out_ = 0;
        return line;
    }

private:
    std::size_t limit_;
    std::string held_;
    std::uint64_t left_out_ = 0;
};

// Copies the host's standard error to ours, each line behind "host: ", until the host has gone
// and its error stream is drained. A line too long for one whole write keeps its end.
void relay_errors(Host& host, ErrorLines& errors) {
    // Room for "host: " and the count of what was left out in one atomic write.
    HostLine line(platform::ATOMIC_PIPE_WRITE - 64);
    char buffer[4096];
    for (;;) {
        pollfd ready{host.errors, POLLIN, 0};
        int count = ::poll(&ready, 1, 100);
        if (count < 0 && errno == EINTR) continue;
        if (count == 0 && host.ended) break;
        if (count < 0) break;
        if (count == 0) continue;
        ssize_t n = ::read(host.errors, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::string_view rest(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos;
             rest.remove_prefix(end + 1)) {
            line.append(rest.substr(0, end));
            errors.say(line.take());
        }
        line.append(rest);
    }
    if (!line.empty()) errors.say(line.take());
}

using Clock = std::chrono::steady_clock;

enum class Sent { All, HostGone, TimedOut };

// Writes one frame holding `message` to `fd`, which is non-blocking; waits for room in the pipe
// until `deadline` (none: as long as it takes). HostGone when the host no longer reads its input.
Sent send(int fd, std::string_view message, std::optional<Clock::time_point> deadline) {
    auto prefix = framing::encode_length(static_cast<std::uint32_t>(message.size()));
    std::string frame(prefix.data(), prefix.size());
    frame.append(message);
    std::string_view rest = frame;
    while (!rest.empty()) {
        ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            int wait_ms = -1;
            if (deadline) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
                if (left.count() <= 0) return Sent::TimedOut;
                wait_ms = static_cast<int>(std::min<long long>(left.count(), 1000 * 1000));
            }
            pollfd room{fd, POLLOUT, 0};
            if (::poll(&room, 1, wait_ms) < 0 && errno != EINTR) return Sent::HostGone;
            continue;
        }
        if (n <= 0) return Sent::HostGone;
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    return Sent::All;
}

// The messages, the replies so far, and what went wrong on the way.
class Exchange {
public:
    Exchange(const Options& options, std::vector<std::string> messages, ErrorLines& errors)
        : options_(options), messages_(std::move(messages)), errors_(errors) {
        for (const auto& message : messages_) request_ids_.push_back(nm_client::request_id(message));
    }

    const std::vector<std::string>& messages() const { return messages_; }

    // Reads and prints replies until one answers the next message that has none yet; a reply
    // on the way that repeats the answer to an earlier message is reported as what it is. False
    // at the end of the host's output, after a frame that leaves the stream out of step, and
    // when the time for a reply runs out (both reported).
    bool take_reply(HostOutput& output) {
        for (;;) {
            output.start_waiting();
            framing::FrameResult frame = framing::read_frame(output);
            if (!frame) {
                report_missing(frame.error());
                return false;
            }
            if (answers_a_message(*frame)) return true;
        }
    }

    // "within N s", the time limit in a report.
    std::string within() const { return "within " + std::to_string(options_.reply_timeout.count()) + " s"; }

    // Reports what did not happen in time; the caller stops the host.
    void ran_out_of_time(const std::string& what) {
        violation(what + "; the host was stopped");
        timed_out_ = true;
    }

    // True once a reply, or the host's end, took longer than the time limit.
    bool timed_out() const { return timed_out_; }

    // The closing report; true when everything went as a browser expects.
    bool finish(Host& host, std::optional<std::size_t> stopped_reading_at) {
        if (options_.transcript) {
            for (std::size_t i = answered_; i < messages_.size(); ++i)
                print("> " + messages_[i] + "\n< (no reply)");
        }
        // A host that ran out of time was stopped here: its count and its end say nothing new.
        if (timed_out_) return false;
        if (stopped_reading_at) {
            errors_.say("nm-client: the host stopped reading its input at message " +
                        std::to_string(*stopped_reading_at + 1));
        }
        if (!out_of_step_ && replies_ != messages_.size()) {
            violation(std::to_string(messages_.size()) +
                      (messages_.size() == 1 ? " message, " : " messages, ") + std::to_string(replies_) +
                      (replies_ == 1 ? " reply" : " replies"));
        }
        bool exited_cleanly = WIFEXITED(host.wait_status) && WEXITSTATUS(host.wait_status) == 0;
        if (WIFEXITED(host.wait_status)) {
            errors_.say("nm-client: the host exited with status " +
                        std::to_string(WEXITSTATUS(host.wait_status)));
        } else if (WIFSIGNALED(host.wait_status)) {
            errors_.say("nm-client: the host was ended by signal " +
                        std::to_string(WTERMSIG(host.wait_status)));
        }
        return !violated_ && exited_cleanly;
    }

private:
    void report_missing(const framing::FrameError& error) {
        if (error.kind == framing::FrameError::Kind::EndOfStream) return;
        if (error.error == boost::system::errc::timed_out) {
            ran_out_of_time(answered_ < messages_.size()
                                ? "no reply to message " + std::to_string(answered_ + 1) + " " + within()
                                : "the host did not end " + within() + " of its last reply");
            return;
        }
        violation("reply " + std::to_string(replies_ + 1) + ": " + framing::display_text(error));
        out_of_step_ = true;
    }

    // Checks and prints one reply; true when it is the answer to the next message. That answer
    // carries the message's request id, or "" when the host could not read one. A reply that
    // carries an earlier message's id instead is a second answer to that one.
    bool answers_a_message(const std::string& body) {
        std::string reply = "reply " + std::to_string(++replies_);
        nm_client::ReplyKind kind = nm_client::check_reply(body);
        std::optional<std::string> id;
        if (kind == nm_client::ReplyKind::HostResponse || kind == nm_client::ReplyKind::CaptureResponse) {
            id = nm_client::request_id(body);
        }
        if (id && id->empty()) id.reset();
        bool all_answered = answered_ == messages_.size();
        if (id && (all_answered || request_ids_[answered_] != id)) {
            auto earlier =
                std::find(request_ids_.begin(), request_ids_.begin() + static_cast<long>(answered_), id);
            if (earlier != request_ids_.begin() + static_cast<long>(answered_)) {
                violation(reply + " is a second reply to message " +
                          std::to_string(earlier - request_ids_.begin() + 1) + " (requestId " +
                          nm_client::excerpt(*id) + ")");
                print_reply(body, kind, std::nullopt);
                return false;
            }
        }
        if (all_answered) {  // one more reply than messages: the closing count tells of it
            print_reply(body, kind, std::nullopt);
            return false;
        }
        const std::optional<std::string>& expected = request_ids_[answered_];
        if (id && expected && *expected != *id) {
            violation(reply + " carries requestId " + nm_client::excerpt(*id) + ", but message " +
                      std::to_string(answered_ + 1) + " has " + nm_client::excerpt(*expected));
        }
        if (kind == nm_client::ReplyKind::NotAReply) {
            violation(reply + " is JSON but no reply of the protocol: " + nm_client::excerpt(body));
        } else if (kind == nm_client::ReplyKind::NotJson) {
            violation(reply + " is not JSON: " + nm_client::excerpt(body));
        }
        print_reply(body, kind, answered_++);
        return true;
    }

    // Prints a reply, in a transcript below the message it answers.
    void print_reply(const std::string& body, nm_client::ReplyKind kind, std::optional<std::size_t> message) {
        if (options_.transcript && message) print("> " + messages_[*message]);
        // A body that is not JSON has been reported; the frame itself was whole.
        if (kind == nm_client::ReplyKind::NotJson) return;
        print((options_.transcript ? "< " : "") + nm_client::reply_line(body));
    }

    void violation(const std::string& text) {
        errors_.say("nm-client: " + text);
        violated_ = true;
    }
    static void print(const std::string& line) {
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

    const Options& options_;
    std::vector<std::string> messages_;
    std::vector<std::optional<std::string>> request_ids_;  // each message's, when it has one
    ErrorLines& errors_;
    std::size_t replies_ = 0;   // frames read
    std::size_t answered_ = 0;  // messages that have their answer
    bool violated_ = false;
    bool out_of_step_ = false;
    bool timed_out_ = false;
};

// The index of the first message the host did not take, if any.
std::optional<std::size_t> send_all(int fd, const std::vector<std::string>& messages) {
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (send(fd, messages[i], std::nullopt) != Sent::All) return i;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    // The host may stop reading before every message is written.
    std::signal(SIGPIPE, SIG_IGN);
    ErrorLines errors;

    auto parsed = parse_options(argc, argv);
    if (auto* complaint = std::get_if<std::string>(&parsed)) {
        if (complaint->empty()) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        errors.say("nm-client: " + *complaint + " (see nm-client --help)");
        return 2;
    }
    const Options& options = std::get<Options>(parsed);

    auto text = read_all(options.message_file);
    if (!text) {
        errors.say("nm-client: cannot read " + options.message_file.value_or("standard input"));
        return 2;
    }
    Exchange exchange(options, nm_client::read_messages(*text), errors);
    for (const auto& message : exchange.messages()) {
        if (message.size() > std::numeric_limits<std::uint32_t>::max()) {
            errors.say("nm-client: a message is too long for any frame");
            return 2;
        }
    }

    Host host;
    if (auto failure = start_host(options, host)) {
        errors.say("nm-client: " + *failure);
        return 2;
    }
    std::thread relay;
    if (host.errors >= 0) relay = std::thread(relay_errors, std::ref(host), std::ref(errors));

    HostOutput output(host, options.reply_timeout);
    std::optional<std::size_t> stopped_reading_at;
    if (options.pipeline) {
        // A second thread writes, so that a host that answers before it reads on is never stuck
        // behind replies that nobody collects.
        std::thread writer([&] {
            stopped_reading_at = send_all(host.input, exchange.messages());
            ::close(host.input);
        });
        while (exchange.take_reply(output)) {
        }
        // A host that ran out of time may not be reading either: the writer is freed by its end.
        if (exchange.timed_out()) ::kill(host.pid, SIGKILL);
        writer.join();
    } else {
        bool in_step = true;
        for (std::size_t i = 0; i < exchange.messages().size() && in_step; ++i) {
            Sent sent = send(host.input, exchange.messages()[i], Clock::now() + options.reply_timeout);
            if (sent == Sent::TimedOut) {
                exchange.ran_out_of_time("the host did not read message " + std::to_string(i + 1) + " " +
                                         exchange.within());
                in_step = false;
                break;
            }
            if (sent == Sent::HostGone) {
                stopped_reading_at = i;
                break;
            }
            in_step = exchange.take_reply(output);
        }
        ::close(host.input);
        // Whatever else the host says after its input has ended still counts.
        while (in_step && exchange.take_reply(output)) {
        }
    }
    // Its output has ended, yet the host may go on running.
    if (!exchange.timed_out() && !host.wait_for(options.reply_timeout)) {
        exchange.ran_out_of_time("the host did not end " + exchange.within() + " of closing its output");
    }
    if (exchange.timed_out() && !host.has_ended()) ::kill(host.pid, SIGKILL);
    ::close(host.output);
    host.wait();
    if (relay.joinable()) relay.join();
    if (host.errors >= 0) ::close(host.errors);
    return exchange.finish(host, stopped_reading_at) ? 0 : 1;
}
