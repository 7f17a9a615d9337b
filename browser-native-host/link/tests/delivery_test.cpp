#include "browser-native-host/link/delivery.hpp"

#include "browser-native-host/tests/support/asio_support.hpp"
#include "browser-native-host/tests/support/frames.hpp"
#include "browser-native-host/tests/support/test_support.hpp"
#include "tools/app-peer/peer_process.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/json.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <sys/socket.h>

namespace ondrake::delivery {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using classification::ValidatedCapture;
using classification::ValidatedRequest;
using protocol::CaptureAction;
using protocol::CaptureStatus;
using protocol::Code;
using test::framed;
using stream_protocol = asio::local::stream_protocol;

const std::string APP_PEER = std::string(ONDRAKE_BIN_DIR) + "/app-peer";

// Records every launch; can answer either way and do something (start a listener) when called.
class FakeLauncher final : public Launcher {
public:
    explicit FakeLauncher(bool result, std::function<void()> on_launch = {})
        : result_(result), on_launch_(std::move(on_launch)) {}

    bool launch() override {
        ++calls;
        launched_at = Clock::now();
        if (on_launch_) on_launch_();
        return result_;
    }

    int calls = 0;
    std::optional<Clock::time_point> launched_at;

private:
    bool result_;
    std::function<void()> on_launch_;
};

// Short limits, so that a test of a silent application costs a fraction of a second. The waits
// between attempts are tiny; tests that must show there was no wait use long ones instead.
DeliveryTimings quick_timings() {
    DeliveryTimings timings;
    timings.connect_timeout = 2s;
    timings.reply_timeout = 300ms;
    timings.write_timeout = 300ms;
    timings.retry_delays = std::vector<Milliseconds>(8, 1ms);
    return timings;
}

// Waits so long that a test reaching one would time out: proof that no wait was entered.
DeliveryTimings no_waits_allowed() {
    DeliveryTimings timings = quick_timings();
    timings.retry_delays = std::vector<Milliseconds>(8, std::chrono::hours(1));
    return timings;
}

ValidatedCapture capture_of(CaptureAction action, std::string capture_id = "c-1") {
    ValidatedCapture capture;
    capture.message.request_id = "r-1";
    capture.message.capture_id = std::move(capture_id);
    capture.message.action = action;
    capture.message.browser = "chrome";
    return capture;
}

boost::json::object parse_object(const std::string& line) { return boost::json::parse(line).as_object(); }

class DeliveryTest : public testing::Test {
protected:
    std::string endpoint() const { return dir_ / "app.sock"; }

    app_peer::PeerProcess start_peer(std::vector<std::string> arguments = {}) {
        auto peer = app_peer::PeerProcess::start(APP_PEER, {endpoint()}, arguments, dir_.path().string());
        if (!peer) throw std::runtime_error("app-peer did not start");
        return std::move(*peer);
    }

    Code deliver_simple(const ValidatedRequest& request, Launcher& launcher, DeliveryTimings timings) {
        auto result = test::run(context_, deliver(endpoint(), request, launcher, std::move(timings)), 30s);
        EXPECT_TRUE(result.has_value()) << "delivery did not finish";
        return result.value_or(Code::InternalError);
    }

    CaptureOutcome deliver_one_capture(const ValidatedCapture& capture, Launcher& launcher,
                                       DeliveryTimings timings) {
        auto result =
            test::run(context_, deliver_capture(endpoint(), capture, launcher, std::move(timings)), 30s);
        EXPECT_TRUE(result.has_value()) << "delivery did not finish";
        return result.value_or(CaptureOutcome{CaptureStatus::Unknown, Code::InternalError});
    }

    test::TempDir dir_;
    asio::io_context context_;
};

TEST_F(DeliveryTest, ListeningApplicationAnswersOnOneConnectionWithoutLaunch) {
    auto peer = start_peer();
    FakeLauncher launcher(true);
    EXPECT_EQ(deliver_simple({"r-1", "https://example.test/a"}, launcher, quick_timings()), Code::Accepted);
    EXPECT_EQ(launcher.calls, 0);
    auto log = peer.log_lines();
    ASSERT_EQ(log.size(), 1u);
    auto line = parse_object(log[0]);
    EXPECT_EQ(line["kind"], "IpcRequest");
    EXPECT_EQ(boost::json::serialize(line["received"]),
              R"({"protocolVersion":1,"requestId":"r-1","url":"https://example.test/a"})");
}

TEST_F(DeliveryTest, CaptureStepsGetTheApplicationsStatusAndCode) {
    auto peer = start_peer();
    FakeLauncher launcher(true);
    struct Step {
        CaptureAction action;
        CaptureOutcome expected;
    };
    const Step steps[] = {
        {CaptureAction::CaptureStatus, {CaptureStatus::Unknown, Code::CaptureUnknown}},
        {CaptureAction::CapturePrepare, {CaptureStatus::Prepared, Code::CapturePrepared}},
        {CaptureAction::CaptureRevokeCredentials, {CaptureStatus::Prepared, Code::Accepted}},
        {CaptureAction::CaptureCommit, {CaptureStatus::Committed, Code::Accepted}},
        {CaptureAction::CaptureStatus, {CaptureStatus::Committed, Code::Accepted}},
        {CaptureAction::CaptureAbort, {CaptureStatus::Aborted, Code::CaptureAborted}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(protocol::value_name(step.action));
        EXPECT_EQ(deliver_one_capture(capture_of(step.action), launcher, quick_timings()), step.expected);
    }
    EXPECT_EQ(launcher.calls, 0);
    EXPECT_EQ(peer.log_lines().size(), std::size(steps));
}

// One application behaviour and what a simple request and a capture get from it. Each row also
// shows that nothing after a connection is ever tried again: exactly one connection, no launch.
struct PeerCase {
    const char* name;
    std::vector<std::string> arguments;
    Code simple;
    CaptureOutcome capture;
};

const CaptureOutcome INDETERMINATE{CaptureStatus::Indeterminate, Code::DeliveryIndeterminate};

class ApplicationBehaviour : public DeliveryTest, public testing::WithParamInterface<PeerCase> {};

TEST_P(ApplicationBehaviour, GivesItsResultAfterOneConnection) {
    {
        auto peer = start_peer(GetParam().arguments);
        FakeLauncher launcher(true);
        EXPECT_EQ(deliver_simple({"r-1", "https://example.test/"}, launcher, quick_timings()),
                  GetParam().simple);
        EXPECT_EQ(launcher.calls, 0);
        EXPECT_EQ(peer.log_lines().size(), 1u);
    }
    {
        auto peer = start_peer(GetParam().arguments);
        FakeLauncher launcher(true);
        EXPECT_EQ(deliver_one_capture(capture_of(CaptureAction::CapturePrepare), launcher, quick_timings()),
                  GetParam().capture);
        EXPECT_EQ(launcher.calls, 0);
        EXPECT_EQ(peer.log_lines().size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Policies, ApplicationBehaviour,
    testing::Values(
        PeerCase{"rejects",
                 {"--policy", "code:APP_REJECTED/unknown"},
                 Code::AppRejected,
                 {CaptureStatus::Unknown, Code::AppRejected}},
        // The application's own APP_UNAVAILABLE is its answer, not a reason to launch it.
        PeerCase{"says_unavailable",
                 {"--policy", "code:APP_UNAVAILABLE/unknown"},
                 Code::AppUnavailable,
                 {CaptureStatus::Unknown, Code::AppUnavailable}},
        PeerCase{"capture_code_in_simple_reply",
                 {"--policy", "code:CAPTURE_PREPARED/aborted"},
                 Code::CapturePrepared,
                 {CaptureStatus::Aborted, Code::CapturePrepared}},
        PeerCase{"never_answers", {"--policy", "silent"}, Code::DeliveryIndeterminate, INDETERMINATE},
        PeerCase{
            "closes_mid_reply", {"--policy", "close-mid-reply"}, Code::DeliveryIndeterminate, INDETERMINATE},
        PeerCase{"answers_another_request",
                 {"--policy", "wrong-request-id"},
                 Code::DeliveryIndeterminate,
                 INDETERMINATE},
        PeerCase{"answers_another_capture", {"--policy", "wrong-capture-id"}, Code::Accepted, INDETERMINATE},
        PeerCase{"length_zero", {"--policy", "length:0"}, Code::DeliveryIndeterminate, INDETERMINATE},
        PeerCase{
            "length_over_limit", {"--policy", "length:65537"}, Code::DeliveryIndeterminate, INDETERMINATE},
        PeerCase{
            "reply_with_unknown_key", {"--policy", "extra-key"}, Code::DeliveryIndeterminate, INDETERMINATE},
        PeerCase{"answers_too_late", {"--delay", "1500"}, Code::DeliveryIndeterminate, INDETERMINATE}),
    [](const auto& param_info) { return param_info.param.name; });

TEST_F(DeliveryTest, ApplicationThatClosesBeforeReadingIsIndeterminateAndNotRetried) {
    auto peer = start_peer({"--policy", "close-before-read"});
    FakeLauncher launcher(true);
    EXPECT_EQ(deliver_simple({"r-1", "https://example.test/"}, launcher, quick_timings()),
              Code::DeliveryIndeterminate);
    EXPECT_EQ(deliver_one_capture(capture_of(CaptureAction::CaptureCommit), launcher, quick_timings()),
              INDETERMINATE);
    EXPECT_EQ(launcher.calls, 0);
    EXPECT_EQ(peer.log_lines().size(), 2u);
}

TEST_F(DeliveryTest, NobodyListeningAndLaunchFailingIsOneAttemptWithoutWaiting) {
    FakeLauncher launcher(false);
    EXPECT_EQ(deliver_simple({"r-1", "https://example.test/"}, launcher, no_waits_allowed()),
              Code::AppUnavailable);
    EXPECT_EQ(deliver_one_capture(capture_of(CaptureAction::CaptureStatus), launcher, no_waits_allowed()),
              (CaptureOutcome{CaptureStatus::Unknown, Code::AppUnavailable}));
    // Nothing is remembered between requests: each one asks for a launch.
    EXPECT_EQ(launcher.calls, 2);
}

TEST_F(DeliveryTest, ApplicationThatNeverListensEndsUnavailableAfterOneLaunch) {
    FakeLauncher launcher(true);
    EXPECT_EQ(deliver_simple({"r-1", "https://example.test/"}, launcher, quick_timings()),
              Code::AppUnavailable);
    EXPECT_EQ(launcher.calls, 1);
}

TEST_F(DeliveryTest, ApplicationStartedByTheLauncherIsReachedOnARetry) {
    std::optional<app_peer::PeerProcess> peer;
    FakeLauncher launcher(
        true, [&] { peer = app_peer::PeerProcess::start(APP_PEER, {endpoint()}, {}, dir_.path().string()); });
    DeliveryTimings timings = quick_timings();
    timings.retry_delays = std::vector<Milliseconds>(8, 50ms);
    EXPECT_EQ(deliver_simple({"r-1", "https://example.test/"}, launcher, timings), Code::Accepted);
    EXPECT_EQ(launcher.calls, 1);
    ASSERT_TRUE(peer.has_value());
    EXPECT_EQ(peer->log_lines().size(), 1u);
}

TEST_F(DeliveryTest, SocketPathTooLongForAnAddressIsUnreachableEveryTime) {
    std::string long_endpoint = dir_ / (std::string(120, 'p') + ".sock");
    FakeLauncher launcher(true);
    auto result = test::run(
        context_, deliver(long_endpoint, {"r-1", "https://example.test/"}, launcher, quick_timings()));
    EXPECT_EQ(result, Code::AppUnavailable);
    EXPECT_EQ(launcher.calls, 1);
}

TEST_F(DeliveryTest, MessageThatCannotBeEncodedIsAnInternalErrorOnceConnected) {
    const ValidatedRequest not_utf8{"r-1", "https://example.test/\xFF"};
    {
        FakeLauncher launcher(false);  // unreachable first: the encoding does not matter yet
        EXPECT_EQ(deliver_simple(not_utf8, launcher, no_waits_allowed()), Code::AppUnavailable);
    }
    auto peer = start_peer();
    FakeLauncher launcher(true);
    EXPECT_EQ(deliver_simple(not_utf8, launcher, quick_timings()), Code::InternalError);
    ValidatedCapture capture = capture_of(CaptureAction::CaptureCommit);
    capture.message.download_name = "\xC0\xAF";
    EXPECT_EQ(deliver_one_capture(capture, launcher, quick_timings()),
              (CaptureOutcome{CaptureStatus::Unknown, Code::InternalError}));
    EXPECT_EQ(launcher.calls, 0);
    // The application saw two connections that carried nothing (it notices that only after the
    // host has hung up, hence the wait).
    std::vector<std::string> log;
    test::wait_until([&] { return (log = peer.log_lines()).size() >= 2; });
    ASSERT_EQ(log.size(), 2u);
    for (const auto& line : log) EXPECT_EQ(parse_object(line)["kind"], "frame_error");
}

// A scripted application inside the test: accepts one connection, keeps the request bytes it
// read (`request_size` of them) and answers with `reply` as raw bytes.
asio::awaitable<void> scripted_application(stream_protocol::acceptor& acceptor, std::size_t request_size,
                                           std::string reply, std::string& received) {
    auto socket = co_await acceptor.async_accept(asio::use_awaitable);
    received.resize(request_size);
    co_await asio::async_read(socket, asio::buffer(received), asio::use_awaitable);
    co_await asio::async_write(socket, asio::buffer(reply), asio::use_awaitable);
}

TEST_F(DeliveryTest, RequestTravelsAsTheExactFrameBytes) {
    auto acceptor = test::listen_at(context_, endpoint());
    std::string received;
    asio::co_spawn(
        context_,
        scripted_application(acceptor, 52,
                             framed(R"({"protocolVersion":1,"requestId":"r1","code":"ACCEPTED"})"), received),
        asio::detached);
    FakeLauncher launcher(false);
    EXPECT_EQ(deliver_simple({"r1", "u"}, launcher, quick_timings()), Code::Accepted);
    EXPECT_EQ(received,
              std::string("\x30\x00\x00\x00", 4) + R"({"protocolVersion":1,"requestId":"r1","url":"u"})");
}

TEST_F(DeliveryTest, CaptureTravelsWithEveryMemberInOrder) {
    const std::string minimal =
        R"({"protocolVersion":4,"requestId":"r1","captureId":"c1","action":"capture_status","browser":"undeclared",)"
        R"("browserDownloadId":null,"url":null,"observed":null,"cookies":null,"downloadName":null,)"
        R"("initiatorOrigin":null,"revalidateResponse":null})";
    const std::string full =
        R"({"protocolVersion":4,"requestId":"r2","captureId":"c2","action":"capture_prepare","browser":"firefox",)"
        R"("browserDownloadId":-5,"url":"https://example.test/f","observed":{"finalUrl":null,"mime":"text/plain",)"
        R"("totalBytes":10,"etag":null},"cookies":[{"name":"n","value":"v","path":"/","secure":true}],)"
        R"("downloadName":"f.txt","initiatorOrigin":"https://example.test","revalidateResponse":false})";
    ValidatedCapture minimal_capture = capture_of(CaptureAction::CaptureStatus, "c1");
    minimal_capture.message.request_id = "r1";
    minimal_capture.message.browser = "undeclared";
    ValidatedCapture full_capture = capture_of(CaptureAction::CapturePrepare, "c2");
    protocol::IpcCaptureRequest& full_message = full_capture.message;
    full_message.request_id = "r2";
    full_message.browser = "firefox";
    full_message.browser_download_id = -5;
    full_message.url = "https://example.test/f";
    full_message.observed = download_core::ObservedResponse{std::nullopt, "text/plain", 10, std::nullopt};
    full_message.cookies = std::vector<download_core::BrowserCookie>{{"n", "v", "/", true}};
    full_message.download_name = "f.txt";
    full_message.initiator_origin = "https://example.test";
    full_message.revalidate_response = false;
    const std::pair<const ValidatedCapture*, const std::string*> cases[] = {{&minimal_capture, &minimal},
                                                                            {&full_capture, &full}};
    for (auto [capture, expected] : cases) {
        SCOPED_TRACE(*expected);
        auto acceptor = test::listen_at(context_, endpoint());
        std::string received;
        std::string reply = R"({"protocolVersion":4,"requestId":")" + capture->message.request_id +
                            R"(","captureId":")" + capture->message.capture_id +
                            R"(","status":"prepared","code":"CAPTURE_PREPARED","preflight":null})";
        asio::co_spawn(context_,
                       scripted_application(acceptor, 4 + expected->size(), framed(reply), received),
                       asio::detached);
        FakeLauncher launcher(false);
        EXPECT_EQ(deliver_one_capture(*capture, launcher, quick_timings()),
                  (CaptureOutcome{CaptureStatus::Prepared, Code::CapturePrepared}));
        EXPECT_EQ(received, framed(*expected));
        acceptor.close();
        std::filesystem::remove(endpoint());
    }
}

// A connection to the endpoint with the smallest send buffer the system allows (macOS's default
// is small too), so that a frame of 64 KiB goes out only as fast as the application reads it.
std::optional<ipc::Connection> connect_with_small_send_buffer(asio::io_context& context,
                                                              const std::string& endpoint) {
    auto connected = test::run(context, ipc::connect(endpoint));
    if (!connected || !connected->has_value()) return std::nullopt;
    int smallest = 1;
    ::setsockopt((*connected)->native_handle(), SOL_SOCKET, SO_SNDBUF, &smallest, sizeof smallest);
    return std::move(**connected);
}

TEST_F(DeliveryTest, WriteToAnApplicationThatNeverReadsIsBounded) {
    auto peer = start_peer({"--policy", "no-read"});
    auto connection = connect_with_small_send_buffer(context_, endpoint());
    ASSERT_TRUE(connection);

    DeliveryTimings timings = quick_timings();
    timings.reply_timeout = std::chrono::hours(1);  // only the write limit can end this
    auto started = Clock::now();
    auto reply = test::run(context_, send_and_receive(*connection, std::string(65536, 'x'), timings), 60s);
    ASSERT_TRUE(reply.has_value()) << "the write was not bounded";
    EXPECT_EQ(*reply, std::nullopt);
    EXPECT_GE(Clock::now() - started, timings.write_timeout);
}

// An application that reads a large request slowly, a piece at a time, and answers soon after it
// has all of it: the write takes longer than the reply limit, and the answer must still get
// through, because the application's time starts once it has the whole request.
TEST_F(DeliveryTest, ReplyLimitStartsWhenASlowWriteEnds) {
    auto acceptor = test::listen_at(context_, endpoint());
    const std::string reply = R"({"protocolVersion":1,"requestId":"r-1","code":"ACCEPTED"})";
    std::optional<Clock::time_point> all_read;
    asio::co_spawn(
        context_,
        [&]() -> asio::awaitable<void> {
            auto socket = co_await acceptor.async_accept(asio::use_awaitable);
            asio::steady_timer pause(socket.get_executor());
            std::string piece(2048, '\0');
            for (std::size_t left = 4 + 65536; left > 0;) {
                pause.expires_after(20ms);
                co_await pause.async_wait(asio::use_awaitable);
                left -= co_await socket.async_read_some(
                    asio::buffer(piece.data(), std::min(left, piece.size())), asio::use_awaitable);
            }
            all_read = Clock::now();
            pause.expires_after(100ms);
            co_await pause.async_wait(asio::use_awaitable);
            co_await asio::async_write(socket, asio::buffer(framed(reply)), asio::use_awaitable);
        },
        asio::detached);
    auto connection = connect_with_small_send_buffer(context_, endpoint());
    ASSERT_TRUE(connection);

    DeliveryTimings timings = quick_timings();
    timings.write_timeout = 30s;
    auto started = Clock::now();
    auto answer = test::run(context_, send_and_receive(*connection, std::string(65536, 'x'), timings), 60s);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, reply);
    // Only a write that outlasts the reply limit shows where the limit starts.
    ASSERT_TRUE(all_read);
    EXPECT_GT(*all_read - started, timings.reply_timeout);
}

// The schedule alone, with a stand-in for the exchange that says when it was called.
class RetrySchedule : public testing::Test {
protected:
    // Answers Unreachable `unreachable_times` times, then `then`.
    Attempt<Code> attempts_answering(int unreachable_times, Code then) {
        return [this, unreachable_times, then]() -> asio::awaitable<std::variant<Unreachable, Code>> {
            attempt_times_.push_back(Clock::now());
            if (static_cast<int>(attempt_times_.size()) <= unreachable_times) co_return Unreachable{};
            co_return then;
        };
    }

    Code run(Attempt<Code> attempt, FakeLauncher& launcher, std::vector<Milliseconds> delays) {
        auto result = test::run(
            context_, retry_after_launch(std::move(attempt), launcher, delays, Code::AppUnavailable));
        EXPECT_TRUE(result.has_value());
        return result.value_or(Code::InternalError);
    }

    asio::io_context context_;
    std::vector<Clock::time_point> attempt_times_;
};

TEST_F(RetrySchedule, NineAttemptsAndOneLaunchAtMost) {
    FakeLauncher launcher(true);
    const std::vector<Milliseconds> delays{5ms, 10ms, 15ms, 20ms, 25ms, 30ms, 35ms, 40ms};
    EXPECT_EQ(run(attempts_answering(1000, Code::Accepted), launcher, delays), Code::AppUnavailable);
    EXPECT_EQ(launcher.calls, 1);
    ASSERT_EQ(attempt_times_.size(), 9u);
    // No attempt right after the launch: each retry comes after its own wait.
    EXPECT_GE(attempt_times_[1] - *launcher.launched_at, delays[0]);
    for (std::size_t i = 2; i < attempt_times_.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(attempt_times_[i] - attempt_times_[i - 1], delays[i - 1]);
    }
}

TEST_F(RetrySchedule, StopsAtTheFirstAttemptThatConnects) {
    FakeLauncher launcher(true);
    EXPECT_EQ(
        run(attempts_answering(3, Code::DeliveryIndeterminate), launcher, std::vector<Milliseconds>(8, 1ms)),
        Code::DeliveryIndeterminate);
    EXPECT_EQ(attempt_times_.size(), 4u);
    EXPECT_EQ(launcher.calls, 1);
}

TEST_F(RetrySchedule, ReachableAtOnceNeedsNoLaunch) {
    FakeLauncher launcher(true);
    EXPECT_EQ(run(attempts_answering(0, Code::AppRejected), launcher, std::vector<Milliseconds>(8, 1ms)),
              Code::AppRejected);
    EXPECT_EQ(attempt_times_.size(), 1u);
    EXPECT_EQ(launcher.calls, 0);
}

TEST_F(RetrySchedule, FailedLaunchEndsAfterTheFirstAttempt) {
    FakeLauncher launcher(false);
    EXPECT_EQ(run(attempts_answering(1000, Code::Accepted), launcher, std::vector<Milliseconds>(8, 1ms)),
              Code::AppUnavailable);
    EXPECT_EQ(attempt_times_.size(), 1u);
    EXPECT_EQ(launcher.calls, 1);
}

TEST(DeliveryTimingsDefault, HoldsTheProductSchedule) {
    DeliveryTimings timings;
    EXPECT_EQ(timings.connect_timeout, 2s);
    EXPECT_EQ(timings.reply_timeout, 20s);
    EXPECT_EQ(timings.retry_delays,
              (std::vector<Milliseconds>{150ms, 250ms, 400ms, 700ms, 1200ms, 2000ms, 3000ms, 4000ms}));
}

// The one test on the real schedule: the application starts listening 1 s after the launch, so
// the attempts 150, 400 and 800 ms after it fail and the fifth attempt of the request, 1500 ms
// after the launch, is the one that connects.
TEST_F(DeliveryTest, RealScheduleReachesAnApplicationListeningOneSecondAfterLaunch) {
    std::optional<stream_protocol::acceptor> acceptor;
    std::optional<Clock::time_point> accepted_at;
    std::string received;
    asio::steady_timer start_listening(context_);
    FakeLauncher launcher(true, [&] {
        start_listening.expires_after(1s);
        start_listening.async_wait([&](boost::system::error_code) {
            acceptor.emplace(test::listen_at(context_, endpoint()));
            asio::co_spawn(
                context_,
                [&]() -> asio::awaitable<void> {
                    ipc::Connection connection(co_await acceptor->async_accept(asio::use_awaitable));
                    accepted_at = Clock::now();
                    auto request = co_await ipc::read_frame(connection);
                    received = *request;
                    (void)co_await ipc::write_frame(
                        connection, R"({"protocolVersion":1,"requestId":"r-5","code":"ACCEPTED"})");
                },
                asio::detached);
        });
    });
    EXPECT_EQ(deliver_simple({"r-5", "https://example.test/"}, launcher, DeliveryTimings{}), Code::Accepted);
    EXPECT_EQ(launcher.calls, 1);
    ASSERT_TRUE(accepted_at.has_value());
    auto after_launch = *accepted_at - *launcher.launched_at;
    EXPECT_GE(after_launch, 1500ms);
    EXPECT_LT(after_launch, 2700ms);  // the sixth attempt would come 1200 ms later
    EXPECT_EQ(received, R"({"protocolVersion":1,"requestId":"r-5","url":"https://example.test/"})");
}

}  // namespace
}  // namespace ondrake::delivery
