#include "browser-native-host/ipc.hpp"

#include "browser-native-host/tests/support/asio_support.hpp"
#include "browser-native-host/tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>

namespace ondrake::ipc {
namespace {

namespace asio = boost::asio;
using test::ScopedEnv;
using test::TempDir;

struct EndpointCase {
    const char* name;
    std::optional<std::string> home;
    std::optional<std::string> endpoint;
};

class UserEndpoint : public testing::TestWithParam<EndpointCase> {};

TEST_P(UserEndpoint, FollowsHome) {
    ScopedEnv home("HOME", GetParam().home);
    EXPECT_EQ(user_endpoint(), GetParam().endpoint);
}

INSTANTIATE_TEST_SUITE_P(
    Homes, UserEndpoint,
    testing::Values(
        EndpointCase{"unset", std::nullopt, std::nullopt},
        EndpointCase{"empty", "", std::nullopt},
        EndpointCase{"relative", "relative/dir", std::nullopt},
        EndpointCase{"root", "/", "/Library/Application Support/OndrakeDownload/ipc/browser.sock"},
        EndpointCase{"plain", "/Users/example",
                     "/Users/example/Library/Application Support/OndrakeDownload/ipc/browser.sock"},
        EndpointCase{"trailing_slash", "/Users/example/",
                     "/Users/example/Library/Application Support/OndrakeDownload/ipc/browser.sock"},
        EndpointCase{"not_utf8", "/Users/\xFF", std::nullopt},
        // Longer than a socket address holds: still returned, every connect to it fails.
        EndpointCase{"long", "/" + std::string(60, 'h'),
                     "/" + std::string(60, 'h') + "/Library/Application Support/OndrakeDownload/ipc/browser.sock"}),
    [](const auto& info) { return info.param.name; });

TEST(UserEndpointLength, AddsSixtyOneBytesToHome) {
    ScopedEnv home("HOME", "/Users/example");
    EXPECT_EQ(user_endpoint()->size(), std::string("/Users/example").size() + 61);
}

class ConnectTest : public testing::Test {
protected:
    ConnectResult connect_to(const std::string& path) {
        auto result = test::run(context_, connect(path));
        EXPECT_TRUE(result.has_value()) << "connect never completed";
        return result ? std::move(*result) : ConnectResult(asio::error::timed_out);
    }

    TempDir dir_;
    asio::io_context context_;
};

TEST_F(ConnectTest, ConnectsToAListenerWithACloseOnExecNonBlockingSocket) {
    auto acceptor = test::listen_at(context_, dir_ / "s.sock");
    auto result = connect_to(dir_ / "s.sock");
    ASSERT_TRUE(std::holds_alternative<Socket>(result)) << std::get<boost::system::error_code>(result).message();
    int fd = std::get<Socket>(result).native_handle();
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
}

TEST_F(ConnectTest, FailsWhenNothingIsThere) {
    auto result = connect_to(dir_ / "missing.sock");
    ASSERT_TRUE(std::holds_alternative<boost::system::error_code>(result));
    EXPECT_EQ(std::get<boost::system::error_code>(result), boost::system::errc::no_such_file_or_directory);
}

TEST_F(ConnectTest, FailsWhenTheSocketFileHasNoListener) {
    {
        auto acceptor = test::listen_at(context_, dir_ / "stale.sock");
    }  // closed, the file stays behind as after a crash
    auto result = connect_to(dir_ / "stale.sock");
    ASSERT_TRUE(std::holds_alternative<boost::system::error_code>(result));
    EXPECT_EQ(std::get<boost::system::error_code>(result), asio::error::connection_refused);
}

TEST_F(ConnectTest, FailsWhenTheListenerBacklogIsFull) {
    auto acceptor = test::listen_at(context_, dir_ / "busy.sock", 0);
    std::vector<Socket> queued;
    // Fill the backlog (its real size varies by system) without ever accepting; then every further
    // connect has to fail rather than report a connection that does not exist.
    bool failed = false;
    for (int i = 0; i < 64 && !failed; ++i) {
        auto result = connect_to(dir_ / "busy.sock");
        if (auto* socket = std::get_if<Socket>(&result)) {
            boost::system::error_code error;
            socket->remote_endpoint(error);
            ASSERT_FALSE(error) << "connect reported success on an unconnected socket";
            queued.push_back(std::move(*socket));
        } else {
            failed = true;
        }
    }
    EXPECT_TRUE(failed);
}

TEST_F(ConnectTest, RefusesPathsThatDoNotFitASocketAddressWithoutMakingASocket) {
    const std::size_t limit = sizeof(sockaddr_un{}.sun_path) - 1;
    std::string fits = dir_ / "";
    fits.append(limit - fits.size(), 'a');
    ASSERT_EQ(fits.size(), limit);
    std::string too_long = fits + "a";
    for (const auto& path : {fits, too_long}) {
        auto acceptor_ok = path.size() <= limit;
        std::optional<asio::local::stream_protocol::acceptor> acceptor;
        if (acceptor_ok) acceptor.emplace(test::listen_at(context_, path));
        int before = ::dup(0);
        ::close(before);
        auto result = connect_to(path);
        SCOPED_TRACE(path.size());
        EXPECT_EQ(std::holds_alternative<Socket>(result), acceptor_ok);
        if (!acceptor_ok) {
            EXPECT_EQ(std::get<boost::system::error_code>(result), asio::error::name_too_long);
            // No descriptor was taken: the next one handed out is the one free before.
            int after = ::dup(0);
            ::close(after);
            EXPECT_EQ(after, before);
        }
    }
}

TEST_F(ConnectTest, RefusesPathsWithAZeroByte) {
    auto acceptor = test::listen_at(context_, dir_ / "z.sock");
    std::string path = dir_ / "z.sock";
    path.push_back('\0');
    auto result = connect_to(path);
    ASSERT_TRUE(std::holds_alternative<boost::system::error_code>(result));
    EXPECT_EQ(std::get<boost::system::error_code>(result), asio::error::invalid_argument);
}

}  // namespace
}  // namespace ondrake::ipc
