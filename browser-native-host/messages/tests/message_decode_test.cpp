// What the decoders hand back: the values of each member, after escapes, for every record type.
#include <gtest/gtest.h>

#include "browser-native-host/messages/protocol.hpp"
#include "browser-native-host/messages/protocol.hpp"
#include "browser-native-host/tests/support/sample_messages.hpp"

namespace ondrake::protocol {
namespace {

using download_core::BrowserCookie;
using download_core::ObservedResponse;
using samples::with;

TEST(HostRequestDecoding, MembersOfASimpleRequest) {
    auto request = decode_host_request(samples::SIMPLE);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->protocol_version, 1u);
    EXPECT_EQ(request->request_id, "r-1");
    EXPECT_EQ(request->action, Action::Download);
    EXPECT_EQ(request->source, Source::ContextMenu);
    EXPECT_FALSE(request->browser);
    EXPECT_EQ(request->url, "https://example.test/a");
}

TEST(HostRequestDecoding, NullBrowserIsTheSameAsNone) {
    auto without_browser = decode_host_request(samples::SIMPLE);
    auto null_browser = decode_host_request(with(samples::SIMPLE, R"("browser":null)"));
    ASSERT_TRUE(without_browser && null_browser);
    EXPECT_EQ(*without_browser, *null_browser);
}

TEST(HostRequestDecoding, MembersInAnyOrderWithEscapes) {
    auto request = decode_host_request(
        R"({"url":"https:\/\/example.test\/\u00e9","browser":"firefox","source":"context_menu",)"
        R"("action":"download","request\u0049d":"r\u002d1","protocolVersion":1})");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->request_id, "r-1");
    EXPECT_EQ(request->browser, Browser::Firefox);
    EXPECT_EQ(request->url, "https://example.test/\xC3\xA9");
}

TEST(CaptureRequestDecoding, EveryMember) {
    auto request = decode_capture_request(
        R"({"protocolVersion":4,"requestId":"r-9","captureId":"c-9","action":"capture_prepare",)"
        R"("source":"automatic_download","browser":"edge","browserDownloadId":-5,)"
        R"("url":"https://example.test/f.zip",)"
        R"("observed":{"finalUrl":"https://cdn.example.test/f.zip","mime":"application/zip",)"
        R"("totalBytes":1048576,"etag":"\"abc\"","server":{"name":"x","v":[1,2]}},)"
        R"("cookies":[{"name":"sid","value":"1","path":"/","secure":true},)"
        R"({"secure":false,"path":"/a","value":"","name":"lang"}],)"
        R"("downloadName":"f.zip","initiatorOrigin":"https://example.test","revalidateResponse":false})");
    ASSERT_TRUE(request);
    CaptureRequest expected;
    expected.protocol_version = 4;
    expected.source = CaptureSource::AutomaticDownload;
    expected.browser = Browser::Edge;
    IpcCaptureRequest& message = expected.message;
    message.request_id = "r-9";
    message.capture_id = "c-9";
    message.action = CaptureAction::CapturePrepare;
    message.browser_download_id = -5;
    message.url = "https://example.test/f.zip";
    message.observed =
        ObservedResponse{"https://cdn.example.test/f.zip", "application/zip", 1048576, "\"abc\""};
    message.cookies = std::vector<BrowserCookie>{{"sid", "1", "/", true}, {"lang", "", "/a", false}};
    message.download_name = "f.zip";
    message.initiator_origin = "https://example.test";
    message.revalidate_response = false;
    EXPECT_EQ(*request, expected);
}

TEST(CaptureRequestDecoding, OnlyRequiredMembersLeavesTheRestAbsent) {
    auto request = decode_capture_request(samples::CAPTURE);
    ASSERT_TRUE(request);
    const IpcCaptureRequest& message = request->message;
    EXPECT_EQ(message.action, CaptureAction::CaptureStatus);
    EXPECT_FALSE(request->browser || message.browser_download_id || message.url || message.observed ||
                 message.cookies || message.download_name || message.initiator_origin ||
                 message.revalidate_response);
    EXPECT_EQ(message.browser, "");
}

TEST(CaptureRequestDecoding, EmptyCookieListIsPresentAndEmpty) {
    auto request = decode_capture_request(with(samples::CAPTURE, R"("cookies":[])"));
    ASSERT_TRUE(request && request->message.cookies);
    EXPECT_TRUE(request->message.cookies->empty());
}

TEST(CaptureRequestDecoding, ObservedWithNullAndSkippedNestedObject) {
    auto request = decode_capture_request(with(
        samples::CAPTURE, R"("observed":{"finalUrl":null,"x":{"mime":"no","y":[{}]},"mime":"text/plain"})"));
    ASSERT_TRUE(request && request->message.observed);
    EXPECT_EQ(*request->message.observed,
              (ObservedResponse{std::nullopt, "text/plain", std::nullopt, std::nullopt}));
}

// classify_any reads a body once as both requests and takes the envelope from whichever
// accepted it; each part must be exactly what decoding the body as that type alone gives.
TEST(BrowserMessageDecoding, EachPartAgreesWithDecodingThatTypeAlone) {
    const std::string long_escaped_id = samples::repeated(R"(\u00e9)", 3000);
    const std::string long_escaped_key = samples::repeated(R"(\u0041)", 5000);
    const std::string bodies[] = {
        std::string(samples::SIMPLE),
        std::string(samples::CAPTURE),
        with(samples::SIMPLE, R"("browser":"edge")"),
        with(samples::SIMPLE, R"("captureId":"c1")"),
        with(samples::SIMPLE, R"("captureId":"")"),
        samples::replaced(samples::SIMPLE, ":1,", ":4,"),
        samples::replaced(samples::CAPTURE, ":4,", ":1,"),
        with(samples::CAPTURE, R"("cookies":[{"name":"a","value":"b","path":"/"}])"),
        with(samples::CAPTURE, R"("observed":{"x":[1e99999999999,{"y":null}],"mime":"text/plain"})"),
        with(samples::SIMPLE, R"("x":1e99999999999)"),
        with(samples::CAPTURE, R"("requestId":"again")"),
        samples::replaced(samples::SIMPLE, R"("r-1")", R"(")" + long_escaped_id + R"(")"),
        samples::replaced(samples::CAPTURE, R"("captureId")", R"(")" + long_escaped_key + R"(")"),
        R"({"protocolVersion":4,"captureId":7})",
        "{}",
        std::string(samples::SIMPLE) + " {}",
        "hello",
    };
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body.substr(0, 200));
        BrowserMessage message = decode_browser_message(body);
        EXPECT_EQ(message.envelope(), decode_envelope(body));
        EXPECT_EQ(message.host_request, decode_host_request(body));
        EXPECT_EQ(message.capture_request, decode_capture_request(body));
    }
}

TEST(EnvelopeDecoding, ReadsIdsOfAnyMessage) {
    auto envelope = decode_envelope(with(samples::SIMPLE, R"("captureId":"c1","anything":{"a":[1e400]})"));
    ASSERT_TRUE(envelope);
    EXPECT_EQ(envelope->protocol_version, 1u);
    EXPECT_EQ(envelope->request_id, "r-1");
    EXPECT_EQ(envelope->capture_id, "c1");
}

TEST(EnvelopeDecoding, TextsBesideASkippedLoneSurrogateKeepTheirValues) {
    auto envelope = decode_envelope(
        R"({"requestId":"\\ud800 \u00e9","x":["\ud800",1e99999999999],"captureId":"c\ud83d\ude00"})");
    ASSERT_TRUE(envelope);
    EXPECT_EQ(envelope->request_id, "\\ud800 \xC3\xA9");
    EXPECT_EQ(envelope->capture_id, "c\xF0\x9F\x98\x80");
}

TEST(EnvelopeDecoding, EmptyObjectHasNothing) {
    EXPECT_EQ(decode_envelope("{}"), Envelope{});
    EXPECT_EQ(decode_envelope(R"({"requestId":null,"RequestId":"r"})"), Envelope{});
}

TEST(EnvelopeDecoding, LargestVersionAndNegativeZero) {
    EXPECT_EQ(decode_envelope(R"({"protocolVersion":4294967295})")->protocol_version, 4294967295u);
    EXPECT_EQ(decode_envelope(R"({"protocolVersion":-0})")->protocol_version, 0u);
}

TEST(EnvelopeDecoding, StringsThatLookLikeNumbersSurviveLongExponents) {
    auto envelope = decode_envelope(R"({"requestId":"1e99999999999","x":[1e99999999999,"\"e12345678901"]})");
    ASSERT_TRUE(envelope);
    EXPECT_EQ(envelope->request_id, "1e99999999999");
}

TEST(EnvelopeDecoding, EscapedTextsBecomeUtf8) {
    auto envelope =
        decode_envelope(R"({"requestId":"\ud83d\ude00\u0000\u007f\/","captureId":"\"\\\b\f\n\r\t"})");
    ASSERT_TRUE(envelope);
    EXPECT_EQ(envelope->request_id, std::string("\xF0\x9F\x98\x80\0\x7F/", 7));
    EXPECT_EQ(envelope->capture_id, "\"\\\b\f\n\r\t");
}

TEST(EnvelopeDecoding, LongEscapedTextArrivingInPieces) {
    std::string escaped = samples::repeated(R"(\u00e9)", 3000) + "x";
    auto envelope = decode_envelope(R"({"requestId":")" + escaped + R"(","captureId":"c"})");
    ASSERT_TRUE(envelope);
    EXPECT_EQ(envelope->request_id, samples::repeated("\xC3\xA9", 3000) + "x");
    EXPECT_EQ(envelope->capture_id, "c");
}

TEST(EnvelopeDecoding, LongEscapedKeyFollowedByListedKey) {
    std::string key = samples::repeated(R"(\u0041)", 5000);
    auto envelope = decode_envelope(R"({")" + key + R"(":"v","request\u0049d":"r"})");
    ASSERT_TRUE(envelope);
    EXPECT_EQ(envelope->request_id, "r");
}

TEST(IpcResponseDecoding, Members) {
    auto response =
        ipc::decode_ipc_response(R"({"code":"APP_REJECTED","requestId":"r1","protocolVersion":7})");
    ASSERT_TRUE(response);
    EXPECT_EQ(*response, (ipc::IpcResponse{7, "r1", Code::AppRejected}));
}

TEST(IpcCaptureResponseDecoding, PreflightWithSkippedKey) {
    auto response = ipc::decode_ipc_capture_response(with(
        samples::IPC_CAPTURE_RESPONSE,
        R"("preflight":{"ok":true,"status":206,"contentType":"video/mp4","extra":{"a":1},"totalBytes":10})"));
    ASSERT_TRUE(response && response->preflight);
    EXPECT_EQ(response->status, CaptureStatus::Prepared);
    EXPECT_EQ(response->code, Code::CapturePrepared);
    EXPECT_EQ(*response->preflight,
              (PreflightObservation{true, 206, std::nullopt, "video/mp4", std::nullopt, 10}));
}

TEST(IpcCaptureResponseDecoding, NullPreflightIsAbsent) {
    auto response =
        ipc::decode_ipc_capture_response(with(samples::IPC_CAPTURE_RESPONSE, R"("preflight":null)"));
    ASSERT_TRUE(response);
    EXPECT_FALSE(response->preflight);
}

TEST(HostResponseDecoding, RejectionReply) {
    auto response = decode_host_response(
        R"({"protocolVersion":1,"requestId":"","status":"rejected","code":"INVALID_MESSAGE"})");
    ASSERT_TRUE(response);
    EXPECT_EQ(*response, make_host_response("", Code::InvalidMessage));
}

}  // namespace
}  // namespace ondrake::protocol
