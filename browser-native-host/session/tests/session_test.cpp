#include "browser-native-host/session/session.hpp"

#include "browser-native-host/messages/framing.hpp"
#include "browser-native-host/tests/support/session_messages.hpp"
#include "browser-native-host/session/tests/session_support.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace ondrake::session {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using namespace test;

const std::string NO_ENDPOINT = "no per-user endpoint is available";

// Where the application is, seen from the session.
enum class Application {
    NoEndpoint,  // the session has no endpoint at all
    Listening,   // app-peer listens on the endpoint, answering as `policy` says
    Absent,      // nobody listens, and the launcher cannot start anybody
};

struct SessionCase {
    const char* name;
    std::string input;
    Application application;
    std::string policy;
    std::vector<std::string> replies;
    std::vector<std::string> log;
    std::vector<std::string> received;  // the bodies the application got, as JSON
    int launches = 0;
    std::string unread{};  // what the session must leave in its input
};

void PrintTo(const SessionCase& c, std::ostream* out) { *out << c.name; }

class SessionCases : public SessionTest, public testing::WithParamInterface<SessionCase> {};

TEST_P(SessionCases, AnswersEveryMessageOnce) {
    const SessionCase& c = GetParam();
    std::optional<app_peer::PeerProcess> peer;
    if (c.application == Application::Listening) peer.emplace(start_peer(c.policy));
    CountingLauncher launcher([] { return false; });
    MemorySource input(c.input, 7);  // short reads: frames arrive in pieces, as from a pipe
    MemorySink output;

    ASSERT_TRUE(run(input, output, launcher, c.application != Application::NoEndpoint));
    EXPECT_EQ(frames_in(output.written), c.replies);
    EXPECT_EQ(diagnostics_.lines, c.log);
    EXPECT_EQ(launcher.calls, c.launches);
    EXPECT_EQ(input.remaining(), c.unread);
    if (peer) {
        peer->stop();
        EXPECT_EQ(received_by(*peer), c.received);
    }
}

const std::string PREPARE_RECEIVED =
    R"({"protocolVersion":4,"requestId":"r-9","captureId":"c-9","action":"capture_prepare","browser":"chrome",)"
    R"("browserDownloadId":null,"url":"https://example.test/file.zip","observed":null,"cookies":null,)"
    R"("downloadName":null,"initiatorOrigin":null,"revalidateResponse":null})";
const std::string COMMIT_RECEIVED =
    R"({"protocolVersion":4,"requestId":"r-9","captureId":"c-9","action":"capture_commit","browser":"chrome",)"
    R"("browserDownloadId":null,"url":"https://example.test/file.zip","observed":null,"cookies":null,)"
    R"("downloadName":null,"initiatorOrigin":null,"revalidateResponse":null})";

INSTANTIATE_TEST_SUITE_P(
    Messages, SessionCases,
    testing::Values(
        SessionCase{"accepted_with_normalised_url",
                    framed(simple("r-1", "HTTPS://Example.TEST:443/a#top")),
                    Application::Listening,
                    "accept",
                    {host_reply("r-1", "accepted", "ACCEPTED")},
                    {"request r-1 -> Accepted"},
                    {R"({"protocolVersion":1,"requestId":"r-1","url":"https://example.test/a"})"}},
        SessionCase{"not_json_then_the_next_frame",
                    framed("hello") + framed(simple("r-2", "https://example.test/")),
                    Application::Listening,
                    "accept",
                    {INVALID, host_reply("r-2", "accepted", "ACCEPTED")},
                    {"request r-2 -> Accepted"},
                    {R"({"protocolVersion":1,"requestId":"r-2","url":"https://example.test/"})"}},
        SessionCase{"rejections_reach_nobody_and_are_not_logged",
                    framed(simple("r-3", "ftp://example.test/f")) +
                        framed(simple("r-4", "https://u@example.test/")) +
                        framed(capture("c-5", "capture_status", "https://example.test/")),
                    Application::Listening,
                    "accept",
                    {host_reply("r-3", "rejected", "UNSUPPORTED_SCHEME"),
                     host_reply("r-4", "rejected", "INVALID_URL"),
                     capture_reply("c-5", "unknown", "INVALID_MESSAGE")},
                    {},
                    {}},
        SessionCase{"capture_prepare_then_commit",
                    framed(capture("c-9", "capture_prepare", "https://example.test/file.zip#x")) +
                        framed(capture("c-9", "capture_commit", "https://example.test/file.zip")),
                    Application::Listening,
                    "accept",
                    {capture_reply("c-9", "prepared", "CAPTURE_PREPARED"),
                     capture_reply("c-9", "committed", "ACCEPTED")},
                    {"capture c-9 CapturePrepare -> Prepared/CapturePrepared",
                     "capture c-9 CaptureCommit -> Committed/Accepted"},
                    {PREPARE_RECEIVED, COMMIT_RECEIVED}},
        SessionCase{
            "lone_surrogates_in_skipped_values",
            framed(R"({"protocolVersion":1,"requestId":"r-s1","action":"download","source":"context_menu",)"
                   R"("url":"https://example.test/","x":"\ud800"})") +
                framed(
                    R"({"protocolVersion":4,"requestId":"r-9","captureId":"c-9","action":"capture_prepare",)"
                    R"("source":"automatic_download","browser":"chrome","url":"https://example.test/file.zip",)"
                    R"("observed":{"mime":"application/zip","x-future":"name \udc00 here"}})"),
            Application::Listening,
            "accept",
            {host_reply("r-s1", "rejected", "INVALID_MESSAGE"),
             capture_reply("c-9", "prepared", "CAPTURE_PREPARED")},
            {"capture c-9 CapturePrepare -> Prepared/CapturePrepared"},
            {R"({"protocolVersion":4,"requestId":"r-9","captureId":"c-9","action":"capture_prepare",)"
             R"("browser":"chrome","browserDownloadId":null,"url":"https://example.test/file.zip",)"
             R"("observed":{"finalUrl":null,"mime":"application/zip","totalBytes":null,"etag":null},)"
             R"("cookies":null,"downloadName":null,"initiatorOrigin":null,"revalidateResponse":null})"}},
        SessionCase{
            "application_code_passed_on",
            framed(simple("r-1", "https://example.test/")) + framed(capture("c-1", "capture_abort")),
            Application::Listening,
            "code:APP_REJECTED/aborted",
            {host_reply("r-1", "rejected", "APP_REJECTED"), capture_reply("c-1", "aborted", "APP_REJECTED")},
            {"request r-1 -> AppRejected", "capture c-1 CaptureAbort -> Aborted/AppRejected"},
            {R"({"protocolVersion":1,"requestId":"r-1","url":"https://example.test/"})",
             R"({"protocolVersion":4,"requestId":"r-1","captureId":"c-1","action":"capture_abort",)"
             R"("browser":"chrome","browserDownloadId":null,"url":null,"observed":null,"cookies":null,)"
             R"("downloadName":null,"initiatorOrigin":null,"revalidateResponse":null})"}},
        SessionCase{
            "silent_application_is_indeterminate",
            framed(simple("r-1", "https://example.test/")) + framed(capture("c-1", "capture_status")),
            Application::Listening,
            "silent",
            {host_reply("r-1", "indeterminate", "DELIVERY_INDETERMINATE"),
             capture_reply("c-1", "indeterminate", "DELIVERY_INDETERMINATE")},
            {"request r-1 -> DeliveryIndeterminate",
             "capture c-1 CaptureStatus -> Indeterminate/DeliveryIndeterminate"},
            {R"({"protocolVersion":1,"requestId":"r-1","url":"https://example.test/"})",
             R"({"protocolVersion":4,"requestId":"r-1","captureId":"c-1","action":"capture_status",)"
             R"("browser":"chrome","browserDownloadId":null,"url":null,"observed":null,"cookies":null,)"
             R"("downloadName":null,"initiatorOrigin":null,"revalidateResponse":null})"}},
        SessionCase{
            "capture_without_endpoint",
            framed(R"({"protocolVersion":4,"requestId":"r-2","captureId":"c-2","action":"capture_status",)"
                   R"("source":"automatic_download"})"),
            Application::NoEndpoint,
            "",
            {R"({"protocolVersion":4,"requestId":"r-2","captureId":"c-2","status":"unknown","code":"APP_UNAVAILABLE"})"},
            {NO_ENDPOINT, "capture c-2 CaptureStatus -> Unknown/AppUnavailable"},
            {}},
        SessionCase{
            "no_endpoint_said_once",
            framed(simple("r-1", "https://example.test/")) + framed(simple("r-2", "https://example.test/")),
            Application::NoEndpoint,
            "",
            {host_reply("r-1", "unavailable", "APP_UNAVAILABLE"),
             host_reply("r-2", "unavailable", "APP_UNAVAILABLE")},
            {NO_ENDPOINT, "request r-1 -> AppUnavailable", "request r-2 -> AppUnavailable"},
            {}},
        SessionCase{"every_unreachable_request_launches",
                    framed(simple("r-1", "https://example.test/")) +
                        framed(capture("c-1", "capture_commit", "https://example.test/")),
                    Application::Absent,
                    "",
                    {host_reply("r-1", "unavailable", "APP_UNAVAILABLE"),
                     capture_reply("c-1", "unknown", "APP_UNAVAILABLE")},
                    {"request r-1 -> AppUnavailable", "capture c-1 CaptureCommit -> Unknown/AppUnavailable"},
                    {},
                    2},
        SessionCase{"empty_input_ends_quietly", "", Application::Absent, "", {}, {}, {}},
        SessionCase{"oversized_frame_ends_the_session_unread",
                    framed(simple("r-1", "https://example.test/")) + prefix(70000) + "xyz" +
                        framed(simple("r-2", "https://example.test/")),
                    Application::NoEndpoint,
                    "",
                    {host_reply("r-1", "unavailable", "APP_UNAVAILABLE"), INVALID},
                    {NO_ENDPOINT, "request r-1 -> AppUnavailable",
                     "the frame declared 70000 bytes, over the 65536 limit"},
                    {},
                    0,
                    "xyz" + framed(simple("r-2", "https://example.test/"))},
        SessionCase{"largest_declared_length_is_read",
                    framed(std::string(65536, ' ')) + framed("{}"),
                    Application::Absent,
                    "",
                    {INVALID, host_reply("", "rejected", "UNSUPPORTED_PROTOCOL_VERSION")},
                    {},
                    {}},
        SessionCase{"empty_frame_ends_the_session",
                    prefix(0) + framed(simple("r-1", "https://example.test/")),
                    Application::Absent,
                    "",
                    {INVALID},
                    {"the frame was empty"},
                    {},
                    0,
                    framed(simple("r-1", "https://example.test/"))},
        SessionCase{"input_ends_inside_the_prefix",
                    framed("hello") + std::string("\x02\x00", 2),
                    Application::Absent,
                    "",
                    {INVALID, INVALID},
                    {"the frame was truncated"},
                    {}},
        SessionCase{"input_ends_inside_the_body",
                    prefix(10) + "abc",
                    Application::Absent,
                    "",
                    {INVALID},
                    {"the frame was truncated"},
                    {}}),
    [](const auto& param_info) { return param_info.param.name; });

// A source that hands out one whole frame per read of its length prefix, and notes how many
// replies had been written by then.
class LockstepSource final : public ByteSource {
public:
    LockstepSource(std::vector<std::string> frames, const MemorySink& output)
        : frames_(std::move(frames)), output_(output) {}

    IoResult read_some(char* data, std::size_t size) override {
        if (pending_.empty()) {
            if (next_ == frames_.size()) return std::size_t{0};
            replies_seen.push_back(frames_in(output_.written).size());
            pending_ = frames_[next_++];
        }
        std::size_t n = std::min(size, pending_.size());
        std::memcpy(data, pending_.data(), n);
        pending_.erase(0, n);
        return n;
    }

    std::vector<std::size_t> replies_seen;

private:
    std::vector<std::string> frames_;
    const MemorySink& output_;
    std::size_t next_ = 0;
    std::string pending_;
};

TEST_F(SessionTest, NextFrameIsReadOnlyAfterTheReplyIsWritten) {
    auto peer = start_peer("accept");
    CountingLauncher launcher([] { return false; });
    MemorySink output;
    LockstepSource input({framed(simple("r-1", "https://example.test/")), framed("not json"),
                          framed(capture("c-1", "capture_prepare", "https://example.test/")),
                          framed(simple("r-2", "https://example.test/"))},
                         output);

    ASSERT_TRUE(run(input, output, launcher, true));
    EXPECT_EQ(input.replies_seen, (std::vector<std::size_t>{0, 1, 2, 3}));
    EXPECT_EQ(frames_in(output.written).size(), 4u);
}

// Refuses every write, as a standard output whose reader has gone away.
class BrokenSink final : public ByteSink {
public:
    IoResult write_some(std::string_view) override {
        ++attempts;
        return make_error_code(boost::system::errc::broken_pipe);
    }
    int attempts = 0;
};

TEST_F(SessionTest, FailedWritesAreReportedAndTheSessionGoesOn) {
    CountingLauncher launcher([] { return false; });
    BrokenSink output;
    MemorySource input(framed(simple("r-1", "https://example.test/")) + framed("hello") +
                       framed(simple("r-2", "https://example.test/")));

    ASSERT_TRUE(run(input, output, launcher, false));
    const std::string failure = "could not write a response: the stream failed";
    EXPECT_EQ(diagnostics_.lines,
              (std::vector<std::string>{NO_ENDPOINT, "request r-1 -> AppUnavailable", failure, failure,
                                        "request r-2 -> AppUnavailable", failure}));
    EXPECT_EQ(output.attempts, 3);
    EXPECT_EQ(input.remaining(), "");
}

TEST_F(SessionTest, ApplicationStartedByTheLauncherGetsTheRequest) {
    std::optional<app_peer::PeerProcess> peer;
    CountingLauncher launcher([&] {
        peer.emplace(start_peer("accept"));
        return true;
    });
    MemorySource input(framed(simple("r-1", "https://example.test/one")) +
                       framed(simple("r-2", "https://example.test/two")));
    MemorySink output;

    ASSERT_TRUE(run(input, output, launcher, true));
    EXPECT_EQ(frames_in(output.written),
              (std::vector<std::string>{host_reply("r-1", "accepted", "ACCEPTED"),
                                        host_reply("r-2", "accepted", "ACCEPTED")}));
    EXPECT_EQ(diagnostics_.lines,
              (std::vector<std::string>{"request r-1 -> Accepted", "request r-2 -> Accepted"}));
    EXPECT_EQ(launcher.calls, 1);  // the second request found the application running
    ASSERT_TRUE(peer);
    peer->stop();
    EXPECT_EQ(received_by(*peer).size(), 2u);
}

}  // namespace
}  // namespace ondrake::session
