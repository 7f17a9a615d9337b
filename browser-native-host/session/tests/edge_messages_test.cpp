// Messages at the edges a session must survive: bodies and replies at the exact frame limit in
// both directions (browser to host, host to browser, host to application), and a failure played
// at each stage of handling one message. Every message gets exactly one reply, with the exact
// bytes below, and the frame after it is still answered.
#include "browser-native-host/session/session.hpp"

#include "browser-native-host/messages/framing.hpp"
#include "browser-native-host/tests/support/session_messages.hpp"
#include "browser-native-host/session/tests/session_support.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>

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
    auto prepare_sent = [](std::size_t n) { return prepare_to_application(plain_url(n)); };
    auto simple_sent = [](std::size_t n) { return simple_to_application("r-1", accented_url_normalised(n)); };
    std::size_t prepare_at_limit = n_for_application_size(prepare_sent, MAX_FRAME);
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
         framed(capture("c-1", "capture_prepare", plain_url(prepare_at_limit))) + HELLO_FRAME,
         {capture_reply("c-1", "prepared", "CAPTURE_PREPARED"), INVALID},
         {"capture c-1 CapturePrepare -> Prepared/CapturePrepared"},
         {prepare_to_application(plain_url(prepare_at_limit))}},
        {"capture_for_the_application_of_65537_is_an_internal_error",
         framed(capture("c-1", "capture_prepare", plain_url(prepare_at_limit + 1))) + HELLO_FRAME,
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

struct FailureCase {
    const char* name;
    std::string message;         // the first frame's body; a simple request r-2 follows it
    std::optional<Stage> stage;  // where the failure is played; none: the launcher fails
    void (*fail)();
    std::vector<std::string> replies;
    std::vector<std::string> log;
    std::vector<std::string> received;
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class FailureInside : public SessionTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(FailureInside, AnsweredAndTheSessionGoesOn) {
    const FailureCase& c = GetParam();
    // Without a stage, nobody listens and the launcher fails, once.
    std::optional<app_peer::PeerProcess> peer;
    if (c.stage) peer.emplace(start_peer("accept"));
    CountingLauncher launcher([&c, first = true]() mutable {
        if (std::exchange(first, false)) c.fail();
        return false;
    });
    int messages = 0;
    auto hook = [&](Stage stage) {
        if (stage == Stage::Checking) ++messages;
        if (messages == 1 && stage == c.stage) c.fail();
    };
    MemorySource input(framed(c.message) + framed(simple("r-2", "https://example.test/")));
    MemorySink output;

    ASSERT_TRUE(run(input, output, launcher, true, hook));
    EXPECT_EQ(frames_in(output.written), c.replies);
    EXPECT_EQ(diagnostics_.lines, c.log);
    if (peer) {
        peer->stop();
        EXPECT_EQ(received_by(*peer), c.received);
    }
}

void out_of_memory() { throw std::bad_alloc(); }
void launcher_failure() { throw std::runtime_error("the launcher failed"); }
void thrown_number() { throw 7; }

const std::string PREPARE = capture("c-1", "capture_prepare", "https://example.test/f.zip");
const std::string PREPARE_SENT = prepare_to_application("https://example.test/f.zip");
const std::string SIMPLE = simple("r-1", "https://example.test/one");
const std::string SIMPLE_SENT = simple_to_application("r-1", "https://example.test/one");
const std::string NEXT_SENT = simple_to_application("r-2", "https://example.test/");
const std::string NEXT_REPLY = host_reply("r-2", "accepted", "ACCEPTED");
const std::string NEXT_LOG = "request r-2 -> Accepted";

INSTANTIATE_TEST_SUITE_P(
    Stages, FailureInside,
    testing::Values(
        FailureCase{"capture_before_it_is_checked",
                    PREPARE,
                    Stage::Checking,
                    out_of_memory,
                    {SIMPLE_INTERNAL_ERROR, NEXT_REPLY},
                    {"message -> InternalError (std::bad_alloc)", NEXT_LOG},
                    {NEXT_SENT}},
        FailureCase{"capture_before_delivery",
                    PREPARE,
                    Stage::Delivering,
                    out_of_memory,
                    {capture_reply("c-1", "unknown", "INTERNAL_ERROR"), NEXT_REPLY},
                    {"capture c-1 CapturePrepare -> Unknown/InternalError (std::bad_alloc)", NEXT_LOG},
                    {NEXT_SENT}},
        FailureCase{"capture_once_connected",
                    PREPARE,
                    Stage::Connected,
                    out_of_memory,
                    {capture_reply("c-1", "unknown", "INTERNAL_ERROR"), NEXT_REPLY},
                    {"capture c-1 CapturePrepare -> Unknown/InternalError (std::bad_alloc)", NEXT_LOG},
                    {NOTHING, NEXT_SENT}},
        FailureCase{"capture_as_the_write_begins",
                    PREPARE,
                    Stage::Writing,
                    out_of_memory,
                    {capture_reply("c-1", "unknown", "INTERNAL_ERROR"), NEXT_REPLY},
                    {"capture c-1 CapturePrepare -> Unknown/InternalError (std::bad_alloc)", NEXT_LOG},
                    {NOTHING, NEXT_SENT}},
        FailureCase{"capture_after_the_reply",
                    PREPARE,
                    Stage::Replied,
                    out_of_memory,
                    {capture_reply("c-1", "indeterminate", "INTERNAL_ERROR"), NEXT_REPLY},
                    {"capture c-1 CapturePrepare -> Indeterminate/InternalError (std::bad_alloc)", NEXT_LOG},
                    {PREPARE_SENT, NEXT_SENT}},
        FailureCase{"capture_while_answering",
                    PREPARE,
                    Stage::Answering,
                    out_of_memory,
                    {capture_reply("c-1", "indeterminate", "INTERNAL_ERROR"), NEXT_REPLY},
                    {"capture c-1 CapturePrepare -> Indeterminate/InternalError (std::bad_alloc)", NEXT_LOG},
                    {PREPARE_SENT, NEXT_SENT}},
        FailureCase{"capture_when_the_launcher_throws",
                    PREPARE,
                    std::nullopt,
                    launcher_failure,
                    {capture_reply("c-1", "unknown", "INTERNAL_ERROR"),
                     host_reply("r-2", "unavailable", "APP_UNAVAILABLE")},
                    {"capture c-1 CapturePrepare -> Unknown/InternalError (the launcher failed)",
                     "request r-2 -> AppUnavailable"},
                    {}},
        FailureCase{"simple_before_delivery",
                    SIMPLE,
                    Stage::Delivering,
                    out_of_memory,
                    {host_reply("r-1", "indeterminate", "INTERNAL_ERROR"), NEXT_REPLY},
                    {"request r-1 -> InternalError (std::bad_alloc)", NEXT_LOG},
                    {NEXT_SENT}},
        FailureCase{"simple_after_the_reply",
                    SIMPLE,
                    Stage::Replied,
                    out_of_memory,
                    {host_reply("r-1", "indeterminate", "INTERNAL_ERROR"), NEXT_REPLY},
                    {"request r-1 -> InternalError (std::bad_alloc)", NEXT_LOG},
                    {SIMPLE_SENT, NEXT_SENT}},
        FailureCase{"not_a_standard_exception",
                    SIMPLE,
                    Stage::Checking,
                    thrown_number,
                    {SIMPLE_INTERNAL_ERROR, NEXT_REPLY},
                    {"message -> InternalError (an exception of unknown type)", NEXT_LOG},
                    {NEXT_SENT}}),
    [](const auto& param_info) { return param_info.param.name; });

}  // namespace
}  // namespace ondrake::session
