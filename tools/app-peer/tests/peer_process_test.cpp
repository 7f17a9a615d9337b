#include "tools/app-peer/peer_process.hpp"

#include "browser-native-host/ipc.hpp"
#include "browser-native-host/tests/support/asio_support.hpp"
#include "browser-native-host/tests/support/test_support.hpp"

#include <boost/json.hpp>

#include <gtest/gtest.h>

#include <filesystem>

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
    EXPECT_EQ(ask(second_socket, "not json"), R"({"protocolVersion":1,"requestId":"","code":"INVALID_MESSAGE"})");

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

TEST(PeerProcess, ReplacesAStaleSocketFile) {
    test::TempDir dir;
    std::string socket_path = dir / "app.sock";
    asio::io_context context;
    { auto stale = test::listen_at(context, socket_path); }  // closed, the file stays
    ASSERT_TRUE(fs::exists(socket_path));
    auto peer = PeerProcess::start(APP_PEER, {socket_path}, {}, dir.path().string());
    ASSERT_TRUE(peer.has_value());
    EXPECT_TRUE(ask(socket_path, R"({"protocolVersion":1,"requestId":"r","url":"u"})").has_value());
}

TEST(PeerProcess, ListenDelayHoldsBackReadiness) {
    test::TempDir dir;
    auto started = std::chrono::steady_clock::now();
    auto peer = PeerProcess::start(APP_PEER, {dir / "late.sock"}, {"--listen-delay", "300"}, dir.path().string());
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
