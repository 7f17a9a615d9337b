// Whole requests through begin_request, the stand-in queue and a peer on a real socket: the path
// the Apple adapter drives, from message to reply dictionary.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "safari-extension/relay.hpp"
#include "safari-extension/standins/standins.hpp"
#include "safari-extension/tests/test_peer.hpp"

namespace ondrake::safari {
namespace {

using namespace std::chrono_literals;
using testing_support::elapsed_ms;
using testing_support::framed;
using testing_support::PeerConnection;
using testing_support::TempDir;
using testing_support::TestPeer;

using Steady = std::chrono::steady_clock;

Dictionary dict(std::vector<Dictionary::Entry> entries) { return make_dictionary(std::move(entries)); }

Value message(std::string payload, std::optional<Value> request_id = std::nullopt,
              std::optional<Value> capture_id = std::nullopt) {
    Dictionary fields = dict({{"payload", Value(std::move(payload))}});
    if (request_id) fields.set("requestId", *request_id);
    if (capture_id) fields.set("captureId", *capture_id);
    return Value(std::move(fields));
}

// One container directory, optionally with a peer listening in it, and the services to run
// requests against it.
class Relay : public testing::Test {
protected:
    std::string socket_path() const { return dir_.path().string() + "/ipc/browser.sock"; }

    void listen(TestPeer::Handler handler) {
        peer_ = std::make_unique<TestPeer>(socket_path(), std::move(handler));
    }

    // Runs one request to its end and returns every reply it produced.
    std::vector<Dictionary> run(Value input, std::chrono::nanoseconds budget = EXCHANGE_BUDGET) {
        auto context = std::make_shared<RecordingContext>(std::move(input));
        begin_request(context, services(budget));
        queue_.drain();
        return context->replies();
    }

    RelayServices services(std::chrono::nanoseconds budget = EXCHANGE_BUDGET) {
        return RelayServices{containers_, queue_, monotonic_clock(), budget};
    }

    TempDir dir_;
    DirectoryLocator containers_{std::string(APP_GROUP_ID), dir_.path().string()};
    std::unique_ptr<TestPeer> peer_;
    ThreadQueue queue_;  // declared last: drained before the peer and the directory go
};

TEST_F(Relay, ReplyTextComesBackByteForByteWithoutIds) {
    const std::string text = "{\"protocolVersion\":1, \"requestId\":\"r1\",\n \"code\":\"ACCEPTED\"}\t ";
    listen([&](PeerConnection& c) {
        if (c.read_request()) c.send(framed(text));
    });
    EXPECT_EQ(run(message("{\"a\":1}", Value("r1"), Value("c1"))),
              std::vector{dict({{"payload", Value(text)}})});
    EXPECT_EQ(peer_->requests(), std::vector<std::string>{framed("{\"a\":1}")});
}

TEST_F(Relay, NumericRequestIdIsRelayedButNotEchoed) {
    listen([](PeerConnection& c) { c.read_request(); });
    EXPECT_EQ(run(message("{}", Value(42), Value("c1"))),
              std::vector{dict({{"status", Value("indeterminate")},
                                {"code", Value("DELIVERY_INDETERMINATE")},
                                {"captureId", Value("c1")}})});
    EXPECT_EQ(peer_->requests().size(), 1u);
}

TEST_F(Relay, ReplyThatIsNotUtf8IsAnInternalError) {
    listen([](PeerConnection& c) {
        if (c.read_request()) c.send(framed("{\"x\":\"\xED\xA0\x80\"}"));
    });
    EXPECT_EQ(run(message("{}", Value("r1"))), std::vector{dict({{"status", Value("indeterminate")},
                                                                 {"code", Value("INTERNAL_ERROR")},
                                                                 {"requestId", Value("r1")}})});
}

TEST_F(Relay, ReplyDeclaringTooMuchIsAnInternalError) {
    listen([](PeerConnection& c) {
        if (!c.read_request()) return;
        c.send(testing_support::prefix(65537));
        c.hold_open();
    });
    const auto start = Steady::now();
    EXPECT_EQ(run(message("{}", Value("r1"), Value("c1"))),
              std::vector{dict({{"status", Value("indeterminate")},
                                {"code", Value("INTERNAL_ERROR")},
                                {"requestId", Value("r1")},
                                {"captureId", Value("c1")}})});
    EXPECT_LT(elapsed_ms(start), 1000);
}

TEST_F(Relay, NobodyListeningIsUnavailableWellWithinTheBudget) {
    const auto start = Steady::now();
    EXPECT_EQ(run(message("{}", Value("r1"), Value("c1"))),
              std::vector{dict({{"status", Value("unknown")},
                                {"code", Value("APP_UNAVAILABLE")},
                                {"requestId", Value("r1")},
                                {"captureId", Value("c1")}})});
    EXPECT_LT(elapsed_ms(start), 1000);
}

// The one test that waits for the real budget of 2.5 s.
TEST_F(Relay, ApplicationThatNeverAnswersIsIndeterminateAfterTheRealBudget) {
    listen([](PeerConnection& c) {
        c.read_request();
        c.hold_open();
    });
    const auto start = Steady::now();
    EXPECT_EQ(run(message("{}", Value("r1"))), std::vector{dict({{"status", Value("indeterminate")},
                                                                 {"code", Value("DELIVERY_INDETERMINATE")},
                                                                 {"requestId", Value("r1")}})});
    EXPECT_GE(elapsed_ms(start), 2450);
    EXPECT_LT(elapsed_ms(start), 3500);
}

TEST_F(Relay, ContainerPathTooLongForTheSocketIsUnavailable) {
    // "/ipc/browser.sock" makes the socket path 104 bytes: one more than the address holds.
    const std::string container =
        dir_.path().string() + "/" + std::string(104 - dir_.path().string().size() - 18, 'c');
    DirectoryLocator long_container(std::string(APP_GROUP_ID), container);
    auto context = std::make_shared<RecordingContext>(message("{}", Value("r1")));
    begin_request(context, RelayServices{long_container, queue_, monotonic_clock()});
    queue_.drain();
    EXPECT_EQ(context->replies(), std::vector{dict({{"status", Value("unknown")},
                                                    {"code", Value("APP_UNAVAILABLE")},
                                                    {"requestId", Value("r1")}})});
}

// Requests run side by side: the peer answers none of them until all have connected, which
// only happens when no request waits for another to finish.
TEST_F(Relay, ConcurrentRequestsAreEachAnsweredOnce) {
    constexpr int REQUESTS = 6;
    std::mutex mutex;
    std::condition_variable all_arrived;
    int arrived = 0;
    listen([&](PeerConnection& c) {
        std::optional<std::string> body = c.read_request();
        if (!body) return;
        {
            std::unique_lock lock(mutex);
            ++arrived;
            all_arrived.notify_all();
            all_arrived.wait_for(lock, 5s, [&] { return arrived == REQUESTS; });
        }
        c.send(framed("reply to " + *body));
    });

    std::vector<std::shared_ptr<RecordingContext>> contexts;
    const auto start = Steady::now();
    for (int i = 0; i < REQUESTS; ++i) {
        contexts.push_back(std::make_shared<RecordingContext>(message("request " + std::to_string(i))));
        begin_request(contexts.back(), services());
    }
    queue_.drain();
    EXPECT_LT(elapsed_ms(start), 2000);
    for (int i = 0; i < REQUESTS; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(contexts[static_cast<std::size_t>(i)]->replies(),
                  std::vector{dict({{"payload", Value("reply to request " + std::to_string(i))}})});
    }
}

}  // namespace
}  // namespace ondrake::safari
