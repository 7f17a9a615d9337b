// Messages at the edges a session must survive: bodies and replies at the exact frame limit in
// both directions (browser to host, host to browser, host to application), and a failure while
// one message is handled. Every message gets exactly one reply, with the exact bytes below, and
// the frame after it is still answered.
#include "browser-native-host/session/session.hpp"

#include "browser-native-host/messages/framing.hpp"
#include "browser-native-host/tests/support/session_messages.hpp"
#include "browser-native-host/session/tests/session_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <new>
#include <stdexcept>
#include <utility>

namespace ondrake::session {
namespace {

using namespace test;

constexpr std::size_t MAX_FRAME = framing::MAX_FRAME;

// The body make(n) that is exactly `total` bytes long; make(n) must grow by one byte per unit of n.
std::string sized(const std::function<std::string(std::size_t)>& make, std::size_t total) {
    std::string body = make(total - make(0).size());
    EXPECT_EQ(body.size(), total);
    return body;
}

std::string repeated(std::string_view text, std::size_t times) {
    std::string result;
    for (std::size_t i = 0; i < times; ++i) result.append(text);
    return result;
}

// A capture of protocol version 3 whose ids, `n` bytes together, are answered as received.
std::string other_version_capture(std::size_t n) {
    return R"({"protocolVersion":3,"requestId":")" + std::string(n / 2, 'A') + R"(","captureId":")" +
           std::string(n - n / 2, 'C') + R"(","action":"capture_abort","source":"automatic_download"})";
}

std::string other_version_reply(std::size_t n) {
    return R"({"protocolVersion":4,"requestId":")" + std::string(n / 2, 'A') + R"(","captureId":")" +
           std::string(n - n / 2, 'C') + R"(","status":"unknown","code":"UNSUPPORTED_PROTOCOL_VERSION"})";
}

// The ids of other_version_capture that make its reply exactly `reply_size` bytes long.
std::size_t ids_for_reply_of(std::size_t reply_size) { return reply_size - other_version_reply(0).size(); }

const std::string OTHER_VERSION_WITHOUT_IDS =
    R"({"protocolVersion":4,"requestId":"","captureId":"","status":"unknown","code":"UNSUPPORTED_PROTOCOL_VERSION"})";

// What the application receives for capture("c-1", "capture_prepare", url) and for
// simple("r-1", url), the url already in its final form.
std::string prepare_to_application(std::string_view url) {
    return R"({"protocolVersion":4,"requestId":"r-1","captureId":"c-1","action":"capture_prepare","browser":"chrome",)"
           R"("browserDownloadId":null,"url":")" +
           std::string(url) +
           R"(","observed":null,"cookies":null,"downloadName":null,"initiatorOrigin":null,"revalidateResponse":null})";
}
std::string simple_to_application(std::string_view request_id, std::string_view url) {
    return R"({"protocolVersion":1,"requestId":")" + std::string(request_id) + R"(","url":")" +
           std::string(url) + "\"}";
}

// URLs that grow by one byte per unit of n. The second holds 10000 "é", each two bytes in the
// browser's message and six ("%C3%A9") once normalised for the application.
std::string plain_url(std::size_t n) { return "https://example.test/" + std::string(n, 'a'); }
std::string accented_url(std::size_t n) {
    return "https://example.test/" + repeated("\xC3\xA9", 10000) + std::string(n, 'a');
}
std::string accented_url_normalised(std::size_t n) {
    return "https://example.test/" + repeated("%C3%A9", 10000) + std::string(n, 'a');
}

// The n of a URL making function whose message to the application is exactly `size` bytes.
std::size_t n_for_application_size(const std::function<std::string(std::size_t)>& to_application,
                                   std::size_t size) {
    return size - to_application(0).size();
}

// The n of plain_url that makes capture("c-1", "capture_prepare", url) exactly a frame long once
// it is the application's message.
std::size_t prepare_at_limit() {
    return n_for_application_size([](std::size_t n) { return prepare_to_application(plain_url(n)); },
                                  MAX_FRAME);
}

const std::string HELLO_FRAME = framed("hello");
const std::string SIMPLE_INTERNAL_ERROR = host_reply("", "indeterminate", "INTERNAL_ERROR");
const std::string NOTHING = "null";  // a connection that brought the application no request

struct EdgeCase {
    const char* name;
    std::string input;  // the frames; a case that does not end the session is followed by "hello"
    std::vector<std::string> replies;
    std::vector<std::string> log;
    std::vector<std::string> received;  // by the application, as JSON
};

void PrintTo(const EdgeCase& c, std::ostream* out) { *out << c.name; }

class FrameLimits : public SessionTest, public testing::WithParamInterface<EdgeCase> {};

TEST_P(FrameLimits, EveryMessageGetsExactlyOneReply) {
    const EdgeCase& c = GetParam();
    auto peer = start_peer("accept");
    CountingLauncher launcher([] { return false; });
    MemorySource input(c.input);
    MemorySink output;

    ASSERT_TRUE(run(input, output, launcher, true));
    EXPECT_EQ(frames_in(output.written), c.replies);
    EXPECT_EQ(diagnostics_.lines, c.log);
    peer.stop();
    EXPECT_EQ(received_by(peer), c.received);
}

std::vector<EdgeCase> frame_limit_cases() {
    auto simple_of_url = [](auto url) { return [url](std::size_t n) { return simple("r-1", url(n)); }; };
    auto prepare_of_url = [](auto url) {
        return [url](std::size_t n) { return capture("c-1", "capture_prepare", url(n)); };
    };
    auto simple_sent = [](std::size_t n) { return simple_to_application("r-1", accented_url_normalised(n)); };
    const std::size_t prepare_n = prepare_at_limit();
    std::size_t simple_at_limit = n_for_application_size(simple_sent, MAX_FRAME);
    const std::string ids_at_limit = other_version_reply(ids_for_reply_of(MAX_FRAME));

    return {
        // Browser to host.
        {"request_of_65536_bytes_is_read",
         framed(
             sized(simple_of_url([](std::size_t n) { return "ftp://example.test/" + std::string(n, 'a'); }),
                   MAX_FRAME)) +
             HELLO_FRAME,
         {host_reply("r-1", "rejected", "UNSUPPORTED_SCHEME"), INVALID},
         {},
         {}},
        {"request_of_65537_bytes_ends_the_session",
         framed(std::string(MAX_FRAME + 1, ' ')) + HELLO_FRAME,
         {INVALID},
         {"the frame declared 65537 bytes, over the 65536 limit"},
         {}},
        // Host to browser: rejections that echo ids.
        {"simple_rejection_echoing_its_id_at_65536",
         framed(sized(
             [](std::size_t n) {
                 return R"({"x":")" + std::string(n, 'a') + "\"," +
                        simple("r-1", "https://example.test/").substr(1);
             },
             MAX_FRAME)) +
             HELLO_FRAME,
         {host_reply("r-1", "rejected", "INVALID_MESSAGE"), INVALID},
         {},
         {}},
        {"capture_rejection_echoing_its_ids_at_65536",
         framed(sized(
             [](std::size_t n) {
                 return R"({"x":")" + std::string(n, 'a') + "\"," +
                        capture("c-1", "capture_status").substr(1);
             },
             MAX_FRAME)) +
             HELLO_FRAME,
         {capture_reply("c-1", "unknown", "INVALID_MESSAGE"), INVALID},
         {},
         {}},
        {"other_version_reply_of_exactly_65536_keeps_its_ids",
         framed(other_version_capture(ids_for_reply_of(MAX_FRAME))) + HELLO_FRAME,
         {ids_at_limit, INVALID},
         {},
         {}},
        {"other_version_reply_of_65537_goes_without_ids",
         framed(other_version_capture(ids_for_reply_of(MAX_FRAME + 1))) + HELLO_FRAME,
         {OTHER_VERSION_WITHOUT_IDS, INVALID},
         {},
         {}},
        {"other_version_request_of_65536_goes_without_ids",
         framed(sized(other_version_capture, MAX_FRAME)) + HELLO_FRAME,
         {OTHER_VERSION_WITHOUT_IDS, INVALID},
         {},
         {}},
        // Host to application: the accepted message can be longer than the browser's.
        {"capture_for_the_application_of_exactly_65536_is_delivered",
         framed(capture("c-1", "capture_prepare", plain_url(prepare_n))) + HELLO_FRAME,
         {capture_reply("c-1", "prepared", "CAPTURE_PREPARED"), INVALID},
         {"capture c-1 CapturePrepare -> Prepared/CapturePrepared"},
         {prepare_to_application(plain_url(prepare_n))}},
        {"capture_for_the_application_of_65537_is_an_internal_error",
         framed(capture("c-1", "capture_prepare", plain_url(prepare_n + 1))) + HELLO_FRAME,
         {capture_reply("c-1", "unknown", "INTERNAL_ERROR"), INVALID},
         {"capture c-1 CapturePrepare -> Unknown/InternalError"},
         {NOTHING}},
        {"capture_of_65536_too_long_for_the_application",
         framed(sized(prepare_of_url(plain_url), MAX_FRAME)) + HELLO_FRAME,
         {capture_reply("c-1", "unknown", "INTERNAL_ERROR"), INVALID},
         {"capture c-1 CapturePrepare -> Unknown/InternalError"},
         {NOTHING}},
        {"simple_request_for_the_application_of_exactly_65536_is_delivered",
         framed(simple("r-1", accented_url(simple_at_limit))) + HELLO_FRAME,
         {host_reply("r-1", "accepted", "ACCEPTED"), INVALID},
         {"request r-1 -> Accepted"},
         {simple_to_application("r-1", accented_url_normalised(simple_at_limit))}},
        {"simple_request_for_the_application_of_65537_is_an_internal_error",
         framed(simple("r-1", accented_url(simple_at_limit + 1))) + HELLO_FRAME,
         {host_reply("r-1", "indeterminate", "INTERNAL_ERROR"), INVALID},
         {"request r-1 -> InternalError"},
         {NOTHING}},
        {"simple_request_of_65536_too_long_for_the_application",
         framed(sized(simple_of_url(accented_url), MAX_FRAME)) + HELLO_FRAME,
         {host_reply("r-1", "indeterminate", "INTERNAL_ERROR"), INVALID},
         {"request r-1 -> InternalError"},
         {NOTHING}},
    };
}

INSTANTIATE_TEST_SUITE_P(Messages, FrameLimits, testing::ValuesIn(frame_limit_cases()),
                         [](const auto& param_info) { return param_info.param.name; });

// ---- A failure while one message is handled ------------------------------------------------
// Played through what the session is given: a launcher that throws when delivery asks it to start
// the application, or diagnostics that run out of memory printing the message's outcome, after
// delivery is over. Whether the request was written to the application decides the capture's
// state in the INTERNAL_ERROR reply: "unknown" before, "indeterminate" after.

struct FailureCase {
    const char* name;
    std::string message;  // the first frame's body; a simple request r-2 follows it
    bool listening;       // app-peer listens; otherwise nobody does, and every launch fails
    void (*launch)();     // when set, the first launch throws what this throws
    std::string fail_on;  // when set, printing this log line runs out of memory
    std::vector<std::string> replies;
    std::vector<std::string> log;
    std::vector<std::string> received;
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class FailureInside : public SessionTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(FailureInside, AnsweredAndTheSessionGoesOn) {
    const FailureCase& c = GetParam();
    std::optional<app_peer::PeerProcess> peer;
    if (c.listening) peer.emplace(start_peer("accept"));
    CountingLauncher launcher([&c, first = true]() mutable {
        if (std::exchange(first, false) && c.launch) c.launch();
        return false;
    });
    diagnostics_.fail_on = c.fail_on;
    MemorySource input(framed(c.message) + framed(simple("r-2", "https://example.test/")));
    MemorySink output;

    ASSERT_TRUE(run(input, output, launcher, true));
    EXPECT_EQ(frames_in(output.written), c.replies);
    EXPECT_EQ(diagnostics_.lines, c.log);
    if (peer) {
        peer->stop();
        EXPECT_EQ(received_by(*peer), c.received);
    }
}

void launcher_failure() { throw std::runtime_error("the launcher failed"); }
void thrown_number() { throw 7; }

const std::string PREPARE = capture("c-1", "capture_prepare", "https://example.test/f.zip");
const std::string PREPARE_SENT = prepare_to_application("https://example.test/f.zip");
// A capture_prepare one byte too long for a frame once it is the application's message: delivery
// connects and then writes nothing.
const std::string PREPARE_TOO_LONG = capture("c-1", "capture_prepare", plain_url(prepare_at_limit() + 1));
const std::string SIMPLE = simple("r-1", "https://example.test/one");
const std::string SIMPLE_SENT = simple_to_application("r-1", "https://example.test/one");
const std::string NEXT_SENT = simple_to_application("r-2", "https://example.test/");
const std::string NEXT_REPLY = host_reply("r-2", "accepted", "ACCEPTED");
const std::string NEXT_LOG = "request r-2 -> Accepted";
const std::string NEXT_UNAVAILABLE = host_reply("r-2", "unavailable", "APP_UNAVAILABLE");
const std::string NEXT_UNAVAILABLE_LOG = "request r-2 -> AppUnavailable";

INSTANTIATE_TEST_SUITE_P(
    Failures, FailureInside,
    testing::Values(
        FailureCase{"capture_when_the_launcher_throws",
                    PREPARE,
                    false,
                    launcher_failure,
                    "",
                    {capture_reply("c-1", "unknown", "INTERNAL_ERROR"), NEXT_UNAVAILABLE},
                    {"capture c-1 CapturePrepare -> Unknown/InternalError (the launcher failed)",
                     NEXT_UNAVAILABLE_LOG},
                    {}},
        FailureCase{"simple_when_the_launcher_throws_no_standard_exception",
                    SIMPLE,
                    false,
                    thrown_number,
                    "",
                    {host_reply("r-1", "indeterminate", "INTERNAL_ERROR"), NEXT_UNAVAILABLE},
                    {"request r-1 -> InternalError (an exception of unknown type)", NEXT_UNAVAILABLE_LOG},
                    {}},
        FailureCase{
            "capture_never_reached",
            PREPARE,
            false,
            nullptr,
            "capture c-1 CapturePrepare -> Unknown/AppUnavailable",
            {capture_reply("c-1", "unknown", "INTERNAL_ERROR"), NEXT_UNAVAILABLE},
            {"capture c-1 CapturePrepare -> Unknown/InternalError (std::bad_alloc)", NEXT_UNAVAILABLE_LOG},
            {}},
        FailureCase{"capture_connected_but_never_written",
                    PREPARE_TOO_LONG,
                    true,
                    nullptr,
                    "capture c-1 CapturePrepare -> Unknown/InternalError",
                    {capture_reply("c-1", "unknown", "INTERNAL_ERROR"), NEXT_REPLY},
                    {"capture c-1 CapturePrepare -> Unknown/InternalError (std::bad_alloc)", NEXT_LOG},
                    {NOTHING, NEXT_SENT}},
        FailureCase{"capture_after_its_delivery",
                    PREPARE,
                    true,
                    nullptr,
                    "capture c-1 CapturePrepare -> Prepared/CapturePrepared",
                    {capture_reply("c-1", "indeterminate", "INTERNAL_ERROR"), NEXT_REPLY},
                    {"capture c-1 CapturePrepare -> Indeterminate/InternalError (std::bad_alloc)", NEXT_LOG},
                    {PREPARE_SENT, NEXT_SENT}},
        FailureCase{"simple_after_its_delivery",
                    SIMPLE,
                    true,
                    nullptr,
                    "request r-1 -> Accepted",
                    {host_reply("r-1", "indeterminate", "INTERNAL_ERROR"), NEXT_REPLY},
                    {"request r-1 -> InternalError (std::bad_alloc)", NEXT_LOG},
                    {SIMPLE_SENT, NEXT_SENT}}),
    [](const auto& param_info) { return param_info.param.name; });

// Hands out `bytes`, then runs out of memory instead of reporting the end of the input, as when
// the buffer for a frame's body cannot be had.
class ExhaustedSource final : public ByteSource {
public:
    explicit ExhaustedSource(std::string bytes) : bytes_(std::move(bytes)) {}
    IoResult read_some(char* data, std::size_t size) override {
        if (bytes_.empty()) throw std::bad_alloc();
        std::size_t n = std::min(size, bytes_.size());
        bytes_.copy(data, n);
        bytes_.erase(0, n);
        return n;
    }

private:
    std::string bytes_;
};

TEST_F(SessionTest, FrameThatCannotBeReadIsAnsweredOnceAndEndsTheSession) {
    CountingLauncher launcher([] { return false; });
    ExhaustedSource input(framed(simple("r-1", "https://example.test/")) + prefix(10) + "abc");
    MemorySink output;

    ASSERT_TRUE(run(input, output, launcher, false));
    EXPECT_EQ(frames_in(output.written),
              (std::vector<std::string>{host_reply("r-1", "unavailable", "APP_UNAVAILABLE"),
                                        SIMPLE_INTERNAL_ERROR}));
    EXPECT_EQ(diagnostics_.lines,
              (std::vector<std::string>{"no per-user endpoint is available", "request r-1 -> AppUnavailable",
                                        "could not read a frame (std::bad_alloc)"}));
}

}  // namespace
}  // namespace ondrake::session
