// Exact bytes of every encoder, the string escaping, encoding failures, round trips through the
// decoders, and the enumeration texts and status table.
#include <gtest/gtest.h>

#include <set>

#include "browser-native-host/messages/protocol.hpp"
#include "browser-native-host/messages/protocol.hpp"

namespace ondrake::protocol {
namespace {

using download_core::BrowserCookie;
using download_core::ObservedResponse;

IpcCaptureRequest full_capture_request() {
    IpcCaptureRequest request;
    request.request_id = "r-9";
    request.capture_id = "c-9";
    request.action = CaptureAction::CaptureCommit;
    request.browser = "brave";
    request.browser_download_id = -9223372036854775807 - 1;
    request.url = "https://example.test/f.zip";
    request.observed =
        ObservedResponse{"https://cdn.example.test/f", std::nullopt, 9223372036854775807, "W/\"e\""};
    request.cookies = std::vector<BrowserCookie>{{"a", "1", "/", true}, {"b", "", "/x", false}};
    request.download_name = "f.zip";
    request.initiator_origin = "https://example.test";
    request.revalidate_response = true;
    return request;
}

struct EncodeCase {
    std::string name;
    std::string encoded;
    std::string expected;
};

void PrintTo(const EncodeCase& c, std::ostream* out) { *out << c.name; }

class ExactBytes : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(ExactBytes, AreWritten) { EXPECT_EQ(GetParam().encoded, GetParam().expected); }

std::vector<EncodeCase> exact_cases() {
    IpcCaptureRequest status_only;
    status_only.request_id = "r1";
    status_only.capture_id = "c1";
    status_only.action = CaptureAction::CaptureStatus;
    status_only.browser = std::string(BROWSER_UNDECLARED);

    CaptureResponse with_small_preflight =
        make_capture_response("r1", "c1", CaptureStatus::Prepared, Code::CapturePrepared);
    with_small_preflight.preflight = PreflightObservation{true, 200, {}, {}, {}, {}};
    CaptureResponse with_full_preflight = with_small_preflight;
    with_full_preflight.preflight =
        PreflightObservation{false, 404, "https://e.test/", "text/html", "inline", -1};

    ipc::IpcCaptureResponse app_reply{4, "r1", "c1", CaptureStatus::Committed, Code::Accepted, std::nullopt};
    ipc::IpcCaptureResponse app_reply_preflight = app_reply;
    app_reply_preflight.preflight = PreflightObservation{true, 200, {}, "a/b", {}, {}};

    std::string ipc_reply, ipc_capture_reply, ipc_capture_reply_preflight;
    ipc::encode(ipc::IpcResponse{1, "r1", Code::AppRejected}, ipc_reply);
    ipc::encode(app_reply, ipc_capture_reply);
    ipc::encode(app_reply_preflight, ipc_capture_reply_preflight);

    return {
        {"rejection_without_id", to_json(make_host_response("", Code::InvalidMessage)),
         R"({"protocolVersion":1,"requestId":"","status":"rejected","code":"INVALID_MESSAGE"})"},
        {"accepted", to_json(make_host_response("r-1", Code::Accepted)),
         R"({"protocolVersion":1,"requestId":"r-1","status":"accepted","code":"ACCEPTED"})"},
        {"unavailable", to_json(make_host_response("r-2", Code::AppUnavailable)),
         R"({"protocolVersion":1,"requestId":"r-2","status":"unavailable","code":"APP_UNAVAILABLE"})"},
        {"capture_prepared",
         to_json(make_capture_response("r1", "c1", CaptureStatus::Prepared, Code::CapturePrepared)),
         R"({"protocolVersion":4,"requestId":"r1","captureId":"c1","status":"prepared","code":"CAPTURE_PREPARED"})"},
        {"capture_unknown_unavailable",
         to_json(make_capture_response("r-2", "c-2", CaptureStatus::Unknown, Code::AppUnavailable)),
         R"({"protocolVersion":4,"requestId":"r-2","captureId":"c-2","status":"unknown","code":"APP_UNAVAILABLE"})"},
        {"capture_small_preflight", to_json(with_small_preflight),
         R"({"protocolVersion":4,"requestId":"r1","captureId":"c1","status":"prepared","code":"CAPTURE_PREPARED","preflight":{"ok":true,"status":200}})"},
        {"capture_full_preflight", to_json(with_full_preflight),
         R"({"protocolVersion":4,"requestId":"r1","captureId":"c1","status":"prepared","code":"CAPTURE_PREPARED","preflight":{"ok":false,"status":404,"finalUrl":"https://e.test/","contentType":"text/html","contentDisposition":"inline","totalBytes":-1}})"},
        {"ipc_request", to_json(IpcRequest{1, "r1", "u"}),
         R"({"protocolVersion":1,"requestId":"r1","url":"u"})"},
        {"ipc_capture_request_all_null", to_json(status_only),
         R"({"protocolVersion":4,"requestId":"r1","captureId":"c1","action":"capture_status","browser":"undeclared","browserDownloadId":null,"url":null,"observed":null,"cookies":null,"downloadName":null,"initiatorOrigin":null,"revalidateResponse":null})"},
        {"ipc_capture_request_full", to_json(full_capture_request()),
         R"({"protocolVersion":4,"requestId":"r-9","captureId":"c-9","action":"capture_commit","browser":"brave",)"
         R"("browserDownloadId":-9223372036854775808,"url":"https://example.test/f.zip",)"
         R"("observed":{"finalUrl":"https://cdn.example.test/f","mime":null,"totalBytes":9223372036854775807,"etag":"W/\"e\""},)"
         R"("cookies":[{"name":"a","value":"1","path":"/","secure":true},{"name":"b","value":"","path":"/x","secure":false}],)"
         R"("downloadName":"f.zip","initiatorOrigin":"https://example.test","revalidateResponse":true})"},
        {"ipc_response", ipc_reply, R"({"protocolVersion":1,"requestId":"r1","code":"APP_REJECTED"})"},
        {"ipc_capture_response", ipc_capture_reply,
         R"({"protocolVersion":4,"requestId":"r1","captureId":"c1","status":"committed","code":"ACCEPTED"})"},
        {"ipc_capture_response_preflight", ipc_capture_reply_preflight,
         R"({"protocolVersion":4,"requestId":"r1","captureId":"c1","status":"committed","code":"ACCEPTED","preflight":{"ok":true,"status":200,"contentType":"a/b"}})"},
        {"escaping",
         to_json(IpcRequest{1, std::string("\"\\/\b\t\n\f\r\0\x01\x1F\x7F", 12),
                            "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"}),
         "{\"protocolVersion\":1,\"requestId\":\"\\\"\\\\/\\b\\t\\n\\f\\r\\u0000\\u0001\\u001f\x7F\","
         "\"url\":\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"}"},
        {"escapes_between_plain_runs",
         to_json(IpcRequest{1,
                            "ab\"cd\x0B"
                            "ef",
                            "x"}),
         R"({"protocolVersion":1,"requestId":"ab\"cd\u000bef","url":"x"})"},
    };
}

INSTANTIATE_TEST_SUITE_P(Encoders, ExactBytes, ::testing::ValuesIn(exact_cases()),
                         [](const auto& param_info) { return param_info.param.name; });

TEST(Encoding, IpcRequestFrameBodyIs48Bytes) { EXPECT_EQ(to_json(IpcRequest{1, "r1", "u"}).size(), 48u); }

TEST(Encoding, AppendsToWhatTheBufferHolds) {
    std::string out = "prefix:";
    ASSERT_TRUE(encode(make_host_response("r", Code::Accepted), out));
    EXPECT_EQ(out, R"(prefix:{"protocolVersion":1,"requestId":"r","status":"accepted","code":"ACCEPTED"})");
}

TEST(Encoding, InvalidUtf8FailsAndLeavesBufferUntouched) {
    for (std::string bad : {"\xFF", "a\xC0\xAF", "\xED\xA0\x80", "\xE2\x82"}) {
        SCOPED_TRACE(bad);
        std::string out = "kept";
        EXPECT_FALSE(encode(make_host_response(bad, Code::Accepted), out));
        EXPECT_EQ(out, "kept");
        EXPECT_EQ(to_json(make_host_response(bad, Code::Accepted)), "");
        IpcCaptureRequest request = full_capture_request();
        request.cookies->back().value = bad;  // deep inside a nested list
        EXPECT_EQ(to_json(request), "");
    }
}

TEST(Encoding, EnumerationValueOutsideItsTypeFails) {
    std::string out;
    EXPECT_FALSE(encode(HostResponse{1, "r", Status::Accepted, static_cast<Code>(13)}, out));
    EXPECT_TRUE(out.empty());
    ipc::IpcCaptureResponse reply{4, "r", "c", static_cast<CaptureStatus>(-1), Code::Accepted, std::nullopt};
    EXPECT_FALSE(ipc::encode(reply, out));
    EXPECT_TRUE(out.empty());
}

TEST(Encoding, BrowserEscapesAreNotPreserved) {
    auto decoded = decode_envelope(R"({"requestId":"\u0072\/\u00e9"})");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(to_json(IpcRequest{1, *decoded->request_id, "u"}),
              "{\"protocolVersion\":1,\"requestId\":\"r/\xC3\xA9\",\"url\":\"u\"}");
}

// ---- Round trips ---------------------------------------------------------------------------

TEST(RoundTrip, IpcRequest) {
    IpcRequest request{1, std::string("r\0\x1F\"\\", 5), "https://example.test/\xE2\x82\xAC"};
    EXPECT_EQ(decode_ipc_request(to_json(request)), request);
}

TEST(RoundTrip, IpcCaptureRequestFullAndEmpty) {
    IpcCaptureRequest full = full_capture_request();
    EXPECT_EQ(decode_ipc_capture_request(to_json(full)), full);

    IpcCaptureRequest sparse;
    sparse.request_id = "r";
    sparse.capture_id = "c";
    sparse.browser = std::string(BROWSER_UNDECLARED);
    sparse.observed = ObservedResponse{};
    sparse.cookies = std::vector<BrowserCookie>{};
    EXPECT_EQ(decode_ipc_capture_request(to_json(sparse)), sparse);
}

TEST(RoundTrip, ApplicationReplies) {
    ipc::IpcResponse reply{7, "r1", Code::DeliveryIndeterminate};
    std::string out;
    ASSERT_TRUE(ipc::encode(reply, out));
    EXPECT_EQ(ipc::decode_ipc_response(out), reply);

    ipc::IpcCaptureResponse capture{4,
                                    "r1",
                                    "c1",
                                    CaptureStatus::Aborted,
                                    Code::CaptureAborted,
                                    PreflightObservation{true, 65535, "f", "t", "d", 0}};
    out.clear();
    ASSERT_TRUE(ipc::encode(capture, out));
    EXPECT_EQ(ipc::decode_ipc_capture_response(out), capture);
}

TEST(RoundTrip, BrowserReplies) {
    HostResponse host = make_host_response("r-1", Code::InternalError);
    EXPECT_EQ(decode_host_response(to_json(host)), host);
    CaptureResponse capture =
        make_capture_response("r", "c", CaptureStatus::Indeterminate, Code::DeliveryIndeterminate);
    EXPECT_EQ(decode_capture_response(to_json(capture)), capture);
}

// ---- Enumerations and the status table -----------------------------------------------------

template <class Enum>
void expect_texts_round_trip(int count) {
    std::set<std::string_view> texts, names;
    for (int i = 0; i < count; ++i) {
        auto value = static_cast<Enum>(i);
        std::string_view text = json_text(value);
        ASSERT_FALSE(text.empty()) << i;
        ASSERT_FALSE(value_name(value).empty()) << i;
        texts.insert(text);
        names.insert(value_name(value));
        Enum parsed{};
        ASSERT_TRUE(from_json_text(text, parsed)) << text;
        EXPECT_EQ(parsed, value) << text;
    }
    EXPECT_EQ(texts.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(names.size(), static_cast<std::size_t>(count));
    EXPECT_TRUE(json_text(static_cast<Enum>(count)).empty());
    EXPECT_TRUE(value_name(static_cast<Enum>(count)).empty());
}

TEST(EnumerationTexts, EveryValueRoundTripsAndNothingBeyond) {
    expect_texts_round_trip<Action>(1);
    expect_texts_round_trip<Source>(1);
    expect_texts_round_trip<CaptureSource>(1);
    expect_texts_round_trip<Browser>(8);
    expect_texts_round_trip<CaptureAction>(6);
    expect_texts_round_trip<Code>(13);
    expect_texts_round_trip<Status>(4);
    expect_texts_round_trip<CaptureStatus>(5);
}

TEST(EnumerationTexts, LogNamesDifferFromJsonTexts) {
    EXPECT_EQ(value_name(Code::Accepted), "Accepted");
    EXPECT_EQ(json_text(Code::UnsupportedProtocolVersion), "UNSUPPORTED_PROTOCOL_VERSION");
    EXPECT_EQ(value_name(Code::UnsupportedProtocolVersion), "UnsupportedProtocolVersion");
    EXPECT_EQ(value_name(CaptureAction::CaptureRevokeCredentials), "CaptureRevokeCredentials");
    EXPECT_EQ(json_text(CaptureAction::CaptureRevokeCredentials), "capture_revoke_credentials");
    EXPECT_EQ(value_name(CaptureStatus::Prepared), "Prepared");
    EXPECT_EQ(json_text(Source::ContextMenu), "context_menu");
    EXPECT_EQ(json_text(CaptureSource::AutomaticDownload), "automatic_download");
}

TEST(EnumerationTexts, MatchingIsExact) {
    Code code = Code::Accepted;
    EXPECT_FALSE(from_json_text("accepted", code));
    EXPECT_FALSE(from_json_text("ACCEPTED ", code));
    EXPECT_FALSE(from_json_text("", code));
    EXPECT_FALSE(from_json_text("Accepted", code));
    Browser browser = Browser::Chrome;
    EXPECT_FALSE(from_json_text(BROWSER_UNDECLARED, browser));
    EXPECT_TRUE(from_json_text("unknown", browser));
    EXPECT_EQ(browser, Browser::Unknown);
}

TEST(EnumerationTexts, BrowserTextForTheApplication) {
    EXPECT_EQ(browser_text(Browser::Opera), "opera");
    EXPECT_EQ(browser_text(Browser::Unknown), "unknown");
    EXPECT_EQ(browser_text(std::nullopt), "undeclared");
}

TEST(StatusFor, EveryCode) {
    const std::pair<Code, Status> table[] = {
        {Code::Accepted, Status::Accepted},           {Code::CapturePrepared, Status::Accepted},
        {Code::CaptureAborted, Status::Rejected},     {Code::CaptureConflict, Status::Rejected},
        {Code::CaptureUnknown, Status::Rejected},     {Code::UnsupportedProtocolVersion, Status::Rejected},
        {Code::InvalidMessage, Status::Rejected},     {Code::InvalidUrl, Status::Rejected},
        {Code::UnsupportedScheme, Status::Rejected},  {Code::AppUnavailable, Status::Unavailable},
        {Code::AppRejected, Status::Rejected},        {Code::DeliveryIndeterminate, Status::Indeterminate},
        {Code::InternalError, Status::Indeterminate},
    };
    for (auto [code, status] : table) {
        EXPECT_EQ(status_for(code), status) << value_name(code);
        EXPECT_EQ(make_host_response("r", code).status, status) << value_name(code);
    }
}

TEST(Builders, VersionsAreFixed) {
    EXPECT_EQ(make_host_response("r", Code::Accepted).protocol_version, 1u);
    CaptureResponse capture = make_capture_response("r", "c", CaptureStatus::Unknown, Code::InvalidMessage);
    EXPECT_EQ(capture.protocol_version, 4u);
    EXPECT_FALSE(capture.preflight);
}

}  // namespace
}  // namespace ondrake::protocol
