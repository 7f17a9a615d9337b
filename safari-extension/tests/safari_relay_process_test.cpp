// The safari-relay executable as a person runs it: message on standard input, container
// directory as argument, reply as one JSON line on standard output.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "safari-extension/tests/test_peer.hpp"

extern char** environ;

namespace ondrake::safari {
namespace {

using testing_support::frame;
using testing_support::PeerConnection;
using testing_support::TempDir;
using testing_support::TestPeer;

struct RunResult {
    int exit_status = -1;
    std::string out;
    std::string err;
};

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs safari-relay with `arguments`, `input` on its standard input.
RunResult run_relay(const TempDir& scratch, const std::vector<std::string>& arguments, const std::string& input) {
    const std::string in = scratch.path() + "/stdin", out = scratch.path() + "/stdout", err = scratch.path() + "/stderr";
    std::ofstream(in, std::ios::binary) << input;

    const std::string program = std::string(ONDRAKE_BIN_DIR) + "/safari-relay";
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    RunResult run;
    int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << program;
        return run;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = read_file(out);
    run.err = read_file(err);
    return run;
}

TEST(SafariRelayProgram, RelaysToTheApplicationInTheContainer) {
    TempDir scratch, container;
    TestPeer peer(container.path() + "/ipc/browser.sock", [](PeerConnection& c) {
        if (c.read_request()) c.send(frame("{\"protocolVersion\":1,\"requestId\":\"r1\",\"code\":\"ACCEPTED\"}"));
    });
    RunResult run = run_relay(scratch, {container.path()},
                        R"({"payload":"{\"protocolVersion\":1,\"requestId\":\"r1\"}","requestId":"r1"})");
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.out, "{\"payload\":\"{\\\"protocolVersion\\\":1,\\\"requestId\\\":\\\"r1\\\",\\\"code\\\":"
                       "\\\"ACCEPTED\\\"}\"}\n");
    EXPECT_EQ(peer.requests(), std::vector<std::string>{frame("{\"protocolVersion\":1,\"requestId\":\"r1\"}")});
}

struct ProgramCase {
    const char* name;
    bool with_container;
    std::string input;
    std::string out;
};

class SafariRelayReplies : public testing::TestWithParam<ProgramCase> {};

// Nobody listens in the container, so every request ends without the application.
TEST_P(SafariRelayReplies, PrintOneJsonLine) {
    TempDir scratch, container;
    std::vector<std::string> arguments;
    if (GetParam().with_container) arguments.push_back(container.path());
    RunResult run = run_relay(scratch, arguments, GetParam().input);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.out, GetParam().out);
    EXPECT_EQ(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Messages, SafariRelayReplies,
    testing::Values(
        ProgramCase{"no_container", false, R"({"payload":"{}","requestId":"r1","captureId":"c1"})",
                    "{\"status\":\"unknown\",\"code\":\"APP_UNAVAILABLE\",\"requestId\":\"r1\",\"captureId\":\"c1\"}\n"},
        ProgramCase{"nobody_listening", true, R"({"payload":"{}","requestId":7,"captureId":"c1"})",
                    "{\"status\":\"unknown\",\"code\":\"APP_UNAVAILABLE\",\"captureId\":\"c1\"}\n"},
        ProgramCase{"missing_message", true, "null", "{\"status\":\"unknown\",\"code\":\"INVALID_MESSAGE\"}\n"},
        ProgramCase{"message_not_an_object", true, R"("payload")",
                    "{\"status\":\"unknown\",\"code\":\"INVALID_MESSAGE\"}\n"},
        ProgramCase{"empty_payload", true, R"({"payload":"","requestId":"r1"})",
                    "{\"status\":\"unknown\",\"code\":\"INVALID_MESSAGE\",\"requestId\":\"r1\"}\n"},
        ProgramCase{"missing_payload", true, R"( {"captureId":"c1"} )",
                    "{\"status\":\"unknown\",\"code\":\"INVALID_MESSAGE\",\"captureId\":\"c1\"}\n"}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(SafariRelayProgram, RefusesInputThatIsNotJson) {
    TempDir scratch;
    RunResult run = run_relay(scratch, {}, "{\"payload\":");
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("safari-relay: ", 0), 0u) << run.err;
}

TEST(SafariRelayProgram, RefusesExtraArguments) {
    TempDir scratch;
    RunResult run = run_relay(scratch, {"/a", "/b"}, "null");
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage: safari-relay"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace ondrake::safari
