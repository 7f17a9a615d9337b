// nm-client as its users run it: against our host with the reference application peer, and
// against small hosts that break the channel on purpose.
#include "browser-native-host/tests/support/program_run.hpp"
#include "browser-native-host/tests/support/session_messages.hpp"
#include "browser-native-host/tests/support/test_support.hpp"
#include "platform/platform.hpp"
#include "tools/app-peer/peer_process.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace ondrake {
namespace {

using namespace test;

const std::string NM_CLIENT = std::string(ONDRAKE_BIN_DIR) + "/nm-client";
const std::string APP_PEER = std::string(ONDRAKE_BIN_DIR) + "/app-peer";

const std::string MESSAGES = "# an accepted download, its URL normalised on the way\n" +
                             simple("r-1", "HTTPS://Example.TEST:443/a#top") + "\n\n" + "hello\n" +
                             capture("c-9", "capture_prepare", "https://example.test/file.zip") + "\n" +
                             simple("r-4", "ftp://example.test/f") + "\n";

const std::vector<std::string> REPLIES = {
    host_reply("r-1", "accepted", "ACCEPTED"),
    INVALID,
    capture_reply("c-9", "prepared", "CAPTURE_PREPARED"),
    host_reply("r-4", "rejected", "UNSUPPORTED_SCHEME"),
};

std::string lines(const std::vector<std::string>& texts) {
    std::string text;
    for (const auto& line : texts) text += line + "\n";
    return text;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class NmClient : public testing::Test {
protected:
    void SetUp() override {
        auto started = app_peer::PeerProcess::start(
            APP_PEER, {home_ / "Library/Application Support/OndrakeDownload/ipc/browser.sock"}, {},
            scratch_.path().string());
        ASSERT_TRUE(started) << "app-peer did not start";
        peer_.emplace(std::move(*started));
    }

    ProgramRun run_client(std::vector<std::string> arguments, std::string input) {
        ProgramOptions options;
        options.arguments = std::move(arguments);
        options.input = std::move(input);
        options.environment = {{"HOME", home_.path().string()}, {"ONDRAKE_DOWNLOAD_EXE", ""}};
        return run_program(NM_CLIENT, options);
    }

    TempDir home_;
    TempDir scratch_;
    std::optional<app_peer::PeerProcess> peer_;
};

TEST_F(NmClient, RepliesOfOurHostOneJsonLineEach) {
    for (bool pipeline : {false, true}) {
        SCOPED_TRACE(pipeline ? "pipeline" : "one at a time");
        std::vector<std::string> arguments;
        if (pipeline) arguments.push_back("--pipeline");
        auto run = run_client(arguments, MESSAGES);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, lines(REPLIES));
        EXPECT_EQ(run.err,
                  lines({"host: ondrake-native-host: request r-1 -> Accepted",
                         "host: ondrake-native-host: capture c-9 CapturePrepare -> Prepared/CapturePrepared",
                         "nm-client: the host exited with status 0"}));
    }
}

TEST_F(NmClient, MessagesFromAFileAndTheHostsLogInAnother) {
    std::string messages = scratch_ / "messages.txt";
    std::string host_log = scratch_ / "host.log";
    write_file(messages, MESSAGES);
    auto run = run_client({"--stderr", host_log, messages, "--", "chrome-extension://abc/"}, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, lines(REPLIES));
    EXPECT_EQ(run.err, "nm-client: the host exited with status 0\n");
    EXPECT_EQ(read_file(host_log),
              lines({"ondrake-native-host: request r-1 -> Accepted",
                     "ondrake-native-host: capture c-9 CapturePrepare -> Prepared/CapturePrepared"}));
}

TEST_F(NmClient, TranscriptPairsMessagesWithReplies) {
    auto run = run_client({"--transcript", "--stderr", "/dev/null"},
                          "hello\n" + simple("r-2", "https://example.test/") + "\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, lines({"> hello", "< " + INVALID, "> " + simple("r-2", "https://example.test/"),
                              "< " + host_reply("r-2", "accepted", "ACCEPTED")}));
}

// A frame error ends our host's session: the messages after it get no reply.
TEST_F(NmClient, HostThatEndsEarlyLeavesMessagesUnanswered) {
    std::string oversized = std::string(70000, ' ') + "{}";
    auto run = run_client({"--transcript"}, oversized + "\nhello\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, lines({"> " + oversized, "< " + INVALID, "> hello", "< (no reply)"}));
    EXPECT_TRUE(contains(run.err,
                         "host: ondrake-native-host: the frame declared 70002 bytes, over the 65536 limit\n"))
        << run.err;
    EXPECT_TRUE(contains(run.err, "nm-client: 2 messages, 1 reply\n")) << run.err;
    EXPECT_TRUE(contains(run.err, "nm-client: the host exited with status 0\n")) << run.err;
}

// A shell script that writes `bytes` to its standard output, then exits with `status`.
std::string script_writing(const std::string& bytes, int status = 0) {
    std::string escaped;
    for (char byte : bytes) {
        char octal[8];
        std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned char>(byte));
        escaped += octal;
    }
    return "#!/bin/sh\nprintf '" + escaped + "'\nexit " + std::to_string(status) + "\n";
}

// A host that writes `bytes`, then runs the shell commands `rest` instead of exiting.
std::string script_writing_then(const std::string& bytes, std::string_view rest) {
    std::string script = script_writing(bytes);
    return script.substr(0, script.rfind("exit ")) + std::string(rest) + "\n";
}

// A host that answers every message twice, with the message's request id.
std::string two_replies_to_each() {
    return "#!/usr/bin/env python3\n"
           "import json, struct, sys\n"
           "while len(prefix := sys.stdin.buffer.read(4)) == 4:\n"
           "    message = json.loads(sys.stdin.buffer.read(struct.unpack('<I', prefix)[0]))\n"
           "    reply = json.dumps({'protocolVersion': 1, 'requestId': message['requestId'],\n"
           "                        'status': 'accepted', 'code': 'ACCEPTED'}, separators=(',', ':')).encode()\n"
           "    sys.stdout.buffer.write(2 * (struct.pack('<I', len(reply)) + reply))\n"
           "    sys.stdout.buffer.flush()\n";
}

std::string numbered_messages(int count) {
    std::string text;
    for (int n = 1; n <= count; ++n) text += simple("r-" + std::to_string(n), "https://example.test/") + "\n";
    return text;
}

std::string replies_twice(int count) {
    std::string text;
    for (int n = 1; n <= count; ++n) {
        std::string reply = host_reply("r-" + std::to_string(n), "accepted", "ACCEPTED") + "\n";
        text += reply + reply;
    }
    return text;
}

struct BrokenHostCase {
    const char* name;
    std::string script;
    std::string report;                  // the line nm-client must print, without its "nm-client: " prefix
    std::string out;                     // what it prints on standard output
    std::vector<std::string> options{};  // nm-client's, besides --host
    std::string input = "{}\n";
};

void PrintTo(const BrokenHostCase& c, std::ostream* out) { *out << c.name; }

class BrokenHost : public testing::TestWithParam<BrokenHostCase> {};

TEST_P(BrokenHost, ReportedPlainlyWithAFailingStatus) {
    const BrokenHostCase& c = GetParam();
    TempDir dir;
    std::string host = dir / "host.sh";
    write_file(host, c.script);
    std::filesystem::permissions(host, std::filesystem::perms::owner_all);
    ProgramOptions options;
    options.arguments = {"--host", host};
    options.arguments.insert(options.arguments.end(), c.options.begin(), c.options.end());
    options.input = c.input;
    // Each case ends within its one-second limits: a hang fails here in seconds.
    options.limit = std::chrono::seconds(10);
    auto run = run_program(NM_CLIENT, options);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, "nm-client: " + c.report + "\n")) << run.err;
    EXPECT_EQ(run.out, c.out);
}

const std::string REPLY = host_reply("", "rejected", "INVALID_MESSAGE");

INSTANTIATE_TEST_SUITE_P(
    Replies, BrokenHost,
    testing::Values(
        BrokenHostCase{"empty_frame", script_writing(prefix(0)), "reply 1: the frame was empty", ""},
        BrokenHostCase{"frame_over_the_limit", script_writing(prefix(65537)),
                       "reply 1: the frame declared 65537 bytes, over the 65536 limit", ""},
        BrokenHostCase{"frame_cut_short", script_writing(prefix(10) + "{\"a\""),
                       "reply 1: the frame was truncated", ""},
        BrokenHostCase{"prefix_cut_short", script_writing(std::string("\x05\x00", 2)),
                       "reply 1: the frame was truncated", ""},
        BrokenHostCase{"not_json", script_writing(framed("hello\x01")), "reply 1 is not JSON: hello\\x01",
                       ""},
        BrokenHostCase{"json_but_no_reply", script_writing(framed(R"({"ok":true})")),
                       R"(reply 1 is JSON but no reply of the protocol: {"ok":true})", "{\"ok\":true}\n"},
        BrokenHostCase{"no_reply", script_writing(""), "1 message, 0 replies", ""},
        BrokenHostCase{"two_replies", script_writing(framed(REPLY) + framed(REPLY)), "1 message, 2 replies",
                       REPLY + "\n" + REPLY + "\n"},
        // Lock-step: each second reply is read while the next message waits for its own, and
        // named for what it is. 2,000 of them are far more than a pipe holds.
        BrokenHostCase{"two_replies_to_each_of_2000_messages",
                       two_replies_to_each(),
                       "reply 4000 is a second reply to message 2000 (requestId r-2000)",
                       replies_twice(2000),
                       {"--reply-timeout", "5"},
                       numbered_messages(2000)},
        BrokenHostCase{"failing_exit", script_writing(framed(REPLY), 3), "the host exited with status 3",
                       REPLY + "\n"},
        BrokenHostCase{"killed", "#!/bin/sh\nkill -9 $$\n", "the host was ended by signal 9", ""},
        BrokenHostCase{"never_replies",
                       "#!/bin/sh\nexec sleep 600\n",
                       "no reply to message 1 within 1 s; the host was stopped",
                       "",
                       {"--reply-timeout", "1"}},
        BrokenHostCase{"never_replies_to_a_pipeline",
                       "#!/bin/sh\nexec sleep 600\n",
                       "no reply to message 1 within 1 s; the host was stopped",
                       "",
                       {"--pipeline", "--reply-timeout", "1"}},
        BrokenHostCase{"never_reads_a_message_larger_than_the_pipe",
                       "#!/bin/sh\nexec sleep 600\n",
                       "the host did not read message 1 within 1 s; the host was stopped",
                       "",
                       {"--reply-timeout", "1"},
                       std::string(1 << 20, 'x') + "\n"},
        BrokenHostCase{"never_ends_after_its_reply",
                       script_writing_then(framed(REPLY), "exec sleep 600"),
                       "the host did not end within 1 s of its last reply; the host was stopped",
                       REPLY + "\n",
                       {"--reply-timeout", "1"}},
        BrokenHostCase{"never_ends_after_closing_its_output",
                       script_writing_then(framed(REPLY), "exec >&-\nexec sleep 600"),
                       "the host did not end within 1 s of closing its output; the host was stopped",
                       REPLY + "\n",
                       {"--reply-timeout", "1"}}),
    [](const auto& param_info) { return param_info.param.name; });

// A host that writes 320 MB to its standard error without a line feed: nm-client holds the end
// of the line only, and runs within an address space smaller than what the host wrote.
TEST(NmClientUse, EndlessHostLineKeepsItsTail) {
    constexpr long WRITTEN = 320'000'000;
    TempDir dir;
    std::string host = dir / "host.sh";
    write_file(host, "#!/bin/sh\nhead -c " + std::to_string(WRITTEN) + " /dev/zero | tr '\\0' x >&2\n" +
                         script_writing(framed(REPLY)).substr(std::string_view("#!/bin/sh\n").size()));
    std::filesystem::permissions(host, std::filesystem::perms::owner_all);
    ProgramOptions options;
    options.arguments = {"--host", host};
    options.input = "{}\n";
#if !defined(ONDRAKE_SANITIZED) && !defined(__APPLE__)
    options.address_space_limit_kib = 256 * 1024;
#endif
    auto run = run_program(NM_CLIENT, options);
    EXPECT_EQ(run.status, 0) << run.err.substr(0, 300);
    EXPECT_EQ(run.out, REPLY + "\n");
    const std::size_t tail = platform::ATOMIC_PIPE_WRITE - 64;
    EXPECT_TRUE(run.err == "host: [" + std::to_string(WRITTEN - static_cast<long>(tail)) +
                               " bytes left out] " + std::string(tail, 'x') +
                               "\nnm-client: the host exited with status 0\n")
        << run.err.substr(0, 300);
#if defined(ONDRAKE_SANITIZED) || defined(__APPLE__)
    GTEST_SKIP() << "the tail is checked, its memory is not: AddressSanitizer needs more address space "
                    "than the limit, and macOS enforces no address-space limit";
#endif
}

// nm-client's standard error is a pipe nobody reads, and our host logs a line for each of 3,000
// messages, which nm-client relays: every reply still arrives and nm-client ends.
TEST(NmClientUse, StandardErrorNobodyReads) {
    ProgramOptions options;
    options.err = Stream::Undrained;
    options.environment = {{"HOME", std::nullopt}, {"ONDRAKE_DOWNLOAD_EXE", ""}};
    options.input = numbered_messages(3000);
    options.limit = std::chrono::seconds(30);
    auto run = run_program(NM_CLIENT, options);
    EXPECT_EQ(run.status, 0);
    std::string replies;
    for (int n = 1; n <= 3000; ++n) {
        replies += host_reply("r-" + std::to_string(n), "unavailable", "APP_UNAVAILABLE") + "\n";
    }
    EXPECT_TRUE(run.out == replies) << run.out.size() << " bytes of replies, not " << replies.size();
    // Its first lines, and not all of them: the pipe did fill.
    EXPECT_EQ(run.err.rfind("host: ondrake-native-host: no per-user endpoint is available\n"
                            "host: ondrake-native-host: request r-1 -> AppUnavailable\n",
                            0),
              0u)
        << run.err.substr(0, 300);
    EXPECT_LT(run.err.size(),
              3000 * std::string_view("host: ondrake-native-host: request r-1 -> AppUnavailable\n").size());
}

TEST(NmClientUse, ArgumentsAfterTheMarkerGoToTheHost) {
    TempDir dir;
    std::string host = dir / "host.sh";
    write_file(host, "#!/bin/sh\nfor a in \"$@\"; do echo \"arg=$a\" >&2; done\n");
    std::filesystem::permissions(host, std::filesystem::perms::owner_all);
    ProgramOptions options;
    options.arguments = {"--host", host, "--", "chrome-extension://abc/", "--pipeline"};
    auto run = run_program(NM_CLIENT, options);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, lines({"host: arg=chrome-extension://abc/", "host: arg=--pipeline",
                              "nm-client: the host exited with status 0"}));
}

TEST(NmClientUse, WrongCommandLinesAndMissingHosts) {
    struct Case {
        std::vector<std::string> arguments;
        std::string complaint;
    };
    const std::vector<Case> cases = {
        {{"--bogus"}, "nm-client: unknown option --bogus (see nm-client --help)\n"},
        {{"--host"}, "nm-client: --host needs a value (see nm-client --help)\n"},
        {{"--reply-timeout", "0"},
         "nm-client: --reply-timeout needs a whole number of seconds above 0 (see nm-client --help)\n"},
        {{"--reply-timeout", "2s"},
         "nm-client: --reply-timeout needs a whole number of seconds above 0 (see nm-client --help)\n"},
        {{"a.txt", "b.txt"},
         "nm-client: one message file at most (the second is b.txt) (see nm-client --help)\n"},
        {{"/nonexistent/messages.txt"}, "nm-client: cannot read /nonexistent/messages.txt\n"},
        {{"--host", "/nonexistent/host"},
         "nm-client: cannot run the host /nonexistent/host: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        ProgramOptions options;
        options.arguments = c.arguments;
        auto run = run_program(NM_CLIENT, options);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c.complaint);
    }
}

}  // namespace
}  // namespace ondrake
