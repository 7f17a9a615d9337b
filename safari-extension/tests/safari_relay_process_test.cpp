// The safari-relay executable as a person runs it: message on standard input, container
// directory as argument, reply as one JSON line on standard output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser-native-host/tests/support/program_run.hpp"
#include "safari-extension/tests/test_peer.hpp"
#include "tools/app-peer/peer_process.hpp"

namespace ondrake::safari {
namespace {

using testing_support::framed;
using testing_support::PeerConnection;
using testing_support::TempDir;
using testing_support::TestPeer;

// Runs safari-relay with `arguments`, `input` on its standard input.
test::ProgramRun run_relay(const std::vector<std::string>& arguments, const std::string& input) {
    test::ProgramOptions options;
    options.arguments = arguments;
    options.input = input;
    return test::run_program(std::string(ONDRAKE_BIN_DIR) + "/safari-relay", options);
}

TEST(SafariRelayProgram, RelaysToTheApplicationInTheContainer) {
    TempDir container;
    TestPeer peer(container.path().string() + "/ipc/browser.sock", [](PeerConnection& c) {
        if (c.read_request())
            c.send(framed("{\"protocolVersion\":1,\"requestId\":\"r1\",\"code\":\"ACCEPTED\"}"));
    });
    test::ProgramRun run =
        run_relay({container.path().string()},
                  R"({"payload":"{\"protocolVersion\":1,\"requestId\":\"r1\"}","requestId":"r1"})");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "{\"payload\":\"{\\\"protocolVersion\\\":1,\\\"requestId\\\":\\\"r1\\\",\\\"code\\\":"
              "\\\"ACCEPTED\\\"}\"}\n");
    EXPECT_EQ(peer.requests(),
              std::vector<std::string>{framed("{\"protocolVersion\":1,\"requestId\":\"r1\"}")});
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
    TempDir container;
    std::vector<std::string> arguments;
    if (GetParam().with_container) arguments.push_back(container.path().string());
    test::ProgramRun run = run_relay(arguments, GetParam().input);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, GetParam().out);
    EXPECT_EQ(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Messages, SafariRelayReplies,
    testing::Values(
        ProgramCase{
            "no_container", false, R"({"payload":"{}","requestId":"r1","captureId":"c1"})",
            "{\"status\":\"unknown\",\"code\":\"APP_UNAVAILABLE\",\"requestId\":\"r1\",\"captureId\":\"c1\"}\n"},
        ProgramCase{"nobody_listening", true, R"({"payload":"{}","requestId":7,"captureId":"c1"})",
                    "{\"status\":\"unknown\",\"code\":\"APP_UNAVAILABLE\",\"captureId\":\"c1\"}\n"},
        ProgramCase{"missing_message", true, "null",
                    "{\"status\":\"unknown\",\"code\":\"INVALID_MESSAGE\"}\n"},
        ProgramCase{"message_not_an_object", true, R"("payload")",
                    "{\"status\":\"unknown\",\"code\":\"INVALID_MESSAGE\"}\n"},
        ProgramCase{"empty_payload", true, R"({"payload":"","requestId":"r1"})",
                    "{\"status\":\"unknown\",\"code\":\"INVALID_MESSAGE\",\"requestId\":\"r1\"}\n"},
        ProgramCase{"missing_payload", true, R"( {"captureId":"c1"} )",
                    "{\"status\":\"unknown\",\"code\":\"INVALID_MESSAGE\",\"captureId\":\"c1\"}\n"}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(SafariRelayProgram, RefusesInputThatIsNotJson) {
    test::ProgramRun run = run_relay({}, "{\"payload\":");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("safari-relay: ", 0), 0u) << run.err;
}

TEST(SafariRelayProgram, RefusesExtraArguments) {
    test::ProgramRun run = run_relay({"/a", "/b"}, "null");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage: safari-relay"), std::string::npos) << run.err;
}

// ---- Against the reference application ----------------------------------------------------
// Both sides are otherwise checked only against fakes of their own; here safari-relay and app-peer
// run as the processes they are, on the socket inside the container.

const std::string SIMPLE_REQUEST =
    R"({"protocolVersion":1,"requestId":"r1","url":"https://example.test/file.zip"})";

// The message dictionary that carries `payload`, as the extension's script sends it.
std::string message_with(const std::string& payload) {
    std::string escaped;
    for (char c : payload) {
        if (c == '"' || c == '\\') escaped.push_back('\\');
        escaped.push_back(c);
    }
    return R"({"payload":")" + escaped + R"(","requestId":"r1"})";
}

struct PeerCase {
    const char* name;
    std::string policy;
    std::string payload;
    std::string out;  // the relay's one JSON line
};

class SafariRelayToAppPeer : public testing::TestWithParam<PeerCase> {};

TEST_P(SafariRelayToAppPeer, RelaysTheRequestUnchangedAndAnswersAsTheApplicationDid) {
    TempDir container, scratch;
    auto peer = app_peer::PeerProcess::start(std::string(ONDRAKE_BIN_DIR) + "/app-peer",
                                             {container.path().string() + "/ipc/browser.sock"},
                                             {"--policy", GetParam().policy}, scratch.path().string());
    ASSERT_TRUE(peer) << "app-peer did not start";

    test::ProgramRun run = run_relay({container.path().string()}, message_with(GetParam().payload));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, GetParam().out);
    EXPECT_EQ(run.err, "");

    EXPECT_EQ(peer->stop(), 0);
    std::vector<std::string> log = peer->log_lines();
    ASSERT_EQ(log.size(), 1u);
    // The application received the request the script sent, whatever it then made of it.
    EXPECT_NE(log[0].find(R"("received":)" + GetParam().payload), std::string::npos) << log[0];
}

INSTANTIATE_TEST_SUITE_P(
    Policies, SafariRelayToAppPeer,
    testing::Values(
        PeerCase{"accepted", "accept", SIMPLE_REQUEST,
                 R"({"payload":"{\"protocolVersion\":1,\"requestId\":\"r1\",\"code\":\"ACCEPTED\"}"})"
                 "\n"},
        PeerCase{"rejected", "code:APP_REJECTED", SIMPLE_REQUEST,
                 R"({"payload":"{\"protocolVersion\":1,\"requestId\":\"r1\",\"code\":\"APP_REJECTED\"}"})"
                 "\n"},
        PeerCase{"reply_cut_short", "close-mid-reply", SIMPLE_REQUEST,
                 R"({"status":"indeterminate","code":"DELIVERY_INDETERMINATE","requestId":"r1"})"
                 "\n"},
        PeerCase{"reply_declares_no_body", "length:0", SIMPLE_REQUEST,
                 R"({"status":"indeterminate","code":"INTERNAL_ERROR","requestId":"r1"})"
                 "\n"},
        PeerCase{"reply_declares_too_much", "length:65537", SIMPLE_REQUEST,
                 R"({"status":"indeterminate","code":"INTERNAL_ERROR","requestId":"r1"})"
                 "\n"}),
    [](const auto& param_info) { return param_info.param.name; });

}  // namespace
}  // namespace ondrake::safari
