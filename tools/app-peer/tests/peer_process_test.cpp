#include "tools/app-peer/peer_process.hpp"

#include "browser-native-host/link/ipc.hpp"
#include "browser-native-host/tests/support/asio_support.hpp"
#include "browser-native-host/tests/support/program_run.hpp"
#include "browser-native-host/tests/support/test_support.hpp"

#include <boost/json.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <utility>

namespace ondrake::app_peer {
namespace {

namespace asio = boost::asio;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string APP_PEER = std::string(ONDRAKE_BIN_DIR) + "/app-peer";

// One request frame to `path` and the reply frame, as the host would send it.
std::optional<std::string> ask(const std::string& path, const std::string& body) {
    asio::io_context context;
    auto reply = test::run(context, [&]() -> asio::awaitable<std::optional<std::string>> {
        auto connected = co_await ipc::connect(path);
        if (!connected) co_return std::nullopt;
        if (!co_await ipc::write_frame(*connected, body)) co_return std::nullopt;
        auto frame = co_await ipc::read_frame(*connected);
        if (!frame) co_return std::nullopt;
        co_return *frame;
    }());
    return reply ? *reply : std::nullopt;
}

TEST(PeerProcess, ListensAnswersLogsAndCleansUp) {
    test::TempDir dir;
    // Missing parent directories are created, as the application does for its socket.
    std::string main_socket = dir / "home/Library/Application Support/OndrakeDownload/ipc/browser.sock";
    std::string second_socket = dir / "group/ipc/browser.sock";
    if (main_socket.size() > 100) GTEST_SKIP() << "temporary directory too deep for a socket path";
    auto peer = PeerProcess::start(APP_PEER, {main_socket, second_socket}, {}, dir.path().string());
    ASSERT_TRUE(peer.has_value());

    EXPECT_EQ(ask(main_socket, R"({"protocolVersion":1,"requestId":"r-1","url":"https://example.test/"})"),
              R"({"protocolVersion":1,"requestId":"r-1","code":"ACCEPTED"})");
    EXPECT_EQ(ask(second_socket, "not json"),
              R"({"protocolVersion":1,"requestId":"","code":"INVALID_MESSAGE"})");

    auto log = peer->log_lines();
    ASSERT_EQ(log.size(), 2u);
    auto first = boost::json::parse(log[0]).as_object();
    EXPECT_EQ(first["socket"], main_socket.c_str());
    EXPECT_EQ(first["policy"], "accept");
    EXPECT_EQ(first["kind"], "IpcRequest");
    EXPECT_EQ(first["received"].as_object()["requestId"], "r-1");
    EXPECT_EQ(first["reply"].as_object()["code"], "ACCEPTED");
    auto second = boost::json::parse(log[1]).as_object();
    EXPECT_EQ(second["kind"], "invalid");
    EXPECT_EQ(second["received"], "not json");

    EXPECT_EQ(peer->stop(), 0);
    EXPECT_FALSE(fs::exists(main_socket));
    EXPECT_FALSE(fs::exists(second_socket));
}

// What is at the socket path when a peer starts.
enum class Occupant {
    StaleSocket,  // a socket file whose listener has gone
    LivePeer,     // another app-peer listening
};

struct StartCase {
    const char* name;
    Occupant occupant;
    std::string refusal;  // what the second peer says before it exits with 1; empty: it starts
};

class PeerStart : public testing::TestWithParam<StartCase> {};

TEST_P(PeerStart, TakesOverOnlyAStaleSocket) {
    const StartCase& c = GetParam();
    test::TempDir dir;
    std::string socket_path = dir / "app.sock";
    asio::io_context context;
    std::optional<PeerProcess> first;
    if (c.occupant == Occupant::LivePeer) {
        first = PeerProcess::start(APP_PEER, {socket_path}, {}, dir.path().string());
        ASSERT_TRUE(first.has_value());
    } else {
        auto stale = test::listen_at(context, socket_path);  // closed at the end of this block
    }
    ASSERT_TRUE(fs::exists(socket_path));

    const std::string request = R"({"protocolVersion":1,"requestId":"r","url":"u"})";
    if (c.refusal.empty()) {
        auto peer = PeerProcess::start(APP_PEER, {socket_path}, {}, dir.path().string());
        ASSERT_TRUE(peer.has_value());
        EXPECT_TRUE(ask(socket_path, request).has_value());
        EXPECT_EQ(peer->log_lines().size(), 1u);
        return;
    }
    test::ProgramOptions options;
    options.arguments = {"--socket", socket_path};
    auto second = test::run_program(APP_PEER, options);
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err, "app-peer: " + socket_path + ": " + c.refusal + "\n");
    EXPECT_EQ(second.out, "");
    // The first peer still listens where it did, and still answers (it logged the second
    // peer's probe, a connection that brought nothing, before).
    EXPECT_TRUE(ask(socket_path, request).has_value());
    auto log = first->log_lines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(boost::json::parse(log.back()).as_object()["kind"], "IpcRequest");
}

INSTANTIATE_TEST_SUITE_P(Occupants, PeerStart,
                         testing::Values(StartCase{"stale_socket", Occupant::StaleSocket, ""},
                                         StartCase{"live_peer", Occupant::LivePeer,
                                                   "another peer is listening there"}),
                         [](const auto& param_info) { return param_info.param.name; });

TEST(PeerProcess, ExitLeavesASocketThatReplacedItsOwn) {
    test::TempDir dir;
    std::string socket_path = dir / "app.sock";
    auto peer = PeerProcess::start(APP_PEER, {socket_path}, {}, dir.path().string());
    ASSERT_TRUE(peer.has_value());
    // Another listener takes the path over, as a peer would that found it unreachable.
    fs::remove(socket_path);
    asio::io_context context;
    auto replacement = test::listen_at(context, socket_path);
    struct stat before {};
    ASSERT_EQ(::lstat(socket_path.c_str(), &before), 0);

    EXPECT_EQ(peer->stop(), 0);
    struct stat after {};
    ASSERT_EQ(::lstat(socket_path.c_str(), &after), 0) << "the replacement's socket was removed";
    EXPECT_EQ(std::make_pair(after.st_dev, after.st_ino), std::make_pair(before.st_dev, before.st_ino));
}

TEST(PeerProcess, ListenDelayHoldsBackReadiness) {
    test::TempDir dir;
    auto started = std::chrono::steady_clock::now();
    auto peer =
        PeerProcess::start(APP_PEER, {dir / "late.sock"}, {"--listen-delay", "300"}, dir.path().string());
    ASSERT_TRUE(peer.has_value());
    EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
    EXPECT_TRUE(fs::exists(dir / "late.sock"));
}

TEST(PeerProcess, RefusesABadCommandLine) {
    test::TempDir dir;
    EXPECT_FALSE(PeerProcess::start(APP_PEER, {dir / "x.sock"}, {"--policy", "bogus"}, dir.path().string()));
    EXPECT_FALSE(PeerProcess::start(APP_PEER, {}, {}, dir.path().string()));
    EXPECT_FALSE(fs::exists(dir / "x.sock"));
}

TEST(PeerProcess, RefusesToReplaceSomethingThatIsNoSocket) {
    test::TempDir dir;
    test::write_file(dir / "file", "keep me");
    EXPECT_FALSE(PeerProcess::start(APP_PEER, {dir / "file"}, {}, dir.path().string()));
    EXPECT_EQ(test::read_file(dir / "file"), "keep me");
}

}  // namespace
}  // namespace ondrake::app_peer
