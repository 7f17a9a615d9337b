// The built ondrake-native-host as a browser runs it: its own process, a throwaway HOME, the
// reference application peer on the per-user socket, frames on standard input.
#include "browser-native-host/messages/framing.hpp"
#include "browser-native-host/tests/support/program_run.hpp"
#include "browser-native-host/tests/support/session_messages.hpp"
#include "browser-native-host/tests/support/test_support.hpp"
#include "tools/app-peer/peer_process.hpp"

#include <boost/json.hpp>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <functional>

namespace ondrake {
namespace {

using namespace test;

const std::string HOST = std::string(ONDRAKE_BIN_DIR) + "/ondrake-native-host";
const std::string APP_PEER = std::string(ONDRAKE_BIN_DIR) + "/app-peer";

class HostSession : public testing::Test {
protected:
    std::string socket_path() const {
        return home_ / "Library/Application Support/OndrakeDownload/ipc/browser.sock";
    }

    app_peer::PeerProcess start_peer() {
        auto peer = app_peer::PeerProcess::start(APP_PEER, {socket_path()}, {}, scratch_.path().string());
        if (!peer) throw std::runtime_error("app-peer did not start");
        return std::move(*peer);
    }

    // Runs the host over `input` with HOME set to the throwaway home (or unset), and no way to
    // start an application: a launch fails at once.
    test::ProgramRun run_host(std::string input, bool with_home = true, test::ProgramOptions options = {}) {
        options.input = std::move(input);
        options.environment.emplace_back(
            "HOME", with_home ? std::optional<std::string>(home_.path().string()) : std::nullopt);
        options.environment.emplace_back("ONDRAKE_DOWNLOAD_EXE", "");
        return test::run_program(HOST, options);
    }

    test::TempDir home_;
    test::TempDir scratch_;
};

std::vector<std::string> received_urls(const app_peer::PeerProcess& peer) {
    std::vector<std::string> urls;
    for (const auto& line : peer.log_lines()) {
        auto entry = boost::json::parse(line).as_object();
        urls.emplace_back(entry["received"].as_object()["url"].as_string());
    }
    return urls;
}

TEST_F(HostSession, AcceptedRequestReachesTheApplicationNormalised) {
    auto peer = start_peer();
    auto run = run_host(framed(simple("r-1", "HTTPS://Example.TEST:443/a#top")));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, framed(host_reply("r-1", "accepted", "ACCEPTED")));
    EXPECT_EQ(run.err, host_log({"request r-1 -> Accepted"}));
    peer.stop();
    EXPECT_EQ(received_urls(peer), std::vector<std::string>{"https://example.test/a"});
}

// The host executable carries only the ICU data that UTS #46 needs (whatwg-url/icu-data/): an
// international host name must still reach the application in its ASCII form, not be refused.
TEST_F(HostSession, InternationalHostReachesTheApplicationInAsciiForm) {
    auto peer = start_peer();
    auto run = run_host(framed(simple("r-1", "https://B\u00fccher.EXAMPLE.test/a")));
    EXPECT_EQ(run.out, framed(host_reply("r-1", "accepted", "ACCEPTED")));
    peer.stop();
    EXPECT_EQ(received_urls(peer), std::vector<std::string>{"https://xn--bcher-kva.example.test/a"});
}

TEST_F(HostSession, ThreeFramesInOneWriteAreAnsweredInOrder) {
    auto peer = start_peer();
    auto run = run_host(
        frames({simple("r-1", "https://example.test/1"), "hello", simple("r-3", "https://example.test/3")}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, frames({host_reply("r-1", "accepted", "ACCEPTED"), INVALID,
                               host_reply("r-3", "accepted", "ACCEPTED")}));
    EXPECT_EQ(run.err, host_log({"request r-1 -> Accepted", "request r-3 -> Accepted"}));
    peer.stop();
    EXPECT_EQ(received_urls(peer),
              (std::vector<std::string>{"https://example.test/1", "https://example.test/3"}));
}

TEST_F(HostSession, CaptureWithoutHomeIsUnavailableWithoutAnyAttempt) {
    auto run = run_host(framed(R"({"protocolVersion":4,"requestId":"r-2","captureId":"c-2",)"
                               R"("action":"capture_status","source":"automatic_download"})"),
                        false);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(
        run.out,
        framed(
            R"({"protocolVersion":4,"requestId":"r-2","captureId":"c-2","status":"unknown","code":"APP_UNAVAILABLE"})"));
    // No launch either: a launch would have printed its own failure.
    EXPECT_EQ(run.err, host_log({"no per-user endpoint is available",
                                 "capture c-2 CaptureStatus -> Unknown/AppUnavailable"}));
}

TEST_F(HostSession, UnreachableApplicationThatCannotBeStarted) {
    auto run = run_host(framed(simple("r-1", "https://example.test/")));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, framed(host_reply("r-1", "unavailable", "APP_UNAVAILABLE")));
    EXPECT_EQ(run.err,
              host_log({"stage=app_locate kind=NotFound os_error=none", "request r-1 -> AppUnavailable"}));
}

// Some parents start the host with SIGCHLD ignored, which survives exec. The application the
// host starts must still count as started, and the request reach it on a retry.
TEST_F(HostSession, ApplicationStartedWhileChildSignalIsIgnoredIsReached) {
    const std::string pid_file = scratch_ / "app-peer.pid";
    const std::string log_file = scratch_ / "application.log";
    const std::string starter = scratch_ / "start-application";
    test::write_file(starter, "#!/bin/sh\n\"" + APP_PEER + "\" --socket \"" + socket_path() + "\" --log \"" +
                                  log_file + "\" </dev/null >/dev/null 2>&1 &\necho $! >\"" + pid_file +
                                  "\"\n");
    ASSERT_EQ(::chmod(starter.c_str(), 0755), 0);

    test::ProgramOptions options;
    options.child_signal_ignored = true;
    options.input = framed(simple("r-1", "https://example.test/"));
    options.environment.emplace_back("HOME", home_.path().string());
    options.environment.emplace_back("ONDRAKE_DOWNLOAD_EXE", starter);
    auto run = test::run_program(HOST, options);

    // The peer is not our child: it is stopped by its number and left to the system to collect.
    auto pid = test::read_file(pid_file);
    ASSERT_TRUE(pid.has_value());
    std::optional<std::string> log;
    EXPECT_TRUE(test::wait_until([&] { return (log = test::read_file(log_file)) && !log->empty(); }));
    ::kill(std::stoi(*pid), SIGTERM);

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, framed(host_reply("r-1", "accepted", "ACCEPTED")));
    EXPECT_EQ(run.err, host_log({"stage=app_spawn in_job=n/a breakaway_ok=n/a silent_breakaway_ok=n/a",
                                 "request r-1 -> Accepted"}));
}

struct FrameErrorCase {
    const char* name;
    std::string input;
    std::string log_line;
    std::string replies_before;  // replies to the whole frames in front of the bad one
};

void PrintTo(const FrameErrorCase& c, std::ostream* out) { *out << c.name; }

class HostFrameErrors : public HostSession, public testing::WithParamInterface<FrameErrorCase> {};

TEST_P(HostFrameErrors, AnsweredOnceThenTheHostExitsNormally) {
    auto run = run_host(GetParam().input);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, GetParam().replies_before + framed(INVALID));
    EXPECT_EQ(run.err, host_log({GetParam().log_line}));
}

INSTANTIATE_TEST_SUITE_P(
    Input, HostFrameErrors,
    testing::Values(
        // The declared body follows in full, and another frame after it: none of it is read.
        FrameErrorCase{"declared_70000_bytes", prefix(70000) + std::string(70000, 'x') + framed("hello"),
                       "the frame declared 70000 bytes, over the 65536 limit", ""},
        FrameErrorCase{"declared_big_endian_one", std::string("\0\0\0\x01", 4),
                       "the frame declared 16777216 bytes, over the 65536 limit", ""},
        FrameErrorCase{"two_of_four_prefix_bytes", std::string("\x05\x00", 2), "the frame was truncated", ""},
        FrameErrorCase{"body_cut_short", framed("hello") + prefix(5) + "he", "the frame was truncated",
                       framed(INVALID)},
        FrameErrorCase{"empty_frame", prefix(0) + framed("hello"), "the frame was empty", ""}),
    [](const auto& param_info) { return param_info.param.name; });

TEST_F(HostSession, EmptyInputEndsAtOnceAndQuietly) {
    auto run = run_host("");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST_F(HostSession, ClosedInputEndsQuietly) {
    test::ProgramOptions options;
    options.input_closed = true;
    auto run = run_host("", true, options);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST_F(HostSession, RepliesStillWrittenWithoutStandardError) {
    for (test::Stream err : {test::Stream::Closed, test::Stream::Unread}) {
        SCOPED_TRACE(err == test::Stream::Closed ? "closed" : "unread pipe");
        auto peer = start_peer();
        test::ProgramOptions options;
        options.err = err;
        auto run = run_host(
            frames({simple("r-1", "https://example.test/1"), simple("r-2", "https://example.test/2")}), true,
            options);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, frames({host_reply("r-1", "accepted", "ACCEPTED"),
                                   host_reply("r-2", "accepted", "ACCEPTED")}));
        peer.stop();
        EXPECT_EQ(received_urls(peer),
                  (std::vector<std::string>{"https://example.test/1", "https://example.test/2"}));
    }
}

TEST_F(HostSession, UnreadStandardOutputIsReportedAndTheSessionGoesOn) {
    auto peer = start_peer();
    test::ProgramOptions options;
    options.out = test::Stream::Unread;
    auto run = run_host(
        frames({simple("r-1", "https://example.test/1"), "hello", simple("r-3", "https://example.test/3")}),
        true, options);
    EXPECT_EQ(run.status, 0);
    const std::string_view failure = "could not write a response: the stream failed";
    EXPECT_EQ(run.err,
              host_log({"request r-1 -> Accepted", failure, failure, "request r-3 -> Accepted", failure}));
    peer.stop();
    EXPECT_EQ(received_urls(peer),
              (std::vector<std::string>{"https://example.test/1", "https://example.test/3"}));
}

// Standard streams as a parent may hand them over: a pipe whose open file description is in
// non-blocking mode (shared with the parent, so not ours to change), read or written late, and a
// standard error that nobody reads. Every message is still answered.
struct StreamCase {
    const char* name;
    test::ProgramOptions options;
    std::vector<std::string> messages;
    bool with_home;
    std::function<std::string(std::size_t)> reply;  // the reply to message n (from 1)
    std::function<std::string(std::size_t)> log;    // the log line of message n, or none
    bool log_fills_the_pipe;  // standard error holds only the lines that found room in its pipe
};

void PrintTo(const StreamCase& c, std::ostream* out) { *out << c.name; }

class HostStreams : public HostSession, public testing::WithParamInterface<StreamCase> {};

TEST_P(HostStreams, EveryMessageAnswered) {
    const StreamCase& c = GetParam();
    std::string input;
    std::string replies;
    std::string log = c.with_home ? "" : host_log({"no per-user endpoint is available"});
    for (std::size_t n = 1; n <= c.messages.size(); ++n) {
        input += framed(c.messages[n - 1]);
        replies += framed(c.reply(n));
        if (c.log) log += host_log({c.log(n)});
    }
    test::ProgramOptions options = c.options;
    options.limit = std::chrono::seconds(20);
    auto run = run_host(input, c.with_home, options);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.size(), replies.size());
    EXPECT_TRUE(run.out == replies) << "the replies differ";
    if (!c.log_fills_the_pipe) {
        EXPECT_TRUE(run.err == log) << run.err.substr(0, 300);
        return;
    }
    // The lines that found room, whole and in order, and not all of them: the pipe did fill.
    EXPECT_FALSE(run.err.empty());
    EXPECT_LT(run.err.size(), log.size());
    EXPECT_EQ(log.substr(0, run.err.size()), run.err);
    EXPECT_EQ(run.err.back(), '\n');
}

test::ProgramOptions non_blocking(std::chrono::milliseconds input_delay,
                                  test::Stream out = test::Stream::Captured,
                                  std::chrono::milliseconds reading_delay = {}) {
    test::ProgramOptions options;
    options.non_blocking_pipes = true;
    options.input_delay = input_delay;
    options.out = out;
    options.reading_delay = reading_delay;
    return options;
}

test::ProgramOptions undrained_error() {
    test::ProgramOptions options;
    options.err = test::Stream::Undrained;
    return options;
}

std::vector<std::string> numbered_requests(std::size_t count) {
    std::vector<std::string> messages;
    for (std::size_t n = 1; n <= count; ++n) {
        messages.push_back(simple("r-" + std::to_string(n), "https://example.test/" + std::to_string(n)));
    }
    return messages;
}

std::string rejection(std::size_t) { return INVALID; }

// Each is well over what a pipe holds: 3,000 replies of 80 bytes, 3,000 log lines of 50.
INSTANTIATE_TEST_SUITE_P(
    Parents, HostStreams,
    testing::Values(
        // The host finds no input at first, and its frames come half a second later.
        StreamCase{"non_blocking_input_written_late", non_blocking(std::chrono::milliseconds(500)),
                   std::vector<std::string>(3, "hello"), true, rejection, nullptr, false},
        // The host fills its standard output long before anybody reads it.
        StreamCase{"non_blocking_output_read_late",
                   non_blocking({}, test::Stream::Piped, std::chrono::seconds(1)),
                   std::vector<std::string>(3000, "hello"), true, rejection, nullptr, false},
        StreamCase{"error_stream_nobody_reads", undrained_error(), numbered_requests(3000), false,
                   [](std::size_t n) {
                       return host_reply("r-" + std::to_string(n), "unavailable", "APP_UNAVAILABLE");
                   },
                   [](std::size_t n) { return "request r-" + std::to_string(n) + " -> AppUnavailable"; },
                   true}),
    [](const auto& param_info) { return param_info.param.name; });

// Started with standard output closed, the host must not let a socket or other descriptor of
// its own take number 1: replies would then go where they do not belong.
TEST_F(HostSession, ClosedStandardOutputLeavesOtherDescriptorsAlone) {
    auto peer = start_peer();
    test::ProgramOptions options;
    options.out = test::Stream::Closed;
    auto run =
        run_host(frames({simple("r-1", "https://example.test/1"), simple("r-2", "https://example.test/2")}),
                 true, options);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, host_log({"request r-1 -> Accepted", "request r-2 -> Accepted"}));
    peer.stop();
    auto lines = peer.log_lines();
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& line : lines)
        EXPECT_EQ(boost::json::parse(line).as_object()["kind"], "IpcRequest") << line;
}

// The sanitizer runtimes need descriptors of their own (UBSan checks memory through a pipe), so a
// sanitized host cannot run this short of them.
TEST_F(HostSession, NoDescriptorsForTheEventLoop) {
#if defined(ONDRAKE_SANITIZED)
    GTEST_SKIP() << "the sanitizer runtimes need descriptors of their own";
#endif
    test::ProgramOptions options;
    // Standard streams and one descriptor for the dynamic loader: none left for the event loop.
    options.descriptor_limit = 4;
    auto run = run_host(framed(simple("r-1", "https://example.test/")), true, options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, host_log({"could not start the async runtime"}));
}

}  // namespace
}  // namespace ondrake
