// Acceptance and rejection by the decoding rules, for every message type where they differ.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser-native-host/messages/protocol.hpp"
#include "browser-native-host/messages/protocol.hpp"
#include "browser-native-host/tests/support/sample_messages.hpp"

namespace ondrake::protocol {
namespace {

using samples::CAPTURE;
using samples::COOKIE;
using samples::IPC_CAPTURE_RESPONSE;
using samples::IPC_RESPONSE;
using samples::PREFLIGHT;
using samples::repeated;
using samples::replaced;
using samples::SIMPLE;
using samples::with;
using samples::with_first;

enum class Message {
    Envelope,
    HostRequest,
    CaptureRequest,
    IpcRequest,
    IpcCaptureRequest,
    IpcResponse,
    IpcCaptureResponse,
    HostResponse,
    CaptureResponse,
};

bool decodes(Message message, std::string_view body) {
    switch (message) {
        case Message::Envelope: return decode_envelope(body).has_value();
        case Message::HostRequest: return decode_host_request(body).has_value();
        case Message::CaptureRequest: return decode_capture_request(body).has_value();
        case Message::IpcRequest: return decode_ipc_request(body).has_value();
        case Message::IpcCaptureRequest: return decode_ipc_capture_request(body).has_value();
        case Message::IpcResponse: return ipc::decode_ipc_response(body).has_value();
        case Message::IpcCaptureResponse: return ipc::decode_ipc_capture_response(body).has_value();
        case Message::HostResponse: return decode_host_response(body).has_value();
        case Message::CaptureResponse: return decode_capture_response(body).has_value();
    }
    return false;
}

struct Case {
    std::string name;
    Message message;
    std::string body;
    bool accepted;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

constexpr bool OK = true;
constexpr bool BAD = false;

std::string without(std::string_view object, std::string_view member) {
    std::string result(object);
    std::size_t at = result.find(member);
    std::size_t end = at + member.size();
    if (end < result.size() && result[end] == ',') ++end;
    else if (at > 0 && result[at - 1] == ',') --at;
    result.erase(at, end - at);
    return result;
}

std::string capture_with(std::string_view member) { return with(CAPTURE, member); }
std::string observed(std::string_view object) { return capture_with("\"observed\":" + std::string(object)); }
std::string cookies(std::string_view list) { return capture_with("\"cookies\":" + std::string(list)); }
std::string cookie_list(std::string_view cookie) { return cookies("[" + std::string(cookie) + "]"); }
std::string preflight(std::string_view object) {
    return with(IPC_CAPTURE_RESPONSE, "\"preflight\":" + std::string(object));
}
std::string envelope_value(std::string_view value) { return "{\"other\":" + std::string(value) + "}"; }

// Arrays nested `levels` deep as the value of an unknown key of an Envelope; the Envelope's own
// object adds one level.
std::string nested_skipped(std::size_t levels) {
    return "{\"x\":" + repeated("[", levels) + repeated("]", levels) + "}";
}

const std::string IPC_CAPTURE_REQUEST_ALL_NULL =
    R"({"protocolVersion":4,"requestId":"r1","captureId":"c1","action":"capture_status","browser":"undeclared","browserDownloadId":null,"url":null,"observed":null,"cookies":null,"downloadName":null,"initiatorOrigin":null,"revalidateResponse":null})";

class DecodeRule : public ::testing::TestWithParam<Case> {};

TEST_P(DecodeRule, AcceptsOrRejects) {
    const Case& c = GetParam();
    EXPECT_EQ(decodes(c.message, c.body), c.accepted) << "body: " << c.body;
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

// ---- One document, white space around it ---------------------------------------------------

const std::vector<Case> DOCUMENT_CASES = {
    {"plain_simple_request", Message::HostRequest, std::string(SIMPLE), OK},
    {"json_white_space_around", Message::HostRequest, " \t\r\n" + std::string(SIMPLE) + " \t\r\n", OK},
    {"trailing_line_feed", Message::HostRequest, std::string(SIMPLE) + "\n", OK},
    {"trailing_line_feed_capture", Message::CaptureRequest, std::string(CAPTURE) + "\n", OK},
    {"byte_order_mark", Message::HostRequest, "\xEF\xBB\xBF" + std::string(SIMPLE), BAD},
    {"byte_order_mark_envelope", Message::Envelope, "\xEF\xBB\xBF{}", BAD},
    {"trailing_letter", Message::HostRequest, std::string(SIMPLE) + "x", BAD},
    {"trailing_zero_byte", Message::Envelope, std::string("{}\0", 3), BAD},
    {"trailing_form_feed", Message::Envelope, "{}\f", BAD},
    {"trailing_no_break_space", Message::Envelope, "{}\xC2\xA0", BAD},
    {"trailing_comma_after_document", Message::Envelope, "{},", BAD},
    {"two_documents", Message::HostRequest, std::string(SIMPLE) + std::string(SIMPLE), BAD},
    {"two_documents_spaced", Message::Envelope, "{} {}", BAD},
    {"empty_body", Message::Envelope, "", BAD},
    {"white_space_only", Message::Envelope, " \n", BAD},
    {"ends_inside_document", Message::HostRequest, std::string(SIMPLE.substr(0, SIMPLE.size() - 1)), BAD},
    {"ends_inside_string", Message::Envelope, R"({"requestId":"r-)", BAD},
    {"root_array", Message::Envelope, "[]", BAD},
    {"root_number", Message::Envelope, "1", BAD},
    {"root_string", Message::Envelope, "\"x\"", BAD},
    {"root_null", Message::Envelope, "null", BAD},
    {"root_array_of_request", Message::HostRequest, "[" + std::string(SIMPLE) + "]", BAD},
    {"trailing_comma_in_object", Message::Envelope, R"({"requestId":"a",})", BAD},
    {"comment", Message::Envelope, R"({"requestId":"a"/* c */})", BAD},
    {"single_quotes", Message::Envelope, "{'requestId':'a'}", BAD},
    {"empty_object_envelope", Message::Envelope, "{}", OK},
    {"empty_object_host_request", Message::HostRequest, "{}", BAD},
    {"empty_object_capture_request", Message::CaptureRequest, "{}", BAD},
    {"empty_object_ipc_response", Message::IpcResponse, "{}", BAD},
};
INSTANTIATE_TEST_SUITE_P(Document, DecodeRule, ::testing::ValuesIn(DOCUMENT_CASES), case_name);

// ---- Keys: matched after escapes, listed keys at most once ---------------------------------

const std::string ESCAPED_KEY = replaced(SIMPLE, "\"requestId\"", R"("request\u0049d")");

const std::vector<Case> KEY_CASES = {
    {"escaped_key_matches", Message::HostRequest, ESCAPED_KEY, OK},
    {"escaped_key_matches_capture", Message::CaptureRequest,
     replaced(CAPTURE, "\"captureId\"", R"("\u0063apture\u0049d")"), OK},
    {"other_letter_case_is_unknown", Message::HostRequest, replaced(SIMPLE, "requestId", "RequestId"), BAD},
    {"other_letter_case_skipped_by_envelope", Message::Envelope, R"({"RequestId":"r"})", OK},
    {"duplicate_request_id_envelope", Message::Envelope, R"({"requestId":"a","requestId":"a"})", BAD},
    {"duplicate_version_envelope", Message::Envelope, R"({"protocolVersion":1,"protocolVersion":1})", BAD},
    {"duplicate_capture_id_envelope", Message::Envelope, R"({"captureId":"a","captureId":"b"})", BAD},
    {"duplicate_through_escape_envelope", Message::Envelope, R"({"requestId":"a","request\u0049d":"b"})",
     BAD},
    {"duplicate_after_null_envelope", Message::Envelope, R"({"requestId":null,"requestId":"a"})", BAD},
    {"duplicate_null_twice_envelope", Message::Envelope, R"({"captureId":null,"captureId":null})", BAD},
    {"duplicate_identical_host_request", Message::HostRequest, with_first(SIMPLE, R"("protocolVersion":1)"),
     BAD},
    {"duplicate_url_host_request", Message::HostRequest, with(SIMPLE, R"("url":"https://other.test/")"), BAD},
    {"duplicate_browser_host_request", Message::HostRequest,
     with(with(SIMPLE, R"("browser":"chrome")"), R"("browser":"chrome")"), BAD},
    {"duplicate_action_capture", Message::CaptureRequest, with(CAPTURE, R"("action":"capture_status")"), BAD},
    {"duplicate_cookie_name", Message::CaptureRequest, cookie_list(with(COOKIE, R"("name":"x")")), BAD},
    {"duplicate_observed_final_url", Message::CaptureRequest,
     observed(R"({"finalUrl":"https://a.test/","finalUrl":"https://b.test/"})"), BAD},
    {"duplicate_observed_null_then_value", Message::CaptureRequest,
     observed(R"({"finalUrl":null,"finalUrl":"https://b.test/"})"), BAD},
    {"duplicate_observed_member", Message::CaptureRequest, with(observed("{}"), R"("observed":{})"), BAD},
    {"duplicate_code_ipc_response", Message::IpcResponse, with(IPC_RESPONSE, R"("code":"ACCEPTED")"), BAD},
    {"duplicate_status_ipc_capture_response", Message::IpcCaptureResponse,
     with(IPC_CAPTURE_RESPONSE, R"("status":"prepared")"), BAD},
    {"duplicate_preflight_ok", Message::IpcCaptureResponse, preflight(with(PREFLIGHT, R"("ok":true)")), BAD},
    {"duplicate_preflight_member", Message::IpcCaptureResponse,
     with(preflight(PREFLIGHT), "\"preflight\":null"), BAD},
    {"unknown_key_twice_envelope", Message::Envelope, R"({"x":1,"x":[2]})", OK},
    {"unknown_key_twice_observed", Message::CaptureRequest, observed(R"({"x":1,"x":2})"), OK},
    {"unknown_key_twice_preflight", Message::IpcCaptureResponse,
     preflight(with(with(PREFLIGHT, R"("x":1)"), R"("x":2)")), OK},
};
INSTANTIATE_TEST_SUITE_P(Keys, DecodeRule, ::testing::ValuesIn(KEY_CASES), case_name);

// ---- Unknown keys: refused or skipped per type ---------------------------------------------

const std::vector<Case> UNKNOWN_KEY_CASES = {
    {"host_request_capture_id", Message::HostRequest, with(SIMPLE, R"("captureId":"c1")"), BAD},
    {"envelope_reads_same_body", Message::Envelope, with(SIMPLE, R"("captureId":"c1")"), OK},
    {"host_request_unlisted_key", Message::HostRequest, with(SIMPLE, R"("extra":1)"), BAD},
    {"host_request_unlisted_null", Message::HostRequest, with(SIMPLE, R"("extra":null)"), BAD},
    {"host_request_capture_action_key", Message::HostRequest, with(SIMPLE, R"("observed":{})"), BAD},
    {"capture_request_unlisted_key", Message::CaptureRequest, with(CAPTURE, R"("extra":null)"), BAD},
    {"capture_request_url_in_other_case", Message::CaptureRequest, with(CAPTURE, R"("Url":"x")"), BAD},
    {"cookie_domain", Message::CaptureRequest, cookie_list(with(COOKIE, R"("domain":"example.test")")), BAD},
    {"observed_nested_unknown", Message::CaptureRequest,
     observed(R"({"finalUrl":null,"x":{"a":[1,{"b":null}],"c":"d"}})"), OK},
    {"preflight_unknown", Message::IpcCaptureResponse, preflight(with(PREFLIGHT, R"("x":[1,2])")), OK},
    {"ipc_response_unknown", Message::IpcResponse, with(IPC_RESPONSE, R"("x":1)"), BAD},
    {"ipc_capture_response_unknown", Message::IpcCaptureResponse, with(IPC_CAPTURE_RESPONSE, R"("x":1)"),
     BAD},
    {"ipc_request_unknown", Message::IpcRequest, R"({"protocolVersion":1,"requestId":"r1","url":"u","x":1})",
     BAD},
    {"ipc_capture_request_unknown", Message::IpcCaptureRequest,
     with(IPC_CAPTURE_REQUEST_ALL_NULL, R"("source":"automatic_download")"), BAD},
    {"host_response_unknown", Message::HostResponse,
     R"({"protocolVersion":1,"requestId":"","status":"rejected","code":"INVALID_MESSAGE","x":1})", BAD},
    {"envelope_skips_string", Message::Envelope, envelope_value(R"("text")"), OK},
    {"envelope_skips_number", Message::Envelope, envelope_value("-12.5e3"), OK},
    {"envelope_skips_true", Message::Envelope, envelope_value("true"), OK},
    {"envelope_skips_false", Message::Envelope, envelope_value("false"), OK},
    {"envelope_skips_null", Message::Envelope, envelope_value("null"), OK},
    {"envelope_skips_object", Message::Envelope, envelope_value(R"({"requestId":1,"requestId":2})"), OK},
    {"envelope_skips_array", Message::Envelope, envelope_value(R"([[],{},"",0])"), OK},
};
INSTANTIATE_TEST_SUITE_P(UnknownKeys, DecodeRule, ::testing::ValuesIn(UNKNOWN_KEY_CASES), case_name);

// ---- Required and optional members ---------------------------------------------------------

const std::string CAPTURE_OPTIONALS_NULL = with(
    CAPTURE,
    R"("browser":null,"browserDownloadId":null,"url":null,"observed":null,"cookies":null,"downloadName":null,"initiatorOrigin":null,"revalidateResponse":null)");

std::vector<Case> presence_cases() {
    std::vector<Case> cases = {
        {"host_request_browser_null", Message::HostRequest, with(SIMPLE, R"("browser":null)"), OK},
        {"capture_optionals_null", Message::CaptureRequest, CAPTURE_OPTIONALS_NULL, OK},
        {"capture_without_capture_id", Message::CaptureRequest, without(CAPTURE, R"("captureId":"c1")"), BAD},
        {"capture_without_source", Message::CaptureRequest,
         without(CAPTURE, R"("source":"automatic_download")"), BAD},
        {"capture_capture_id_null", Message::CaptureRequest, replaced(CAPTURE, R"("c1")", "null"), BAD},
        {"cookie_without_secure", Message::CaptureRequest,
         cookie_list(R"({"name":"a","value":"b","path":"/"})"), BAD},
        {"cookie_secure_null", Message::CaptureRequest, cookie_list(replaced(COOKIE, "true", "null")), BAD},
        {"cookie_without_path", Message::CaptureRequest,
         cookie_list(R"({"name":"a","value":"b","secure":false})"), BAD},
        {"observed_empty", Message::CaptureRequest, observed("{}"), OK},
        {"observed_all_null", Message::CaptureRequest,
         observed(R"({"finalUrl":null,"mime":null,"totalBytes":null,"etag":null})"), OK},
        {"preflight_without_ok", Message::IpcCaptureResponse, preflight(R"({"status":200})"), BAD},
        {"preflight_without_status", Message::IpcCaptureResponse, preflight(R"({"ok":true})"), BAD},
        {"preflight_ok_null", Message::IpcCaptureResponse, preflight(R"({"ok":null,"status":200})"), BAD},
        {"preflight_optionals_null", Message::IpcCaptureResponse,
         preflight(
             R"({"ok":false,"status":0,"finalUrl":null,"contentType":null,"contentDisposition":null,"totalBytes":null})"),
         OK},
        {"ipc_capture_response_preflight_null", Message::IpcCaptureResponse, preflight("null"), OK},
        {"ipc_response_without_version", Message::IpcResponse, R"({"requestId":"r1","code":"ACCEPTED"})",
         BAD},
        {"ipc_response_code_null", Message::IpcResponse,
         R"({"protocolVersion":1,"requestId":"r1","code":null})", BAD},
        {"ipc_capture_request_all_null", Message::IpcCaptureRequest, IPC_CAPTURE_REQUEST_ALL_NULL, OK},
        {"ipc_capture_request_without_url_key", Message::IpcCaptureRequest,
         without(IPC_CAPTURE_REQUEST_ALL_NULL, R"("url":null)"), BAD},
        {"ipc_capture_request_browser_null", Message::IpcCaptureRequest,
         replaced(IPC_CAPTURE_REQUEST_ALL_NULL, R"("undeclared")", "null"), BAD},
        {"ipc_request_url_null", Message::IpcRequest, R"({"protocolVersion":1,"requestId":"r1","url":null})",
         BAD},
    };
    // Each required member of a simple request, missing and null.
    for (std::string_view member :
         {R"("protocolVersion":1)", R"("requestId":"r-1")", R"("action":"download")",
          R"("source":"context_menu")", R"("url":"https://example.test/a")"}) {
        std::string key(member.substr(1, member.find('"', 1) - 1));
        cases.push_back({"host_request_without_" + key, Message::HostRequest, without(SIMPLE, member), BAD});
        std::string null_member = "\"" + key + "\":null";
        cases.push_back(
            {"host_request_null_" + key, Message::HostRequest, replaced(SIMPLE, member, null_member), BAD});
    }
    return cases;
}
INSTANTIATE_TEST_SUITE_P(Presence, DecodeRule, ::testing::ValuesIn(presence_cases()), case_name);

// ---- Integers: no fraction, no exponent, within the member's range -------------------------

std::string envelope_version(std::string_view number) {
    return "{\"protocolVersion\":" + std::string(number) + "}";
}
std::string host_version(std::string_view number) {
    return replaced(SIMPLE, "\"protocolVersion\":1", "\"protocolVersion\":" + std::string(number));
}
std::string download_id(std::string_view number) {
    return capture_with("\"browserDownloadId\":" + std::string(number));
}
std::string total_bytes(std::string_view number) {
    return observed("{\"totalBytes\":" + std::string(number) + "}");
}
std::string preflight_status(std::string_view number) {
    return preflight("{\"ok\":true,\"status\":" + std::string(number) + "}");
}

const std::vector<Case> INTEGER_CASES = {
    {"u32_zero", Message::Envelope, envelope_version("0"), OK},
    {"u32_negative_zero", Message::Envelope, envelope_version("-0"), OK},
    {"u32_largest", Message::Envelope, envelope_version("4294967295"), OK},
    {"u32_largest_host_request", Message::HostRequest, host_version("4294967295"), OK},
    {"u32_over_range", Message::Envelope, envelope_version("4294967296"), BAD},
    {"u32_over_range_host_request", Message::HostRequest, host_version("4294967296"), BAD},
    {"u32_negative", Message::Envelope, envelope_version("-1"), BAD},
    {"u32_negative_capture", Message::CaptureRequest, replaced(CAPTURE, ":4,", ":-4,"), BAD},
    {"u32_fraction_zero", Message::Envelope, envelope_version("1.0"), BAD},
    {"u32_fraction_zero_host_request", Message::HostRequest, host_version("1.0"), BAD},
    {"u32_fraction_zero_ipc_response", Message::IpcResponse, replaced(IPC_RESPONSE, ":1,", ":1.0,"), BAD},
    {"u32_exponent", Message::Envelope, envelope_version("1e0"), BAD},
    {"u32_capital_exponent", Message::Envelope, envelope_version("1E0"), BAD},
    {"u32_fraction", Message::Envelope, envelope_version("4.5"), BAD},
    {"u32_string", Message::Envelope, envelope_version("\"1\""), BAD},
    {"u32_string_capture", Message::CaptureRequest, replaced(CAPTURE, ":4,", ":\"4\","), BAD},
    {"u32_leading_zero", Message::Envelope, envelope_version("01"), BAD},
    {"u32_plus_sign", Message::Envelope, envelope_version("+1"), BAD},
    {"u32_boolean", Message::Envelope, envelope_version("true"), BAD},
    {"u32_array", Message::Envelope, envelope_version("[1]"), BAD},
    {"u32_huge_exponent", Message::Envelope, envelope_version("1e400"), BAD},
    {"u32_exponent_beyond_parser", Message::Envelope, envelope_version("1e99999999999"), BAD},
    {"u32_beyond_64_bits", Message::Envelope, envelope_version("99999999999999999999999"), BAD},
    {"i64_negative", Message::CaptureRequest, download_id("-5"), OK},
    {"i64_largest", Message::CaptureRequest, download_id("9223372036854775807"), OK},
    {"i64_smallest", Message::CaptureRequest, download_id("-9223372036854775808"), OK},
    {"i64_over_range", Message::CaptureRequest, download_id("9223372036854775808"), BAD},
    {"i64_under_range", Message::CaptureRequest, download_id("-9223372036854775809"), BAD},
    {"i64_fraction", Message::CaptureRequest, download_id("5.0"), BAD},
    {"i64_string", Message::CaptureRequest, download_id("\"5\""), BAD},
    {"total_bytes_negative", Message::CaptureRequest, total_bytes("-5"), OK},
    {"total_bytes_largest", Message::CaptureRequest, total_bytes("9223372036854775807"), OK},
    {"total_bytes_over_range", Message::CaptureRequest, total_bytes("9223372036854775808"), BAD},
    {"total_bytes_exponent", Message::CaptureRequest, total_bytes("1e3"), BAD},
    {"u16_largest", Message::IpcCaptureResponse, preflight_status("65535"), OK},
    {"u16_over_range", Message::IpcCaptureResponse, preflight_status("65536"), BAD},
    {"u16_negative", Message::IpcCaptureResponse, preflight_status("-1"), BAD},
    {"u16_fraction", Message::IpcCaptureResponse, preflight_status("200.0"), BAD},
    {"ipc_response_any_version", Message::IpcResponse, replaced(IPC_RESPONSE, ":1,", ":7,"), OK},
};
INSTANTIATE_TEST_SUITE_P(Integers, DecodeRule, ::testing::ValuesIn(INTEGER_CASES), case_name);

// ---- Strings, booleans and enumeration texts -----------------------------------------------

std::string envelope_id(std::string_view json_string) {
    return "{\"requestId\":" + std::string(json_string) + "}";
}
std::string host_browser(std::string_view text) {
    return with(SIMPLE, "\"browser\":\"" + std::string(text) + "\"");
}
std::string capture_action(std::string_view text) { return replaced(CAPTURE, "capture_status", text); }
std::string revalidate(std::string_view value) {
    return capture_with("\"revalidateResponse\":" + std::string(value));
}

std::vector<Case> string_and_enum_cases() {
    std::vector<Case> cases = {
        {"raw_control_character", Message::Envelope, envelope_id("\"r\x01\""), BAD},
        {"raw_tab", Message::Envelope, envelope_id("\"r\t\""), BAD},
        {"raw_line_feed", Message::Envelope, envelope_id("\"r\n\""), BAD},
        {"raw_delete_character", Message::Envelope, envelope_id("\"r\x7F\""), OK},
        {"escaped_nul", Message::Envelope, envelope_id(R"("\u0000")"), OK},
        {"escaped_solidus", Message::Envelope, envelope_id(R"("a\/b")"), OK},
        {"all_short_escapes", Message::Envelope, envelope_id(R"("\"\\\/\b\f\n\r\t")"), OK},
        {"unknown_escape", Message::Envelope, envelope_id(R"("\q")"), BAD},
        {"short_unicode_escape", Message::Envelope, envelope_id(R"("\u12")"), BAD},
        {"surrogate_pair", Message::Envelope, envelope_id(R"("\ud83d\ude00")"), OK},
        {"lone_high_surrogate", Message::Envelope, envelope_id(R"("\ud83d")"), BAD},
        {"lone_low_surrogate", Message::Envelope, envelope_id(R"("\ude00")"), BAD},
        {"high_surrogate_then_letter", Message::Envelope, envelope_id(R"("\ud83dx")"), BAD},
        {"high_surrogate_then_other_escape", Message::Envelope, envelope_id(R"("\ud83d\u0041")"), BAD},
        {"two_high_surrogates", Message::Envelope, envelope_id(R"("\ud83d\ud83d")"), BAD},
        {"multibyte_utf8", Message::Envelope, envelope_id("\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""), OK},
        {"invalid_utf8_byte", Message::Envelope, envelope_id("\"\xFF\""), BAD},
        {"overlong_utf8", Message::Envelope, envelope_id("\"\xC0\xAF\""), BAD},
        {"utf8_encoded_surrogate", Message::Envelope, envelope_id("\"\xED\xA0\x80\""), BAD},
        {"truncated_utf8", Message::Envelope, envelope_id("\"\xE2\x82\""), BAD},
        {"utf8_above_unicode", Message::Envelope, envelope_id("\"\xF4\x90\x80\x80\""), BAD},
        {"invalid_utf8_in_key", Message::Envelope, "{\"\xFF\":1}", BAD},
        {"number_for_string", Message::Envelope, envelope_id("5"), BAD},
        {"object_for_string", Message::Envelope, envelope_id("{}"), BAD},
        {"number_for_cookie_name", Message::CaptureRequest, cookie_list(replaced(COOKIE, "\"sid\"", "1")),
         BAD},
        {"boolean_true", Message::CaptureRequest, revalidate("true"), OK},
        {"boolean_false", Message::CaptureRequest, revalidate("false"), OK},
        {"boolean_as_string", Message::CaptureRequest, revalidate("\"true\""), BAD},
        {"boolean_as_number", Message::CaptureRequest, revalidate("1"), BAD},
        {"cookie_secure_as_string", Message::CaptureRequest,
         cookie_list(replaced(COOKIE, "true", "\"true\"")), BAD},
        {"action_capitalised", Message::HostRequest, replaced(SIMPLE, "\"download\"", "\"Download\""), BAD},
        {"action_empty", Message::HostRequest, replaced(SIMPLE, "\"download\"", "\"\""), BAD},
        {"action_of_capture", Message::HostRequest, replaced(SIMPLE, "\"download\"", "\"capture_prepare\""),
         BAD},
        {"action_as_number", Message::HostRequest, replaced(SIMPLE, "\"download\"", "0"), BAD},
        {"source_of_capture", Message::HostRequest, replaced(SIMPLE, "context_menu", "automatic_download"),
         BAD},
        {"capture_source_of_simple", Message::CaptureRequest,
         replaced(CAPTURE, "automatic_download", "context_menu"), BAD},
        {"browser_capitalised", Message::HostRequest, host_browser("Chrome"), BAD},
        {"browser_vivaldi", Message::HostRequest, host_browser("vivaldi"), BAD},
        {"browser_empty", Message::HostRequest, host_browser(""), BAD},
        {"browser_undeclared", Message::HostRequest, host_browser("undeclared"), BAD},
        {"browser_trailing_space", Message::HostRequest, host_browser("chrome "), BAD},
        {"action_download_in_capture", Message::CaptureRequest, capture_action("download"), BAD},
        {"capture_action_capitalised", Message::CaptureRequest, capture_action("Capture_status"), BAD},
        {"code_lower_case", Message::IpcResponse, replaced(IPC_RESPONSE, "ACCEPTED", "accepted"), BAD},
        {"code_unlisted", Message::IpcResponse, replaced(IPC_RESPONSE, "ACCEPTED", "OK"), BAD},
        {"status_capitalised", Message::IpcCaptureResponse,
         replaced(IPC_CAPTURE_RESPONSE, "\"prepared\"", "\"Prepared\""), BAD},
        {"status_of_simple_reply", Message::IpcCaptureResponse,
         replaced(IPC_CAPTURE_RESPONSE, "\"prepared\"", "\"accepted\""), BAD},
    };
    for (std::string_view text :
         {"chrome", "edge", "brave", "chromium", "firefox", "opera", "safari", "unknown"}) {
        cases.push_back({"browser_" + std::string(text), Message::HostRequest, host_browser(text), OK});
    }
    for (std::string_view text : {"capture_prepare", "capture_commit", "capture_abort", "capture_status",
                                  "capture_revoke_credentials", "capture_preflight"}) {
        cases.push_back({"action_" + std::string(text), Message::CaptureRequest, capture_action(text), OK});
    }
    for (std::string_view text :
         {"ACCEPTED", "CAPTURE_PREPARED", "CAPTURE_ABORTED", "CAPTURE_CONFLICT", "CAPTURE_UNKNOWN",
          "UNSUPPORTED_PROTOCOL_VERSION", "INVALID_MESSAGE", "INVALID_URL", "UNSUPPORTED_SCHEME",
          "APP_UNAVAILABLE", "APP_REJECTED", "DELIVERY_INDETERMINATE", "INTERNAL_ERROR"}) {
        cases.push_back({"code_" + std::string(text), Message::IpcResponse,
                         replaced(IPC_RESPONSE, "ACCEPTED", text), OK});
    }
    for (std::string_view text : {"prepared", "committed", "aborted", "unknown", "indeterminate"}) {
        cases.push_back({"status_" + std::string(text), Message::IpcCaptureResponse,
                         replaced(IPC_CAPTURE_RESPONSE, "\"prepared\"", "\"" + std::string(text) + "\""),
                         OK});
    }
    return cases;
}
INSTANTIATE_TEST_SUITE_P(Texts, DecodeRule, ::testing::ValuesIn(string_and_enum_cases()), case_name);

// ---- Nested records and lists --------------------------------------------------------------

const std::vector<Case> NESTED_CASES = {
    {"observed_string", Message::CaptureRequest, observed("\"x\""), BAD},
    {"observed_array", Message::CaptureRequest, observed("[]"), BAD},
    {"observed_number", Message::CaptureRequest, observed("1"), BAD},
    {"cookies_empty", Message::CaptureRequest, cookies("[]"), OK},
    {"cookies_one", Message::CaptureRequest, cookie_list(COOKIE), OK},
    {"cookies_many", Message::CaptureRequest,
     cookies("[" + repeated(std::string(COOKIE) + ",", 99) + std::string(COOKIE) + "]"), OK},
    {"cookies_object", Message::CaptureRequest, cookies(COOKIE), BAD},
    {"cookies_string", Message::CaptureRequest, cookies("\"sid=v\""), BAD},
    {"cookies_null_element", Message::CaptureRequest, cookies("[null]"), BAD},
    {"cookies_number_element", Message::CaptureRequest, cookies("[1]"), BAD},
    {"cookies_nested_list", Message::CaptureRequest, cookies("[[" + std::string(COOKIE) + "]]"), BAD},
    {"cookies_one_bad_element", Message::CaptureRequest,
     cookies("[" + std::string(COOKIE) + R"(,{"name":"a","value":"b","path":"/"}])"), BAD},
    {"cookies_trailing_comma", Message::CaptureRequest, cookies("[" + std::string(COOKIE) + ",]"), BAD},
    {"preflight_array", Message::IpcCaptureResponse, preflight("[]"), BAD},
    {"preflight_string", Message::IpcCaptureResponse, preflight("\"ok\""), BAD},
    {"preflight_status_string", Message::IpcCaptureResponse, preflight(R"({"ok":true,"status":"200"})"), BAD},
};
INSTANTIATE_TEST_SUITE_P(Nested, DecodeRule, ::testing::ValuesIn(NESTED_CASES), case_name);

// ---- Skipped values: any well-formed JSON, nothing else ------------------------------------

const std::vector<Case> SKIPPED_CASES = {
    {"huge_exponent", Message::Envelope, envelope_value("1e400"), OK},
    {"huge_negative_exponent", Message::Envelope, envelope_value("-1e-400"), OK},
    {"beyond_64_bits", Message::Envelope, envelope_value("99999999999999999999999"), OK},
    {"beyond_64_bits_negative", Message::Envelope, envelope_value("-99999999999999999999999"), OK},
    {"exponent_beyond_int", Message::Envelope, envelope_value("1e2147483648"), OK},
    {"exponent_of_twenty_digits", Message::Envelope, envelope_value("1E+99999999999999999999"), OK},
    {"negative_exponent_beyond_int", Message::Envelope, envelope_value("0.5e-99999999999"), OK},
    {"several_long_exponents", Message::Envelope, envelope_value("[1e99999999999,-2.5E-99999999999]"), OK},
    {"long_exponent_in_observed", Message::CaptureRequest, observed(R"({"x":1e99999999999})"), OK},
    {"long_exponent_in_preflight", Message::IpcCaptureResponse,
     preflight(with(PREFLIGHT, R"("x":1e99999999999)")), OK},
    {"long_exponent_still_checks_rest", Message::Envelope, R"({"x":1e99999999999,"requestId":5})", BAD},
    {"long_exponent_in_listed_member", Message::CaptureRequest, total_bytes("1e99999999999"), BAD},
    {"trailing_comma_in_array", Message::Envelope, envelope_value("[1,]"), BAD},
    {"key_without_value", Message::Envelope, envelope_value(R"({"a"})"), BAD},
    {"missing_value", Message::Envelope, envelope_value(R"({"a":})"), BAD},
    {"leading_zero", Message::Envelope, envelope_value("01"), BAD},
    {"bare_fraction_point", Message::Envelope, envelope_value("1."), BAD},
    {"fraction_without_integer", Message::Envelope, envelope_value(".5"), BAD},
    {"lone_minus", Message::Envelope, envelope_value("-"), BAD},
    {"plus_sign", Message::Envelope, envelope_value("+1"), BAD},
    {"exponent_without_digits", Message::Envelope, envelope_value("1e"), BAD},
    {"truncated_literal", Message::Envelope, envelope_value("tru"), BAD},
    {"capitalised_literal", Message::Envelope, envelope_value("True"), BAD},
    {"not_a_number", Message::Envelope, envelope_value("NaN"), BAD},
    {"infinity", Message::Envelope, envelope_value("Infinity"), BAD},
    {"unclosed_array", Message::Envelope, envelope_value("[1"), BAD},
    {"raw_control_in_skipped_string", Message::Envelope, envelope_value("\"a\x1F\""), BAD},
    {"lone_surrogate_in_skipped_string", Message::Envelope, envelope_value(R"("\udc00")"), OK},
    {"lone_high_surrogate_at_string_end", Message::Envelope, envelope_value(R"("\ud800")"), OK},
    {"lone_surrogates_in_skipped_key_and_array", Message::Envelope,
     envelope_value(R"({"\udbff":["a\ud800b","\ud83d\ud83d","\ude00\ud83d\ude00"]})"), OK},
    {"lone_surrogate_in_observed", Message::CaptureRequest, observed(R"({"x-future":"name \udc00 here"})"),
     OK},
    {"lone_surrogate_in_preflight", Message::IpcCaptureResponse,
     preflight(with(PREFLIGHT, R"("x":"\ud800")")), OK},
    {"lone_surrogate_skipped_then_listed", Message::Envelope, R"({"x":"\ud800","requestId":"\udc00"})", BAD},
    {"lone_surrogate_in_listed_observed_member", Message::CaptureRequest, observed(R"({"mime":"a\ud800"})"),
     BAD},
    {"lone_surrogate_and_long_exponent", Message::Envelope, envelope_value(R"(["\ud800",1e99999999999])"),
     OK},
    {"lone_surrogate_then_malformed", Message::Envelope, envelope_value(R"(["\ud800",01])"), BAD},
    {"lone_surrogate_then_invalid_utf8", Message::Envelope, envelope_value("[\"\\ud800\",\"\xC3\x28\"]"),
     BAD},
    {"escaped_backslash_before_u_in_listed_member", Message::Envelope,
     R"({"requestId":"\\ud800","x":"\ud800"})", OK},
    {"invalid_utf8_in_skipped_string", Message::Envelope, envelope_value("[\"\xC3\x28\"]"), BAD},
    {"invalid_utf8_in_skipped_key", Message::CaptureRequest, observed("{\"\xFF\":1}"), BAD},
    {"malformed_in_observed", Message::CaptureRequest, observed(R"({"x":[1,]})"), BAD},
    {"malformed_in_preflight", Message::IpcCaptureResponse, preflight(with(PREFLIGHT, R"("x":01)")), BAD},
};
INSTANTIATE_TEST_SUITE_P(Skipped, DecodeRule, ::testing::ValuesIn(SKIPPED_CASES), case_name);

// ---- Nesting depth -------------------------------------------------------------------------

const std::vector<Case> NESTING_CASES = {
    {"deepest_accepted", Message::Envelope, nested_skipped(999), OK},
    {"one_level_too_deep", Message::Envelope, nested_skipped(1000), BAD},
    {"twenty_thousand_arrays", Message::Envelope, nested_skipped(20000), BAD},
    {"twenty_thousand_objects", Message::Envelope,
     "{" + repeated(R"("a":{)", 20000) + repeated("}", 20000) + "}", BAD},
    {"twenty_thousand_unclosed", Message::Envelope, "{\"x\":" + repeated("[", 20000), BAD},
    {"twenty_thousand_in_observed", Message::CaptureRequest,
     observed("{\"x\":" + repeated("[", 20000) + repeated("]", 20000) + "}"), BAD},
    {"deep_in_refusing_type", Message::HostRequest,
     with(SIMPLE, "\"x\":" + repeated("[", 20000) + repeated("]", 20000)), BAD},
};
INSTANTIATE_TEST_SUITE_P(Nesting, DecodeRule, ::testing::ValuesIn(NESTING_CASES), case_name);

// ---- Texts long enough that the parser hands them over in pieces ---------------------------

const std::string LONG_ESCAPED = "\"" + repeated(R"(\u0041)", 5000) + "\"";
const std::string LONG_ESCAPED_KEY = "\"" + repeated(R"(\u0041)", 5000) + "\"";

const std::vector<Case> PIECEWISE_CASES = {
    {"long_escaped_value", Message::Envelope, envelope_id(LONG_ESCAPED), OK},
    {"long_escaped_unknown_key_skipped", Message::Envelope, "{" + LONG_ESCAPED_KEY + ":1}", OK},
    {"long_escaped_unknown_key_refused", Message::HostRequest, with(SIMPLE, LONG_ESCAPED_KEY + ":1"), BAD},
    {"long_key_starting_like_listed_key", Message::HostRequest,
     with(without(SIMPLE, R"("requestId":"r-1")"),
          R"("requestId)" + repeated(R"(\u0041)", 2000) + R"(":"r-1")"),
     BAD},
};
INSTANTIATE_TEST_SUITE_P(Piecewise, DecodeRule, ::testing::ValuesIn(PIECEWISE_CASES), case_name);

}  // namespace
}  // namespace ondrake::protocol
