#include "browser-native-host/link/ipc.hpp"

#include "browser-native-host/tests/support/asio_support.hpp"
#include "browser-native-host/tests/support/frames.hpp"
#include "browser-native-host/tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>

#include <fcntl.h>
#include <sys/socket.h>

namespace ondrake::ipc {
namespace {

namespace asio = boost::asio;
using framing::FrameError;
using test::prefix;
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
        EndpointCase{"unset", std::nullopt, std::nullopt}, EndpointCase{"empty", "", std::nullopt},
        EndpointCase{"relative", "relative/dir", std::nullopt},
        EndpointCase{"root", "/", "/Library/Application Support/OndrakeDownload/ipc/browser.sock"},
        EndpointCase{"plain", "/Users/example",
                     "/Users/example/Library/Application Support/OndrakeDownload/ipc/browser.sock"},
        EndpointCase{"trailing_slash", "/Users/example/",
                     "/Users/example/Library/Application Support/OndrakeDownload/ipc/browser.sock"},
        EndpointCase{"not_utf8", "/Users/\xFF", std::nullopt},
        // Longer than a socket address holds: still returned, every connect to it fails.
        EndpointCase{
            "long", "/" + std::string(60, 'h'),
            "/" + std::string(60, 'h') + "/Library/Application Support/OndrakeDownload/ipc/browser.sock"}),
    [](const auto& param_info) { return param_info.param.name; });

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
    ASSERT_TRUE(result.has_value()) << result.error().message();
    int fd = (*result).native_handle();
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
}

TEST_F(ConnectTest, FailsWhenNothingIsThere) {
    auto result = connect_to(dir_ / "missing.sock");
    ASSERT_TRUE(result.has_error());
    EXPECT_EQ(result.error(), boost::system::errc::no_such_file_or_directory);
}

TEST_F(ConnectTest, FailsWhenTheSocketFileHasNoListener) {
    {
        auto acceptor = test::listen_at(context_, dir_ / "stale.sock");
    }  // closed, the file stays behind as after a crash
    auto result = connect_to(dir_ / "stale.sock");
    ASSERT_TRUE(result.has_error());
    EXPECT_EQ(result.error(), asio::error::connection_refused);
}

TEST_F(ConnectTest, FailsWhenTheListenerBacklogIsFull) {
    auto acceptor = test::listen_at(context_, dir_ / "busy.sock", 0);
    std::vector<Connection> queued;
    // Fill the backlog (its real size varies by system) without ever accepting; then every further
    // connect has to fail rather than report a connection that does not exist.
    bool failed = false;
    for (int i = 0; i < 64 && !failed; ++i) {
        auto result = connect_to(dir_ / "busy.sock");
        if (result) {
            Connection* connection = &*result;
            auto socket = connection->socket();
            ASSERT_TRUE(socket) << socket.error().message();
            boost::system::error_code error;
            (*socket)->remote_endpoint(error);
            ASSERT_FALSE(error) << "connect reported success on an unconnected socket";
            queued.push_back(std::move(*connection));
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
        EXPECT_EQ(result.has_value(), acceptor_ok);
        if (!acceptor_ok) {
            EXPECT_EQ(result.error(), asio::error::name_too_long);
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
    ASSERT_TRUE(result.has_error());
    EXPECT_EQ(result.error(), asio::error::invalid_argument);
}

// A connected pair: `client` as ipc::connect made it, `server` as the application accepted it.
class FrameTest : public testing::Test {
protected:
    FrameTest() : acceptor_(test::listen_at(context_, dir_ / "f.sock")) {
        auto result = test::run(context_, connect(dir_ / "f.sock"));
        client_.emplace(std::move(**result));
        server_.emplace(acceptor_.accept());
    }

    // The application's side sends `bytes` and then, when asked, hangs up.
    void server_sends(const std::string& bytes, bool then_close) {
        asio::write(*server_, asio::buffer(bytes));
        if (then_close) server_->close();
    }

    framing::FrameResult read() { return *test::run(context_, read_frame(*client_)); }
    framing::FrameStatus write(const std::string& body) {
        return *test::run(context_, write_frame(*client_, body));
    }

    // Everything the application's side can read until the client hangs up.
    std::string server_receives_all() {
        client_->close();
        std::string all;
        boost::system::error_code error;
        asio::read(*server_, asio::dynamic_buffer(all), error);
        return all;
    }

    TempDir dir_;
    asio::io_context context_;
    asio::local::stream_protocol::acceptor acceptor_;
    std::optional<Connection> client_;
    std::optional<asio::local::stream_protocol::socket> server_;
};

struct ReadCase {
    const char* name;
    std::string sent;  // what the application writes before hanging up
    framing::FrameResult expected;
};

class ReadFrame : public FrameTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(ReadFrame, TellsEveryEndingApart) {
    server_sends(GetParam().sent, true);
    EXPECT_EQ(read(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReadFrame,
    testing::Values(ReadCase{"sixteen_bytes_little_endian", std::string("\x10\0\0\0", 4) + "0123456789abcdef",
                             std::string("0123456789abcdef")},
                    ReadCase{"largest", prefix(65536) + std::string(65536, 'x'), std::string(65536, 'x')},
                    ReadCase{"nothing_then_end", "", FrameError::end_of_stream()},
                    ReadCase{"half_a_prefix_then_end", std::string("\x05\0", 2), FrameError::end_of_stream()},
                    ReadCase{"body_cut_short", std::string("\x05\0\0\0", 4) + "ab", FrameError::truncated()},
                    ReadCase{"prefix_only", std::string("\x05\0\0\0", 4), FrameError::truncated()},
                    ReadCase{"length_zero", std::string("\0\0\0\0", 4) + "{}", FrameError::empty()},
                    ReadCase{"length_65537", std::string("\x01\x00\x01\x00", 4) + "{}",
                             FrameError::too_large(65537)},
                    ReadCase{"big_endian_reading_would_be_small", std::string("\0\0\0\x01", 4),
                             FrameError::too_large(16777216)}),
    [](const auto& param_info) { return param_info.param.name; });

TEST_F(FrameTest, OversizedReplyLeavesItsBodyUnread) {
    server_sends(std::string("\x01\x00\x01\x00", 4) + "body", false);
    EXPECT_EQ(read(), framing::FrameResult(FrameError::too_large(65537)));
    char next[4];
    auto socket = client_->socket();
    ASSERT_TRUE(socket);
    asio::read(**socket, asio::buffer(next));
    EXPECT_EQ(std::string(next, 4), "body");
}

TEST_F(FrameTest, ReadsTwoFramesSentInOneWrite) {
    server_sends(prefix(2) + "{}" + prefix(3) + "[1]", false);
    EXPECT_EQ(read(), framing::FrameResult(std::string("{}")));
    EXPECT_EQ(read(), framing::FrameResult(std::string("[1]")));
}

TEST_F(FrameTest, WritesPrefixThenBody) {
    EXPECT_EQ(write("{\"a\":1}"), framing::FrameStatus{});
    EXPECT_EQ(server_receives_all(), prefix(7) + "{\"a\":1}");
}

TEST_F(FrameTest, WritesTheLargestBody) {
    std::string body(65536, 'y');
    // Read while writing: the frame is larger than a socket buffer on some systems.
    std::string received;
    asio::async_read(*server_, asio::dynamic_buffer(received), asio::transfer_exactly(4 + body.size()),
                     [](boost::system::error_code, std::size_t) {});
    EXPECT_EQ(write(body), framing::FrameStatus{});
    context_.restart();
    context_.run_for(std::chrono::seconds(20));
    EXPECT_EQ(received, std::string("\x00\x00\x01\x00", 4) + body);
}

TEST_F(FrameTest, RefusesBodiesOutsideTheLimitsWithoutWriting) {
    EXPECT_EQ(write(""), FrameError::empty());
    EXPECT_EQ(write(std::string(65537, 'z')), FrameError::too_large(65537));
    EXPECT_EQ(server_receives_all(), "");
}

TEST_F(FrameTest, WriteToAPeerThatHungUpFailsWithoutASignal) {
    // SIGPIPE keeps its default action in this process: a raised signal would end the test run.
    server_->close();
    std::optional<FrameError> failure;
    // The first write may still be buffered before the hang-up is noticed; a second cannot be.
    for (int i = 0; i < 2 && !failure; ++i) {
        if (auto written = write("{}"); !written) failure = written.error();
    }
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->kind, FrameError::Kind::Io);
    EXPECT_TRUE(failure->error);
}

// ---- Time limits ---------------------------------------------------------------------------

using namespace std::chrono_literals;

struct LimitCase {
    const char* name;
    std::string sent;                 // what the application sends before it falls silent
    std::chrono::milliseconds limit;  // from the start of the read; negative: already passed
    std::optional<std::string> body;  // the frame read, or none for running out of time
};

class ReadFrameLimit : public FrameTest, public testing::WithParamInterface<LimitCase> {};

TEST_P(ReadFrameLimit, CountsOnlyTheTimeSpentWaiting) {
    server_sends(GetParam().sent, false);
    auto started = Clock::now();
    auto result = *test::run(context_, read_frame(*client_, started + GetParam().limit));
    if (GetParam().body) {
        EXPECT_EQ(result, framing::FrameResult(*GetParam().body));
        return;
    }
    ASSERT_FALSE(result);
    const std::optional<FrameError> error = result.error();
    EXPECT_EQ(error->kind, FrameError::Kind::Io);
    EXPECT_EQ(error->error, boost::system::errc::timed_out);
    EXPECT_GE(Clock::now() - started, GetParam().limit);
}

INSTANTIATE_TEST_SUITE_P(Replies, ReadFrameLimit,
                         testing::Values(LimitCase{"nothing_arrives", "", 100ms, std::nullopt},
                                         // The limit covers the whole frame, not each read.
                                         LimitCase{"prefix_without_its_body", prefix(5), 100ms, std::nullopt},
                                         LimitCase{"body_cut_short", prefix(5) + "ab", 100ms, std::nullopt},
                                         LimitCase{"nothing_and_no_time_left", "", -1ms, std::nullopt},
                                         // A frame that is already there needs no waiting, so no time.
                                         LimitCase{"whole_frame_with_no_time_left", prefix(2) + "{}", -1ms,
                                                   std::string("{}")}),
                         [](const auto& param_info) { return param_info.param.name; });

TEST_F(FrameTest, WriteNobodyReadsEndsAtItsLimit) {
    // The smallest send buffer the system allows, so that one frame of 64 KiB cannot fit in it.
    int smallest = 1;
    ::setsockopt(client_->native_handle(), SOL_SOCKET, SO_SNDBUF, &smallest, sizeof smallest);
    auto started = Clock::now();
    auto failure = *test::run(context_, write_frame(*client_, std::string(65536, 'w'), started + 100ms));
    ASSERT_FALSE(failure);
    EXPECT_EQ(failure.error().kind, FrameError::Kind::Io);
    EXPECT_EQ(failure.error().error, boost::system::errc::timed_out);
    EXPECT_GE(Clock::now() - started, 100ms);
}

// A wait that finds the connection ready just as its time runs out leaves the timer's handler
// queued behind it; that handler must not touch the connection, which is gone by then. (The
// sanitizer build turns a mistake here into a failure.)
TEST(ConnectionWait, EndingAsItsTimeRunsOutLeavesNothingBehind) {
    asio::io_context context;
    for (int i = 0; i < 200; ++i) {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        ASSERT_EQ(::send(fds[1], "x", 1, 0), 1);
        std::optional<boost::system::error_code> result;
        {
            Connection connection(context.get_executor(), fds[0]);
            result = test::run(context, connection.wait(Socket::wait_read, Clock::now()));
        }
        ::close(fds[1]);
        ASSERT_TRUE(result.has_value());
        EXPECT_TRUE(!*result || *result == asio::error::timed_out) << result->message();
    }
    context.restart();
    context.run();  // whatever is still queued runs now, after every connection has closed
}

class ConnectionWaitCancel : public FrameTest, public testing::WithParamInterface<bool> {};

TEST_P(ConnectionWaitCancel, CallersCancellationEndsIt) {
    Deadline deadline;
    if (GetParam()) deadline = Clock::now() + 1h;
    asio::cancellation_signal cancel;
    std::optional<boost::system::error_code> result;
    asio::co_spawn(
        context_, client_->wait(Socket::wait_read, deadline),
        asio::bind_cancellation_slot(
            cancel.slot(), [&](std::exception_ptr, boost::system::error_code error) { result = error; }));
    context_.restart();
    context_.run_for(20ms);
    EXPECT_FALSE(result.has_value()) << "the wait ended with nothing to read";
    cancel.emit(asio::cancellation_type::terminal);
    context_.run_for(5s);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, asio::error::operation_aborted);
}

INSTANTIATE_TEST_SUITE_P(Limits, ConnectionWaitCancel, testing::Bool(), [](const auto& param_info) {
    return param_info.param ? "with_a_limit" : "without_a_limit";
});

// ---- The connection object ------------------------------------------------------------------

TEST_F(FrameTest, MovedConnectionKeepsTheOneDescriptor) {
    int fd = client_->native_handle();
    Connection moved(std::move(*client_));
    EXPECT_FALSE(client_->is_open());
    client_.reset();  // the emptied one closes nothing
    ASSERT_NE(::fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(*test::run(context_, write_frame(moved, "{}")), framing::FrameStatus{});
    moved.close();
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
    std::string all;
    boost::system::error_code error;
    asio::read(*server_, asio::dynamic_buffer(all), error);
    EXPECT_EQ(all, prefix(2) + "{}");
}

TEST_F(FrameTest, AdoptedSocketCarriesFrames) {
    Connection application(std::move(*server_));
    EXPECT_EQ(write("{\"q\":1}"), framing::FrameStatus{});
    EXPECT_EQ(*test::run(context_, read_frame(application)), framing::FrameResult(std::string("{\"q\":1}")));
    EXPECT_EQ(*test::run(context_, write_frame(application, "[2]")), framing::FrameStatus{});
    EXPECT_EQ(read(), framing::FrameResult(std::string("[2]")));
}

}  // namespace
}  // namespace ondrake::ipc
