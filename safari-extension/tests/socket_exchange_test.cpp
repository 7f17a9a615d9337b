// One exchange against a peer on a real Unix-domain socket that behaves well or badly on purpose.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "platform/platform.hpp"
#include "safari-extension/socket_exchange.hpp"
#include "safari-extension/tests/test_peer.hpp"

namespace ondrake::safari {
namespace {

using namespace std::chrono_literals;
using testing_support::BacklogFiller;
using testing_support::describe;
using testing_support::elapsed_ms;
using testing_support::framed;
using testing_support::PeerConnection;
using testing_support::prefix;
using testing_support::TempDir;
using testing_support::TestPeer;

using Steady = std::chrono::steady_clock;

// Generous bounds: the machine running the tests may be heavily loaded.
constexpr double PROMPT_MS = 1000;  // an exchange that must not wait for any time-out
constexpr double LATE_MS = 1000;    // how far past its budget a timed-out exchange may end

std::string socket_in(const TempDir& dir) { return dir.path().string() + "/ipc/browser.sock"; }

TestPeer::Handler answer_with(std::string bytes, bool hold = false) {
    return [bytes, hold](PeerConnection& connection) {
        if (!connection.read_request()) return;
        connection.send(bytes);
        if (hold) connection.hold_open();
    };
}

struct PeerCase {
    const char* name;
    TestPeer::Handler handler;
    std::string expected;
};

class MisbehavingPeer : public testing::TestWithParam<PeerCase> {};

// None of these outcomes may wait for the budget: each is decided by what the peer sent or did.
TEST_P(MisbehavingPeer, DecidesTheOutcomePromptly) {
    TempDir dir;
    TestPeer peer(socket_in(dir), GetParam().handler);
    const auto start = Steady::now();
    const Exchange outcome = exchange(peer.socket_path(), "{\"r\":1}", monotonic_clock());
    EXPECT_EQ(describe(outcome), GetParam().expected);
    EXPECT_LT(elapsed_ms(start), PROMPT_MS);
}

const std::string MAX_BODY(65536, 'm');

INSTANTIATE_TEST_SUITE_P(
    Peers, MisbehavingPeer,
    testing::Values(
        PeerCase{"answers", answer_with(framed(" {\"ok\": true}\n")), "replied: {\"ok\": true}\n"},
        PeerCase{"answers_max_frame", answer_with(framed(MAX_BODY)), "replied:" + MAX_BODY},
        PeerCase{"answers_not_utf8_left_to_the_caller", answer_with(framed("\xFF\xFE")), "replied:\xFF\xFE"},
        PeerCase{"header_zero", answer_with(prefix(0), true), "indeterminate:INTERNAL_ERROR"},
        // The peer sends no body and keeps the connection open: reading one would run into the budget.
        PeerCase{"header_past_max_frame", answer_with(prefix(65537), true), "indeterminate:INTERNAL_ERROR"},
        PeerCase{"header_largest", answer_with(prefix(0xFFFFFFFF), true), "indeterminate:INTERNAL_ERROR"},
        PeerCase{"closes_after_request", [](PeerConnection& c) { c.read_request(); },
                 "indeterminate:DELIVERY_INDETERMINATE"},
        PeerCase{"closes_inside_header", answer_with(prefix(10).substr(0, 2)),
                 "indeterminate:DELIVERY_INDETERMINATE"},
        PeerCase{"closes_inside_body", answer_with(prefix(10) + "12345"),
                 "indeterminate:DELIVERY_INDETERMINATE"},
        PeerCase{"answers_in_pieces",
                 [](PeerConnection& c) {
                     if (!c.read_request()) return;
                     for (std::string piece : {prefix(6).substr(0, 1), prefix(6).substr(1), std::string("ab"),
                                               std::string("cdef")}) {
                         c.send(piece);
                         std::this_thread::sleep_for(20ms);
                     }
                 },
                 "replied:abcdef"}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(Exchange, SendsOneFrameWithThePayloadUnchanged) {
    TempDir dir;
    TestPeer peer(socket_in(dir), answer_with(framed("ok")));
    const std::string payload = "{ \"url\" : \"https://example.com/\xC3\xA9\" }\n";
    ASSERT_EQ(describe(exchange(peer.socket_path(), payload, monotonic_clock())), "replied:ok");
    EXPECT_EQ(peer.requests(), std::vector<std::string>{std::string("\x25\x00\x00\x00", 4) + payload});
}

// Leaves a socket file behind that nobody listens on, as an application that crashed would.
void bind_and_close(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    int fd = platform::open_unix_stream_socket(false);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    EXPECT_TRUE(std::filesystem::exists(path));
}

struct UnreachableCase {
    const char* name;
    std::function<void(const std::string& socket_path)> prepare;
};

class NobodyListening : public testing::TestWithParam<UnreachableCase> {};

TEST_P(NobodyListening, IsUnavailableAtOnce) {
    TempDir dir;
    const std::string path = socket_in(dir);
    GetParam().prepare(path);
    const auto start = Steady::now();
    EXPECT_EQ(describe(exchange(path, "{}", monotonic_clock())), "unavailable:APP_UNAVAILABLE");
    EXPECT_LT(elapsed_ms(start), PROMPT_MS);
}

INSTANTIATE_TEST_SUITE_P(Sockets, NobodyListening,
                         testing::Values(UnreachableCase{"no_directory", [](const std::string&) {}},
                                         UnreachableCase{"stale_socket_file", bind_and_close},
                                         UnreachableCase{"regular_file",
                                                         [](const std::string& path) {
                                                             std::filesystem::create_directories(
                                                                 std::filesystem::path(path).parent_path());
                                                             std::FILE* file = std::fopen(path.c_str(), "w");
                                                             ASSERT_NE(file, nullptr);
                                                             std::fclose(file);
                                                         }}),
                         [](const auto& param_info) { return param_info.param.name; });

TEST(Exchange, PeerThatNeverAnswersEndsWithTheBudget) {
    TempDir dir;
    TestPeer peer(socket_in(dir), [](PeerConnection& c) {
        c.read_request();
        c.hold_open();
    });
    const auto budget = 700ms;
    const auto start = Steady::now();
    EXPECT_EQ(describe(exchange(peer.socket_path(), "{}", monotonic_clock(), budget)),
              "indeterminate:DELIVERY_INDETERMINATE");
    EXPECT_GE(elapsed_ms(start), 650);
    EXPECT_LT(elapsed_ms(start), 700 + LATE_MS);
}

TEST(Exchange, HeaderWithoutBodyEndsWithTheBudget) {
    TempDir dir;
    TestPeer peer(socket_in(dir), answer_with(prefix(10) + "1234", true));
    const auto start = Steady::now();
    EXPECT_EQ(describe(exchange(peer.socket_path(), "{}", monotonic_clock(), 700ms)),
              "indeterminate:DELIVERY_INDETERMINATE");
    EXPECT_GE(elapsed_ms(start), 650);
    EXPECT_LT(elapsed_ms(start), 700 + LATE_MS);
}

// The budget runs from the start of the exchange: time spent getting the request out counts.
// The peer lets the request sit for 1 s before reading it, then never answers; with a budget of
// 1.5 s the exchange must end near 1.5 s, not 1.5 s after the last write (2.5 s).
TEST(Exchange, BudgetCountsFromTheStartNotFromTheLastWrite) {
    TempDir dir;
    TestPeer peer(socket_in(dir), [](PeerConnection& c) {
        std::this_thread::sleep_for(1000ms);
        c.read_request();
        c.hold_open();
    });
    const std::string payload(2 << 20, 'x');  // far more than the socket buffers hold
    const auto start = Steady::now();
    EXPECT_EQ(describe(exchange(peer.socket_path(), payload, monotonic_clock(), 1500ms)),
              "indeterminate:DELIVERY_INDETERMINATE");
    EXPECT_EQ(peer.requests().size(), 1u);  // the whole request did go out
    EXPECT_GE(elapsed_ms(start), 1450);
    EXPECT_LT(elapsed_ms(start), 2300);
}

TEST(Exchange, RequestThatCannotBeWrittenInTimeIsUnavailable) {
    TempDir dir;
    TestPeer peer(socket_in(dir), [](PeerConnection& c) { c.hold_open(); });
    const std::string payload(4 << 20, 'x');
    const auto start = Steady::now();
    EXPECT_EQ(describe(exchange(peer.socket_path(), payload, monotonic_clock(), 700ms)),
              "unavailable:APP_UNAVAILABLE");
    EXPECT_GE(elapsed_ms(start), 650);
    EXPECT_LT(elapsed_ms(start), 700 + LATE_MS);
}

// Writing to a peer that has closed fails with an error; no SIGPIPE ends the test process.
TEST(Exchange, PeerGoneWhileWritingIsUnavailableWithoutASignal) {
    TempDir dir;
    TestPeer peer(socket_in(dir), [](PeerConnection&) {});
    const std::string payload(4 << 20, 'x');
    const auto start = Steady::now();
    EXPECT_EQ(describe(exchange(peer.socket_path(), payload, monotonic_clock())),
              "unavailable:APP_UNAVAILABLE");
    EXPECT_LT(elapsed_ms(start), PROMPT_MS);
}

// A listener whose backlog is full: Linux lets connect wait for room, bounded only by the send
// time-out; macOS refuses at once. Either way the exchange ends within its budget.
TEST(Exchange, ConnectToAFullBacklogEndsWithinTheBudget) {
    TempDir dir;
    auto peer = std::make_unique<TestPeer>(socket_in(dir), TestPeer::Handler{}, 1, false);
    BacklogFiller filler(peer->socket_path());
    ASSERT_TRUE(filler.full());

    const auto start = Steady::now();
    auto outcome = std::async(std::launch::async, [path = peer->socket_path()] {
        return exchange(path, "{}", monotonic_clock(), 700ms);
    });
    if (outcome.wait_for(700ms + 5s) != std::future_status::ready) {
        ADD_FAILURE() << "connect outlived its budget";
        peer.reset();  // closing the listener wakes a waiting connect
    }
    EXPECT_EQ(describe(outcome.get()), "unavailable:APP_UNAVAILABLE");
    EXPECT_LT(elapsed_ms(start), 700 + LATE_MS);
#if defined(__linux__)
    EXPECT_GE(elapsed_ms(start), 650);  // it did wait for room, and only as long as allowed
#endif
}

TEST(Exchange, SocketPathLimitIs103BytesEverywhere) {
    TempDir dir;
    // dir is "/tmp/sfr-XXXXXX" (15 bytes); "/<name>" and "/ipc/browser.sock" (17 bytes) follow.
    const auto path_of_length = [&](std::size_t length) {
        return dir.path().string() + "/" + std::string(length - dir.path().string().size() - 18, 'c') +
               "/ipc/browser.sock";
    };
    const std::string longest = path_of_length(103);
    const std::string too_long = path_of_length(104);
    ASSERT_EQ(longest.size(), 103u);
    ASSERT_EQ(too_long.size(), 104u);

    TestPeer fits(longest, answer_with(framed("ok")));
    EXPECT_EQ(describe(exchange(longest, "{}", monotonic_clock())), "replied:ok");

    // Linux could reach this socket; the handler keeps the macOS limit anyway.
    TestPeer beyond(too_long, answer_with(framed("ok")));
    EXPECT_EQ(describe(exchange(too_long, "{}", monotonic_clock())), "unavailable:APP_UNAVAILABLE");
    EXPECT_EQ(beyond.accepted(), 0);
}

TEST(Exchange, PathWithANulByteIsNotCut) {
    TempDir dir;
    TestPeer peer(socket_in(dir), answer_with(framed("ok")));
    EXPECT_EQ(describe(exchange(peer.socket_path() + std::string("\0x", 2), "{}", monotonic_clock())),
              "unavailable:APP_UNAVAILABLE");
    EXPECT_EQ(peer.accepted(), 0);
}

// A clock that reads an arbitrary start once, then, however long the calls take, a moment that
// leaves `left_ns` of the default budget.
Clock with_only_left(std::uint64_t left_ns) {
    constexpr std::uint64_t START = 1'000'000'000;
    const std::uint64_t later = START + static_cast<std::uint64_t>(EXCHANGE_BUDGET.count()) - left_ns;
    auto readings = std::make_shared<std::atomic<int>>(0);
    return [=] { return readings->fetch_add(1) == 0 ? START : later; };
}

TEST(Exchange, LessThanAMicrosecondLeftCountsAsSpent) {
    TempDir dir;
    TestPeer peer(socket_in(dir), answer_with(framed("ok")));
    const auto began = Steady::now();
    EXPECT_EQ(describe(exchange(peer.socket_path(), "{}", with_only_left(999))),
              "unavailable:APP_UNAVAILABLE");
    EXPECT_LT(elapsed_ms(began), PROMPT_MS);
    EXPECT_EQ(peer.accepted(), 0);  // it never got as far as connecting

    EXPECT_EQ(describe(exchange(peer.socket_path(), "{}", monotonic_clock(), 0ms)),
              "unavailable:APP_UNAVAILABLE");
    EXPECT_EQ(peer.accepted(), 0);
}

// With a microsecond left at every step the exchange still goes ahead, each call under a
// one-microsecond limit, and never waits longer than the socket layer's smallest time-out.
TEST(Exchange, OneMicrosecondLeftStillConnects) {
    TempDir dir;
    TestPeer peer(socket_in(dir), [](PeerConnection& c) {
        c.read_request();
        c.hold_open();
    });
    const auto began = Steady::now();
    EXPECT_EQ(describe(exchange(peer.socket_path(), "{}", with_only_left(1000))),
              "indeterminate:DELIVERY_INDETERMINATE");
    EXPECT_LT(elapsed_ms(began), PROMPT_MS);
}

void ignore_signal(int) {}

// Signals that interrupt a wait do not end the exchange: the call is made again with what is
// left of the budget.
TEST(Exchange, InterruptedReadsAreRetried) {
    struct sigaction quiet {};
    quiet.sa_handler = ignore_signal;
    sigemptyset(&quiet.sa_mask);
    quiet.sa_flags = 0;  // no SA_RESTART: the read really returns EINTR
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &quiet, &previous), 0);

    TempDir dir;
    TestPeer peer(socket_in(dir), [](PeerConnection& c) {
        if (!c.read_request()) return;
        std::this_thread::sleep_for(400ms);
        c.send(framed("late"));
    });
    std::atomic<bool> done{false};
    std::string result;
    std::thread relay([&] {
        result = describe(exchange(peer.socket_path(), "{}", monotonic_clock()));
        done = true;
    });
    int interruptions = 0;
    for (; !done && interruptions < 100; ++interruptions) {
        ::pthread_kill(relay.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(20ms);
    }
    relay.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_GT(interruptions, 3);
    EXPECT_EQ(result, "replied:late");
}

}  // namespace
}  // namespace ondrake::safari
