// host_figures: the built ondrake-native-host measured as browsers use it, each figure against a
// baseline run in the same process, interleaved with ours, so that a noisy machine disturbs both
// alike:
//   - cold start: one rejected message, against a C program that reads a frame and writes a
//     fixed reply;
//   - session throughput: accepted requests through one session to the reference application
//     peer, against a C relay that passes frames to the same peer unchecked;
//   - peak resident memory of a long session, and of a short one, to show that it stays flat.
//
// usage: host_figures [--starts N] [--requests N] [--rounds N] [--messages N]

#include "bench/figure_line.hpp"
#include "platform/child_process.hpp"
#include "platform/platform.hpp"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace ondrake;

struct Settings {
    int starts = 400;        // cold starts of each program
    int requests = 20'000;   // messages of one throughput session
    int rounds = 5;          // throughput sessions of each program
    int messages = 100'000;  // messages of the long memory session
};

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "host_figures: %s\n", why.c_str());
    std::exit(1);
}

std::string frame(const std::string& body) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(body.size() >> (8 * i));
    return bytes + body;
}

std::string simple_request(int n, const std::string& url) {
    return R"({"protocolVersion":1,"requestId":"r-)" + std::to_string(n) +
           R"(","action":"download","source":"context_menu","browser":"chrome","url":")" + url + "\"}";
}

std::string read_whole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_whole(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) fail("cannot write " + path.string());
}

// The frames' bodies in `bytes`.
std::vector<std::string> bodies_of(const std::string& bytes) {
    std::vector<std::string> bodies;
    std::size_t at = 0;
    while (at + 4 <= bytes.size()) {
        std::uint32_t length = 0;
        for (int i = 3; i >= 0; --i)
            length = length << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
        if (at + 4 + length > bytes.size()) break;
        bodies.push_back(bytes.substr(at + 4, length));
        at += 4 + length;
    }
    return bodies;
}

// The exit status of `pid` once it has ended; -1 when it did not exit normally.
int wait_for(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) fail("waitpid failed");
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Finished {
    double seconds = 0;
    int status = -1;
};

// Starts `argv` with `environment` and the standard streams that `setup` set up; no other
// descriptor of ours is passed on.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            platform::SpawnSetup& setup) {
    std::vector<std::string> words = argv;
    std::vector<char*> args;
    for (auto& word : words) args.push_back(word.data());
    args.push_back(nullptr);
    std::vector<std::string> env_words = environment;
    std::vector<char*> envp;
    for (auto& word : env_words) envp.push_back(word.data());
    envp.push_back(nullptr);
    setup.only_listed_descriptors();
    auto pid = setup.spawn(args[0], args.data(), envp.data());
    if (!pid) fail("cannot run " + argv[0] + ": " + pid.error().message());
    return *pid;
}

// Runs `argv` with standard input and output on the given files (standard error discarded) and
// waits for it.
Finished run(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
             const fs::path& input, const fs::path& output) {
    platform::SpawnSetup setup;
    setup.open(0, input.c_str(), O_RDONLY);
    setup.open(1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    setup.open(2, "/dev/null", O_WRONLY);
    Finished finished;
    auto start = Clock::now();
    pid_t pid = spawn(argv, environment, setup);
    finished.status = wait_for(pid);
    finished.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return finished;
}

// Runs the host over `input` through pipes and returns its peak resident memory, taken once
// every message has its reply and before the input ends, so that nothing of the session is missed.
std::uint64_t peak_of_session(const std::string& program, const std::vector<std::string>& environment,
                              const std::string& input, std::size_t messages) {
    int to_host[2], from_host[2];
    if (platform::pipe_cloexec(to_host) != 0 || platform::pipe_cloexec(from_host) != 0) fail("pipe failed");
    platform::SpawnSetup setup;
    setup.duplicate(to_host[0], 0);
    setup.duplicate(from_host[1], 1);
    setup.open(2, "/dev/null", O_WRONLY);
    pid_t pid = spawn({program}, environment, setup);
    ::close(to_host[0]);
    ::close(from_host[1]);

    std::thread writer([&] { (void)platform::write_all(to_host[1], input); });
    // Counts reply frames as they arrive.
    std::size_t replies = 0;
    std::string pending;
    char buffer[65536];
    while (replies < messages) {
        ssize_t n = ::read(from_host[0], buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(n));
        auto bodies = bodies_of(pending);
        std::size_t used = 0;
        for (const auto& body : bodies) used += 4 + body.size();
        replies += bodies.size();
        pending.erase(0, used);
    }
    auto peak = platform::peak_resident_bytes(pid);
    writer.join();
    ::close(to_host[1]);
    ::close(from_host[0]);
    int status = wait_for(pid);
    if (replies != messages || status != 0 || !peak) fail("the memory session did not answer every message");
    return *peak;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double mean(const std::vector<double>& values) {
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

void print_header() {
    std::printf("%-34s %14s %14s %7s  %s\n", "figure", "ours", "baseline", "ratio", "goal");
}

void print_figure(const std::string& name, const std::string& ours, const std::string& baseline, double ratio,
                  const std::string& goal) {
    std::printf("%-34s %14s %14s %7.2f  %s\n", name.c_str(), ours.c_str(), baseline.c_str(), ratio,
                goal.c_str());
    std::fflush(stdout);
}

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// The reference application peer, started without a log, stopped at the end.
class Peer {
public:
    Peer(const fs::path& program, const std::string& socket, const std::vector<std::string>& environment,
         const fs::path& scratch) {
        fs::path ready = scratch / "peer-ready";
        fs::remove(ready);
        platform::SpawnSetup setup;
        setup.open(0, "/dev/null", O_RDONLY);
        setup.open(1, "/dev/null", O_WRONLY);
        setup.open(2, "/dev/null", O_WRONLY);
        pid_ =
            spawn({program.string(), "--socket", socket, "--ready-file", ready.string()}, environment, setup);
        auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!fs::exists(ready)) {
            if (Clock::now() > deadline) fail("app-peer did not get ready");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~Peer() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

private:
    pid_t pid_ = -1;
};

class Figures {
public:
    Figures(fs::path bin, Settings settings) : bin_(std::move(bin)), settings_(settings) {
        std::string pattern = "/tmp/ondrake-figures-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) fail("mkdtemp failed");
        scratch_ = pattern;
        home_ = scratch_ / "home";
        fs::create_directories(home_);
        for (char** entry = environ; *entry != nullptr; ++entry) {
            std::string_view text(*entry);
            if (text.rfind("HOME=", 0) != 0 && text.rfind("ONDRAKE_DOWNLOAD_EXE=", 0) != 0)
                environment_.emplace_back(text);
        }
        environment_.push_back("HOME=" + home_.string());
        environment_.push_back("ONDRAKE_DOWNLOAD_EXE=");  // never start anything
    }
    ~Figures() {
        std::error_code ignored;
        fs::remove_all(scratch_, ignored);
    }

    void cold_start() {
        fs::path input = scratch_ / "one-message";
        fs::path output = scratch_ / "one-reply";
        write_whole(input, frame(simple_request(1, "ftp://example.test/f")));
        const std::vector<std::string> ours{(bin_ / "ondrake-native-host").string()};
        const std::vector<std::string> baseline{(bin_ / "minimal_host").string()};
        expect_replies(ours, input, output, {R"("code":"UNSUPPORTED_SCHEME")"});
        expect_replies(baseline, input, output, {R"("code":"UNSUPPORTED_SCHEME")"});

        std::vector<double> our_times, baseline_times;
        for (int i = 0; i < settings_.starts; ++i) {
            // Alternating which goes first, so that neither always runs on a warmer cache.
            bool ours_first = i % 2 == 0;
            for (int turn = 0; turn < 2; ++turn) {
                bool mine = (turn == 0) == ours_first;
                Finished finished = run(mine ? ours : baseline, environment_, input, output);
                (mine ? our_times : baseline_times).push_back(finished.seconds * 1e3);
            }
        }
        print_figure("cold start, median of " + std::to_string(settings_.starts),
                     format("%.3f ms", median(our_times)), format("%.3f ms", median(baseline_times)),
                     median(our_times) / median(baseline_times), "<= 1.5");
        print_figure("cold start, mean of " + std::to_string(settings_.starts),
                     format("%.3f ms", mean(our_times)), format("%.3f ms", mean(baseline_times)),
                     mean(our_times) / mean(baseline_times), "<= 1.5");
        bench::print_figure_line(
            "cold start vs a minimal C host, median of " + std::to_string(settings_.starts),
            median(our_times), median(baseline_times), "ms", "ratio <= 1.5");
        bench::print_figure_line(
            "cold start vs a minimal C host, mean of " + std::to_string(settings_.starts), mean(our_times),
            mean(baseline_times), "ms", "ratio <= 1.5");
    }

    void throughput() {
        std::string socket = socket_path();
        Peer peer(bin_ / "app-peer", socket, environment_, scratch_);
        fs::path host_input = scratch_ / "host-requests";
        fs::path relay_input = scratch_ / "relay-requests";
        fs::path output = scratch_ / "replies";
        std::string host_bytes, relay_bytes;
        for (int n = 1; n <= settings_.requests; ++n) {
            std::string url = "https://example.test/file-" + std::to_string(n);
            host_bytes += frame(simple_request(n, url));
            relay_bytes += frame(R"({"protocolVersion":1,"requestId":"r-)" + std::to_string(n) +
                                 R"(","url":")" + url + "\"}");
        }
        write_whole(host_input, host_bytes);
        write_whole(relay_input, relay_bytes);
        const std::vector<std::string> ours{(bin_ / "ondrake-native-host").string()};
        const std::vector<std::string> baseline{(bin_ / "minimal_relay").string(), socket};
        const std::vector<std::string> accepted(static_cast<std::size_t>(settings_.requests),
                                                R"("code":"ACCEPTED")");

        std::vector<double> our_times, baseline_times;
        for (int round = 0; round < settings_.rounds; ++round) {
            bool ours_first = round % 2 == 0;
            for (int turn = 0; turn < 2; ++turn) {
                bool mine = (turn == 0) == ours_first;
                Finished finished =
                    run(mine ? ours : baseline, environment_, mine ? host_input : relay_input, output);
                if (round == 0) check_replies(mine ? ours : baseline, read_whole(output), accepted);
                (mine ? our_times : baseline_times).push_back(finished.seconds);
            }
        }
        double ours_rate = settings_.requests / median(our_times);
        double baseline_rate = settings_.requests / median(baseline_times);
        print_figure("session, " + std::to_string(settings_.requests) + " requests, median of " +
                         std::to_string(settings_.rounds),
                     format("%.3f s", median(our_times)), format("%.3f s", median(baseline_times)),
                     median(our_times) / median(baseline_times), "<= 1.3");
        print_figure("  (requests per second)", format("%.0f/s", ours_rate), format("%.0f/s", baseline_rate),
                     baseline_rate / ours_rate, "");
        bench::print_figure_line("session, " + std::to_string(settings_.requests) +
                                     " requests vs a C relay, median of " + std::to_string(settings_.rounds),
                                 median(our_times), median(baseline_times), "s", "ratio <= 1.3");
    }

    void memory() {
        std::string socket = socket_path();
        Peer peer(bin_ / "app-peer", socket, environment_, scratch_);
        // Every kind of message the host handles: delivered requests and capture steps,
        // rejections, a body that is no JSON at all.
        auto input_of = [](int count) {
            std::string bytes;
            for (int n = 1; n <= count; ++n) {
                std::string id = std::to_string(n);
                switch (n % 5) {
                    case 0: bytes += frame(simple_request(n, "https://example.test/" + id)); break;
                    case 1:
                        bytes += frame(
                            R"({"protocolVersion":4,"requestId":"r-)" + id + R"(","captureId":"c-)" + id +
                            R"(","action":"capture_prepare","source":"automatic_download","url":"https://example.test/f.zip",)"
                            R"("cookies":[{"name":"sid","value":"v","path":"/","secure":true}]})");
                        break;
                    case 2: bytes += frame(simple_request(n, "ftp://example.test/" + id)); break;
                    case 3: bytes += frame("hello"); break;
                    default:
                        bytes += frame(simple_request(n,
                                                      "https://B\xC3\xBC"
                                                      "cher.example/\xC3\xBC?" +
                                                          id));
                        break;
                }
            }
            return bytes;
        };
        std::uint64_t peaks[2] = {0, 0};
        const int counts[2] = {1'000, settings_.messages};
        for (int i = 0; i < 2; ++i) {
            peaks[i] = peak_of_session((bin_ / "ondrake-native-host").string(), environment_,
                                       input_of(counts[i]), static_cast<std::size_t>(counts[i]));
        }
        const double mib = 1024.0 * 1024.0;
        const double peak_mib[2] = {static_cast<double>(peaks[0]) / mib, static_cast<double>(peaks[1]) / mib};
        print_figure("peak memory, " + std::to_string(counts[1]) + " messages",
                     format("%.2f MiB", peak_mib[1]), format("%.2f MiB", peak_mib[0]),
                     static_cast<double>(peaks[1]) / static_cast<double>(peaks[0]),
                     "<= 8 MiB; ratio ~1 (baseline: 1000 messages)");
        // Flat: a long session peaks no higher than a short one, allowing for allocator noise.
        bench::print_figure_line("peak memory, " + std::to_string(counts[1]) + " messages", peak_mib[1],
                                 std::nullopt, "MiB", "<= 8");
        bench::print_figure_line("peak memory growth, " + std::to_string(counts[1]) + " vs " +
                                     std::to_string(counts[0]) + " messages",
                                 peak_mib[1], peak_mib[0], "MiB", "ratio <= 1.1");
    }

private:
    std::string socket_path() const {
        return (home_ / "Library/Application Support/OndrakeDownload/ipc/browser.sock").string();
    }

    // Runs the program once and checks that its replies contain `parts`, one for each.
    void expect_replies(const std::vector<std::string>& argv, const fs::path& input, const fs::path& output,
                        const std::vector<std::string>& parts) {
        Finished finished = run(argv, environment_, input, output);
        if (finished.status != 0) fail(argv[0] + " did not exit with 0");
        check_replies(argv, read_whole(output), parts);
    }

    static void check_replies(const std::vector<std::string>& argv, const std::string& output,
                              const std::vector<std::string>& parts) {
        auto replies = bodies_of(output);
        if (replies.size() != parts.size()) {
            fail(argv[0] + " answered " + std::to_string(replies.size()) + " of " +
                 std::to_string(parts.size()) + " messages");
        }
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (replies[i].find(parts[i]) == std::string::npos) fail(argv[0] + " replied " + replies[i]);
        }
    }

    fs::path bin_;
    Settings settings_;
    fs::path scratch_;
    fs::path home_;
    std::vector<std::string> environment_;
};

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        int value = std::atoi(argv[i + 1]);
        if (value <= 0) fail("a positive number must follow " + option);
        if (option == "--starts") settings.starts = value;
        else if (option == "--requests") settings.requests = value;
        else if (option == "--rounds") settings.rounds = value;
        else if (option == "--messages") settings.messages = value;
        else fail("unknown option " + option);
    }
    if (argc % 2 == 0) fail("options come in pairs: --starts N --requests N --rounds N --messages N");
    auto self = platform::running_executable_path();
    if (!self) fail("cannot tell where this program is");
    std::signal(SIGPIPE, SIG_IGN);

    Figures figures(fs::path(*self).parent_path(), settings);
    print_header();
    figures.cold_start();
    figures.throughput();
    figures.memory();
    return 0;
}
