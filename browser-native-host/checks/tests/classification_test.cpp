// Frame bodies in, and out either the exact reply bytes or the request as it goes to delivery:
// the family of each message, the order of the checks, the ids each rejection echoes, the field
// limits in bytes, the url rule per capture action and the forbidden combinations.
#include "browser-native-host/checks/classification.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "browser-native-host/tests/support/sample_messages.hpp"

namespace ondrake::classification {
namespace {

using download_core::BrowserCookie;
using download_core::ObservedResponse;
using protocol::CaptureAction;
using protocol::IpcCaptureRequest;
using samples::repeated;
using samples::replaced;

// ---- Building bodies and expectations ----------------------------------------------------

// A simple request; `members` are appended after the required ones.
std::string simple(std::string_view url_json, std::string_view members = "") {
    std::string body =
        R"({"protocolVersion":1,"requestId":"r-1","action":"download","source":"context_menu","url":)";
    body.append(url_json);
    if (!members.empty()) body.append(",").append(members);
    return body + "}";
}

// A body made of exactly `members`.
std::string object(std::string_view members) { return "{" + std::string(members) + "}"; }

// A capture request with ids r-1 and c-1 and the given action; `members` are appended.
std::string capture(std::string_view action, std::string_view members = "") {
    std::string body = R"({"protocolVersion":4,"requestId":"r-1","captureId":"c-1","action":")";
    body.append(action).append(R"(","source":"automatic_download")");
    if (!members.empty()) body.append(",").append(members);
    return body + "}";
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string cookie_json(std::string_view name, std::string_view value = "v", std::string_view path = "/") {
    return R"({"name":)" + quoted(name) + R"(,"value":)" + quoted(value) + R"(,"path":)" + quoted(path) +
           R"(,"secure":true})";
}

std::string cookies_json(std::size_t count) {
    std::string list = "[";
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) list.push_back(',');
        list.append(cookie_json("n" + std::to_string(i)));
    }
    return list + "]";
}

std::string host_reply(std::string_view request_id, std::string_view code) {
    return R"({"protocolVersion":1,"requestId":")" + std::string(request_id) +
           R"(","status":"rejected","code":")" + std::string(code) + "\"}";
}

std::string capture_reply(std::string_view request_id, std::string_view capture_id, std::string_view code) {
    return R"({"protocolVersion":4,"requestId":")" + std::string(request_id) + R"(","captureId":")" +
           std::string(capture_id) + R"(","status":"unknown","code":")" + std::string(code) + "\"}";
}

// The rejection of a capture with ids r-1 and c-1.
std::string refused(std::string_view code) { return capture_reply("r-1", "c-1", code); }

// The capture with ids r-1 and c-1 as delivery receives it, with `adjust` applied.
ValidatedCapture accepted(CaptureAction action, std::optional<std::string> url,
                          const std::function<void(IpcCaptureRequest&)>& adjust = {}) {
    ValidatedCapture result;
    result.message.request_id = "r-1";
    result.message.capture_id = "c-1";
    result.message.action = action;
    result.message.browser = "undeclared";
    result.message.url = std::move(url);
    if (adjust) adjust(result.message);
    return result;
}

const std::string LETTERS_128 = repeated("a", 128);
const std::string LETTERS_129 = repeated("a", 129);
// Two-byte "é", three-byte "€" and four-byte "😀" repeated up to a limit.
std::string two_byte(std::size_t bytes) { return repeated("\xC3\xA9", bytes / 2); }
std::string three_byte_then_ascii(std::size_t bytes) {
    return repeated("\xE2\x82\xAC", bytes / 3) + repeated("a", bytes % 3);
}
std::string four_byte(std::size_t bytes) { return repeated("\xF0\x9F\x98\x80", bytes / 4); }

const std::string TYPICAL_URL = R"("https://example.test/f.zip")";
const std::string URL_MEMBER = R"("url":)" + TYPICAL_URL;
const std::string SANITIZED_URL = "https://example.test/f.zip";

// ---- The table ---------------------------------------------------------------------------

using Expected = std::variant<std::string, ValidatedRequest, ValidatedCapture>;

struct ClassifyCase {
    std::string name;
    std::string body;
    Expected expected;  // reply bytes, or the validated request or capture
};

void PrintTo(const ClassifyCase& c, std::ostream* out) { *out << c.name; }

std::string describe(const ValidatedCapture& c) { return "capture " + protocol::to_json(c.message); }

std::string describe(const Expected& expected) {
    if (auto* reply = std::get_if<std::string>(&expected)) return "reply " + *reply;
    if (auto* request = std::get_if<ValidatedRequest>(&expected)) {
        return "request " + request->request_id + " " + request->url;
    }
    return describe(std::get<ValidatedCapture>(expected));
}

// What classify_any gave, in the form of an expectation; a capture without its record is a fault.
std::optional<Expected> outcome_of(const Classified& classified) {
    if (auto* reply = std::get_if<Reply>(&classified)) return Expected(reply->bytes);
    if (auto* request = std::get_if<Request>(&classified)) return Expected(request->request);
    const auto& capture = std::get<Capture>(classified).capture;
    if (!capture) return std::nullopt;
    return Expected(*capture);
}

void expect_outcome(const Classified& classified, const Expected& expected) {
    auto actual = outcome_of(classified);
    ASSERT_TRUE(actual) << "a Capture without its ValidatedCapture";
    EXPECT_EQ(*actual, expected) << "got      " << describe(*actual) << "\nexpected " << describe(expected);
}

std::vector<ClassifyCase> simple_cases() {
    const std::string ok_url = R"("https://example.test/a")";
    return {
        {"simple_accepted", simple(ok_url), ValidatedRequest{"r-1", "https://example.test/a"}},
        {"simple_url_normalised", simple(R"("HTTPS://Example.TEST:443/a#top")"),
         ValidatedRequest{"r-1", "https://example.test/a"}},
        {"simple_url_spaces_around", simple(R"("  https://example.test  ")"),
         ValidatedRequest{"r-1", "https://example.test/"}},
        {"simple_url_ideographic_space_escaped", simple(R"("\u3000https://example.test/x\u3000")"),
         ValidatedRequest{"r-1", "https://example.test/x"}},
        {"simple_with_browser", simple(ok_url, R"("browser":"firefox")"),
         ValidatedRequest{"r-1", "https://example.test/a"}},
        {"simple_empty_capture_id_stays_simple_and_is_an_unknown_key", simple(ok_url, R"("captureId":"")"),
         host_reply("r-1", "INVALID_MESSAGE")},

        // Version before id.
        {"version_2",
         object(
             R"("protocolVersion":2,"requestId":"r-1","action":"download","source":"context_menu","url":"https://example.test/")"),
         host_reply("r-1", "UNSUPPORTED_PROTOCOL_VERSION")},
        {"version_0", object(R"("protocolVersion":0,"requestId":"r-1")"),
         host_reply("r-1", "UNSUPPORTED_PROTOCOL_VERSION")},
        {"version_3_with_empty_capture_id", object(R"("protocolVersion":3,"requestId":"r-1","captureId":"")"),
         host_reply("r-1", "UNSUPPORTED_PROTOCOL_VERSION")},
        {"no_request_id_version_1",
         object(
             R"("protocolVersion":1,"action":"download","source":"context_menu","url":"https://example.test/")"),
         host_reply("", "INVALID_MESSAGE")},
        {"no_request_id_no_version", object(R"("action":"download","url":"https://example.test/")"),
         host_reply("", "UNSUPPORTED_PROTOCOL_VERSION")},
        {"empty_object", "{}", host_reply("", "UNSUPPORTED_PROTOCOL_VERSION")},
        {"null_version_is_absent", object(R"("protocolVersion":null,"requestId":"r-1")"),
         host_reply("r-1", "UNSUPPORTED_PROTOCOL_VERSION")},
        {"invalid_id_and_wrong_version", object(R"("protocolVersion":2,"requestId":"r.1")"),
         host_reply("", "UNSUPPORTED_PROTOCOL_VERSION")},
        {"invalid_id_with_space",
         object(
             R"("protocolVersion":1,"requestId":"r 1","action":"download","source":"context_menu","url":"https://example.test/")"),
         host_reply("", "INVALID_MESSAGE")},
        {"empty_request_id",
         object(
             R"("protocolVersion":1,"requestId":"","action":"download","source":"context_menu","url":"https://example.test/")"),
         host_reply("", "INVALID_MESSAGE")},
        {"request_id_non_ascii",
         object(
             R"("protocolVersion":1,"requestId":"r-\u00e9","action":"download","source":"context_menu","url":"https://example.test/")"),
         host_reply("", "INVALID_MESSAGE")},
        {"request_id_128_letters",
         object(R"("protocolVersion":1,"requestId":")" + LETTERS_128 +
                R"(","action":"download","source":"context_menu","url":"https://example.test/")"),
         ValidatedRequest{LETTERS_128, "https://example.test/"}},
        {"request_id_129_letters",
         object(R"("protocolVersion":1,"requestId":")" + LETTERS_129 +
                R"(","action":"download","source":"context_menu","url":"https://example.test/")"),
         host_reply("", "INVALID_MESSAGE")},
        {"request_id_escaped_in_json", replaced(simple(ok_url), R"("r-1")", R"("r\u002d1")"),
         ValidatedRequest{"r-1", "https://example.test/a"}},

        // Bodies that are not messages at all.
        {"not_json", "not json", host_reply("", "INVALID_MESSAGE")},
        {"empty_body", "", host_reply("", "INVALID_MESSAGE")},
        {"array", "[1]", host_reply("", "INVALID_MESSAGE")},
        {"trailing_garbage", simple(ok_url) + "x", host_reply("", "INVALID_MESSAGE")},
        {"duplicate_request_id", object(R"("protocolVersion":1,"requestId":"r-1","requestId":"r-2")"),
         host_reply("", "INVALID_MESSAGE")},

        // Envelope fine, strict decoding not.
        {"unknown_key", simple(ok_url, R"("extra":1)"), host_reply("r-1", "INVALID_MESSAGE")},
        {"missing_url",
         object(R"("protocolVersion":1,"requestId":"r-1","action":"download","source":"context_menu")"),
         host_reply("r-1", "INVALID_MESSAGE")},
        {"null_url", simple("null"), host_reply("r-1", "INVALID_MESSAGE")},
        {"capture_action_in_simple_request",
         object(
             R"("protocolVersion":1,"requestId":"r-1","action":"capture_prepare","source":"context_menu","url":"https://example.test/")"),
         host_reply("r-1", "INVALID_MESSAGE")},
        {"browser_in_other_case", simple(ok_url, R"("browser":"Chrome")"),
         host_reply("r-1", "INVALID_MESSAGE")},

        // The URL policy.
        {"url_ftp", simple(R"("ftp://example.test/f")"), host_reply("r-1", "UNSUPPORTED_SCHEME")},
        {"url_javascript", simple(R"js("javascript:alert(1)")js"), host_reply("r-1", "UNSUPPORTED_SCHEME")},
        {"url_user_name", simple(R"("https://user@example.test/")"), host_reply("r-1", "INVALID_URL")},
        {"url_user_name_and_password", simple(R"("https://user:pw@example.test/")"),
         host_reply("r-1", "INVALID_URL")},
        {"url_password_only", simple(R"("https://:pw@example.test/")"), host_reply("r-1", "INVALID_URL")},
        {"url_empty_credentials", simple(R"("https://:@example.test/")"),
         ValidatedRequest{"r-1", "https://example.test/"}},
        {"url_not_a_url", simple(R"("not a url")"), host_reply("r-1", "INVALID_URL")},
        {"url_empty", simple(R"("")"), host_reply("r-1", "INVALID_URL")},
    };
}

std::vector<ClassifyCase> capture_family_cases() {
    const std::string long_id = repeated("r", 200);
    return {
        // Which messages are captures.
        {"capture_accepted", capture("capture_status"), accepted(CaptureAction::CaptureStatus, std::nullopt)},
        {"version_1_with_capture_id_is_a_capture_of_the_wrong_version",
         R"({"protocolVersion":1,"requestId":"r-1","captureId":"c-1","action":"capture_status","source":"automatic_download"})",
         refused("UNSUPPORTED_PROTOCOL_VERSION")},
        {"version_1_with_capture_id_and_simple_members",
         R"({"protocolVersion":1,"requestId":"r-1","captureId":"c-1","action":"download","source":"context_menu","url":"https://example.test/"})",
         refused("INVALID_MESSAGE")},
        {"version_4_without_capture_id_fails_to_decode",
         R"({"protocolVersion":4,"requestId":"r-1","action":"download","source":"context_menu","url":"https://example.test/"})",
         capture_reply("r-1", "", "INVALID_MESSAGE")},
        {"capture_members_version_3_empty_capture_id_is_simple",
         R"({"protocolVersion":3,"requestId":"r-1","captureId":"","action":"capture_status","source":"automatic_download"})",
         host_reply("r-1", "UNSUPPORTED_PROTOCOL_VERSION")},
        {"capture_members_version_1_empty_capture_id_is_simple",
         R"({"protocolVersion":1,"requestId":"r-1","captureId":"","action":"capture_status","source":"automatic_download"})",
         host_reply("r-1", "INVALID_MESSAGE")},
        {"capture_id_without_version_fails_to_decode", object(R"("requestId":"r-1","captureId":"c-1")"),
         refused("INVALID_MESSAGE")},
        {"undecodable_envelope_answered_in_simple_form",
         R"({"protocolVersion":4,"requestId":"r-1","captureId":5,"action":"capture_status","source":"automatic_download"})",
         host_reply("", "INVALID_MESSAGE")},
        {"version_as_text_answered_in_simple_form",
         object(R"("protocolVersion":"4","requestId":"r-1","captureId":"c-1")"),
         host_reply("", "INVALID_MESSAGE")},

        // Version before ids, and the ids echoed as received.
        {"version_3_echoes_long_and_odd_ids",
         R"({"protocolVersion":3,"requestId":")" + long_id +
             R"(","captureId":"c.1 \u00e9\"\/","action":"capture_status","source":"automatic_download"})",
         capture_reply(long_id, "c.1 \xC3\xA9\\\"/", "UNSUPPORTED_PROTOCOL_VERSION")},
        {"version_5_echoes_empty_ids",
         R"({"protocolVersion":5,"requestId":"","captureId":"c-1","action":"capture_abort","source":"automatic_download"})",
         capture_reply("", "c-1", "UNSUPPORTED_PROTOCOL_VERSION")},

        // Ids of a decoded capture.
        {"invalid_request_id",
         R"({"protocolVersion":4,"requestId":"r.1","captureId":"c-1","action":"capture_status","source":"automatic_download"})",
         capture_reply("", "", "INVALID_MESSAGE")},
        {"capture_id_129_letters",
         R"({"protocolVersion":4,"requestId":"r-1","captureId":")" + LETTERS_129 +
             R"(","action":"capture_status","source":"automatic_download"})",
         capture_reply("", "", "INVALID_MESSAGE")},
        {"capture_id_128_letters",
         R"({"protocolVersion":4,"requestId":"r-1","captureId":")" + LETTERS_128 +
             R"(","action":"capture_status","source":"automatic_download"})",
         accepted(CaptureAction::CaptureStatus, std::nullopt, [&](auto& c) { c.capture_id = LETTERS_128; })},
        {"ids_checked_before_limits",
         R"({"protocolVersion":4,"requestId":"r-1","captureId":"c 1","action":"capture_status","source":"automatic_download","cookies":[]})",
         capture_reply("", "", "INVALID_MESSAGE")},

        // Failed strict decoding answers with the envelope's ids that pass the rule.
        {"undecodable_capture_echoes_envelope_ids", capture("capture_status", R"("extra":1)"),
         refused("INVALID_MESSAGE")},
        {"undecodable_capture_drops_invalid_request_id",
         R"({"protocolVersion":4,"requestId":"r 1","captureId":"c-1","action":"capture_status"})",
         capture_reply("", "c-1", "INVALID_MESSAGE")},
        {"undecodable_capture_drops_long_capture_id",
         R"({"protocolVersion":4,"requestId":"r-1","captureId":")" + LETTERS_129 + R"(","action":"nope"})",
         capture_reply("r-1", "", "INVALID_MESSAGE")},
        {"unknown_action", capture("capture_everything"), refused("INVALID_MESSAGE")},
        {"bad_cookie_element",
         capture("capture_status", R"("cookies":[{"name":"a","value":"b","path":"/"}])"),
         refused("INVALID_MESSAGE")},
    };
}

std::vector<ClassifyCase> capture_rule_cases() {
    const std::string prepare_url = R"("url":"HTTPS://Example.TEST:443/a#top")";
    return {
        // The url rule per action.
        {"prepare_with_url_sanitised", capture("capture_prepare", prepare_url),
         accepted(CaptureAction::CapturePrepare, "https://example.test/a")},
        {"commit_with_url", capture("capture_commit", URL_MEMBER),
         accepted(CaptureAction::CaptureCommit, SANITIZED_URL)},
        {"preflight_with_url", capture("capture_preflight", URL_MEMBER),
         accepted(CaptureAction::CapturePreflight, SANITIZED_URL)},
        {"prepare_without_url", capture("capture_prepare"), refused("INVALID_MESSAGE")},
        {"commit_with_null_url", capture("capture_commit", R"("url":null)"), refused("INVALID_MESSAGE")},
        {"preflight_without_url", capture("capture_preflight"), refused("INVALID_MESSAGE")},
        {"status_with_url", capture("capture_status", URL_MEMBER), refused("INVALID_MESSAGE")},
        {"abort_with_url", capture("capture_abort", URL_MEMBER), refused("INVALID_MESSAGE")},
        {"revoke_with_url", capture("capture_revoke_credentials", URL_MEMBER), refused("INVALID_MESSAGE")},
        {"status_with_null_url", capture("capture_status", R"("url":null)"),
         accepted(CaptureAction::CaptureStatus, std::nullopt)},
        {"abort_without_url", capture("capture_abort"), accepted(CaptureAction::CaptureAbort, std::nullopt)},
        {"revoke_alone", capture("capture_revoke_credentials"),
         accepted(CaptureAction::CaptureRevokeCredentials, std::nullopt)},
        {"prepare_ftp_url", capture("capture_prepare", R"("url":"ftp://example.test/f")"),
         refused("UNSUPPORTED_SCHEME")},
        {"commit_blob_url", capture("capture_commit", R"("url":"blob:https://example.test/1")"),
         refused("UNSUPPORTED_SCHEME")},
        {"preflight_url_with_credentials",
         capture("capture_preflight", R"("url":"https://u:p@example.test/")"), refused("INVALID_URL")},
        {"prepare_malformed_url", capture("capture_prepare", R"("url":"https://")"), refused("INVALID_URL")},
        {"limits_checked_before_url",
         capture("capture_prepare", R"("url":"ftp://example.test/f","cookies":)" + cookies_json(65)),
         refused("INVALID_MESSAGE")},
        {"combination_checked_before_url",
         capture("capture_preflight", R"("url":"ftp://example.test/f","cookies":)" + cookies_json(1)),
         refused("INVALID_MESSAGE")},

        // Forbidden combinations.
        {"cookies_with_preflight",
         capture("capture_preflight", URL_MEMBER + R"(,"cookies":)" + cookies_json(1)),
         refused("INVALID_MESSAGE")},
        {"null_cookies_with_preflight", capture("capture_preflight", URL_MEMBER + R"(,"cookies":null)"),
         accepted(CaptureAction::CapturePreflight, SANITIZED_URL)},
        {"observed_with_preflight",
         capture("capture_preflight", URL_MEMBER + R"(,"observed":{"mime":"a/b"})"),
         accepted(CaptureAction::CapturePreflight, SANITIZED_URL,
                  [](auto& c) {
                      c.observed = ObservedResponse{std::nullopt, "a/b", std::nullopt, std::nullopt};
                  })},
        {"revoke_with_observed", capture("capture_revoke_credentials", R"("observed":{})"),
         refused("INVALID_MESSAGE")},
        {"revoke_with_cookies", capture("capture_revoke_credentials", R"("cookies":)" + cookies_json(1)),
         refused("INVALID_MESSAGE")},
        {"revoke_with_null_observed_and_cookies",
         capture("capture_revoke_credentials", R"("observed":null,"cookies":null)"),
         accepted(CaptureAction::CaptureRevokeCredentials, std::nullopt)},
        {"abort_with_cookies", capture("capture_abort", R"("cookies":)" + cookies_json(1)),
         accepted(CaptureAction::CaptureAbort, std::nullopt,
                  [](auto& c) {
                      c.cookies = std::vector<BrowserCookie>{{"n0", "v", "/", true}};
                  })},
    };
}

// Each limit at its value in multi-byte characters, and one byte over.
std::vector<ClassifyCase> capture_limit_cases() {
    auto status_with = [](std::string_view member) { return capture("capture_status", member); };
    auto status_accepted = [](const std::function<void(IpcCaptureRequest&)>& adjust) {
        return accepted(CaptureAction::CaptureStatus, std::nullopt, adjust);
    };
    auto observed_text = [](std::optional<std::string> final_url, std::optional<std::string> mime,
                            std::optional<std::string> etag) {
        return [=](IpcCaptureRequest& c) {
            c.observed = ObservedResponse{final_url, mime, std::nullopt, etag};
        };
    };
    const std::string text_2048 = two_byte(2048);
    const std::string text_2049 = two_byte(2048) + "a";
    const std::string name_256 = three_byte_then_ascii(256);
    const std::string name_257 = three_byte_then_ascii(257);
    const std::string value_4096 = four_byte(4096);
    const std::string path_1024 = two_byte(1024);
    const std::string name_1024 = four_byte(1024);
    const std::string origin_512 = three_byte_then_ascii(512);
    auto one_cookie = [](std::string name, std::string value, std::string path) {
        return [=](IpcCaptureRequest& c) {
            c.cookies = std::vector<BrowserCookie>{{name, value, path, true}};
        };
    };
    std::vector<BrowserCookie> sixty_four;
    for (int i = 0; i < 64; ++i) sixty_four.push_back({"n" + std::to_string(i), "v", "/", true});

    return {
        {"final_url_2048_bytes", status_with(R"("observed":{"finalUrl":")" + text_2048 + "\"}"),
         status_accepted(observed_text(text_2048, std::nullopt, std::nullopt))},
        {"final_url_2049_bytes", status_with(R"("observed":{"finalUrl":")" + text_2049 + "\"}"),
         refused("INVALID_MESSAGE")},
        {"mime_2048_bytes", status_with(R"("observed":{"mime":")" + text_2048 + "\"}"),
         status_accepted(observed_text(std::nullopt, text_2048, std::nullopt))},
        {"mime_2049_bytes", status_with(R"("observed":{"mime":")" + text_2049 + "\"}"),
         refused("INVALID_MESSAGE")},
        {"etag_2048_bytes", status_with(R"("observed":{"etag":")" + text_2048 + "\"}"),
         status_accepted(observed_text(std::nullopt, std::nullopt, text_2048))},
        {"etag_2049_bytes", status_with(R"("observed":{"etag":")" + text_2049 + "\"}"),
         refused("INVALID_MESSAGE")},
        {"total_bytes_zero", status_with(R"("observed":{"totalBytes":0})"), status_accepted([](auto& c) {
             c.observed = ObservedResponse{std::nullopt, std::nullopt, 0, std::nullopt};
         })},
        {"total_bytes_negative", status_with(R"("observed":{"totalBytes":-1})"), refused("INVALID_MESSAGE")},

        {"cookies_empty", status_with(R"("cookies":[])"), refused("INVALID_MESSAGE")},
        {"cookies_64", status_with(R"("cookies":)" + cookies_json(64)),
         status_accepted([&](auto& c) { c.cookies = sixty_four; })},
        {"cookies_65", status_with(R"("cookies":)" + cookies_json(65)), refused("INVALID_MESSAGE")},
        {"cookie_name_empty", status_with(R"("cookies":[)" + cookie_json("") + "]"),
         refused("INVALID_MESSAGE")},
        {"cookie_name_256_bytes", status_with(R"("cookies":[)" + cookie_json(name_256) + "]"),
         status_accepted(one_cookie(name_256, "v", "/"))},
        {"cookie_name_257_bytes", status_with(R"("cookies":[)" + cookie_json(name_257) + "]"),
         refused("INVALID_MESSAGE")},
        {"cookie_value_empty_path_empty", status_with(R"("cookies":[)" + cookie_json("n", "", "") + "]"),
         status_accepted(one_cookie("n", "", ""))},
        {"cookie_value_4096_bytes", status_with(R"("cookies":[)" + cookie_json("n", value_4096) + "]"),
         status_accepted(one_cookie("n", value_4096, "/"))},
        {"cookie_value_4097_bytes", status_with(R"("cookies":[)" + cookie_json("n", value_4096 + "a") + "]"),
         refused("INVALID_MESSAGE")},
        {"cookie_path_1024_bytes", status_with(R"("cookies":[)" + cookie_json("n", "v", path_1024) + "]"),
         status_accepted(one_cookie("n", "v", path_1024))},
        {"cookie_path_1025_bytes",
         status_with(R"("cookies":[)" + cookie_json("n", "v", path_1024 + "a") + "]"),
         refused("INVALID_MESSAGE")},
        {"one_bad_cookie_among_good_ones",
         status_with(R"("cookies":[)" + cookie_json("a") + "," + cookie_json(name_257) + "," +
                     cookie_json("b") + "]"),
         refused("INVALID_MESSAGE")},

        {"download_name_1024_bytes", status_with(R"("downloadName":")" + name_1024 + "\""),
         status_accepted([&](auto& c) { c.download_name = name_1024; })},
        {"download_name_1025_bytes", status_with(R"("downloadName":")" + name_1024 + "a\""),
         refused("INVALID_MESSAGE")},
        {"initiator_origin_512_bytes", status_with(R"("initiatorOrigin":")" + origin_512 + "\""),
         status_accepted([&](auto& c) { c.initiator_origin = origin_512; })},
        {"initiator_origin_513_bytes", status_with(R"("initiatorOrigin":")" + origin_512 + "a\""),
         refused("INVALID_MESSAGE")},
        {"escaped_characters_counted_as_utf8",
         status_with(R"("downloadName":")" + repeated("\\u00e9", 512) + "\""),
         status_accepted([](auto& c) { c.download_name = two_byte(1024); })},
        {"escaped_characters_one_byte_over",
         status_with(R"("downloadName":")" + repeated("\\u00e9", 512) + "\\n\""), refused("INVALID_MESSAGE")},
    };
}

// Everything a capture may carry reaches delivery unchanged, apart from url and browser.
std::vector<ClassifyCase> capture_content_cases() {
    const std::string full =
        R"({"protocolVersion":4,"requestId":"r-9","captureId":"c_9","action":"capture_prepare",)"
        R"("source":"automatic_download","browser":"edge","browserDownloadId":-5,)"
        R"("url":" HTTPS://Dl.Example.TEST:443/f.zip#part ",)"
        R"("observed":{"finalUrl":"not even a url","mime":"application/zip",)"
        R"("totalBytes":9223372036854775807,"etag":"\"abc\"","server":{"v":[1,2]}},)"
        R"("cookies":[{"name":"sid","value":"1","path":"/","secure":true},)"
        R"({"secure":false,"path":"/a","value":"","name":"lang"}],)"
        R"("downloadName":"f \u00e9.zip","initiatorOrigin":"https://example.test","revalidateResponse":false})";
    ValidatedCapture expected;
    expected.message.request_id = "r-9";
    expected.message.capture_id = "c_9";
    expected.message.action = CaptureAction::CapturePrepare;
    expected.message.browser = "edge";
    expected.message.browser_download_id = -5;
    expected.message.url = "https://dl.example.test/f.zip";
    expected.message.observed =
        ObservedResponse{"not even a url", "application/zip", 9223372036854775807, "\"abc\""};
    expected.message.cookies = std::vector<BrowserCookie>{{"sid", "1", "/", true}, {"lang", "", "/a", false}};
    expected.message.download_name = "f \xC3\xA9.zip";
    expected.message.initiator_origin = "https://example.test";
    expected.message.revalidate_response = false;

    auto with_browser = [](std::string browser) {
        return accepted(CaptureAction::CaptureStatus, std::nullopt, [=](auto& c) { c.browser = browser; });
    };
    return {
        {"every_member_carried", full, expected},
        {"browser_unknown_is_a_name", capture("capture_status", R"("browser":"unknown")"),
         with_browser("unknown")},
        {"browser_safari", capture("capture_status", R"("browser":"safari")"), with_browser("safari")},
        {"browser_null_is_undeclared", capture("capture_status", R"("browser":null)"),
         with_browser("undeclared")},
        {"revalidate_true", capture("capture_abort", R"("revalidateResponse":true)"),
         accepted(CaptureAction::CaptureAbort, std::nullopt, [](auto& c) { c.revalidate_response = true; })},
    };
}

std::vector<ClassifyCase> all_cases() {
    std::vector<ClassifyCase> cases;
    for (auto* part : {simple_cases, capture_family_cases, capture_rule_cases, capture_limit_cases,
                       capture_content_cases}) {
        auto more = part();
        cases.insert(cases.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    }
    return cases;
}

class ClassifyAny : public testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyAny, GivesTheExactReplyOrTheValidatedMessage) {
    expect_outcome(classify_any(GetParam().body), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Bodies, ClassifyAny, testing::ValuesIn(all_cases()),
                         [](const auto& param_info) { return param_info.param.name; });

// classify_any reads a body once, as every type at the same time; the family it answers in must
// be the one the lenient reading on its own would choose: a capture by version 4 or a non-empty
// captureId, anything else a simple request.
bool answered_as_capture(const Classified& classified) {
    if (std::holds_alternative<Capture>(classified)) return true;
    if (const auto* reply = std::get_if<Reply>(&classified)) {
        return protocol::decode_capture_response(reply->bytes).has_value();
    }
    return false;
}

TEST(ClassifyAnyRoute, AgreesWithTheLenientReadingForEveryBody) {
    for (const ClassifyCase& c : all_cases()) {
        SCOPED_TRACE(c.name);
        auto envelope = protocol::decode_envelope(c.body);
        bool capture = envelope && (envelope->protocol_version == protocol::CAPTURE_PROTOCOL_VERSION ||
                                    (envelope->capture_id && !envelope->capture_id->empty()));
        EXPECT_EQ(answered_as_capture(classify_any(c.body)), capture);
    }
}

// ---- The id rule -------------------------------------------------------------------------

struct IdCase {
    const char* name;
    std::string text;
    bool valid;
};

void PrintTo(const IdCase& c, std::ostream* out) { *out << c.name; }

class ValidId : public testing::TestWithParam<IdCase> {};

TEST_P(ValidId, FollowsTheRule) { EXPECT_EQ(is_valid_id(GetParam().text), GetParam().valid); }

INSTANTIATE_TEST_SUITE_P(
    Ids, ValidId,
    testing::Values(
        IdCase{"empty", "", false}, IdCase{"one_letter", "a", true}, IdCase{"one_digit", "7", true},
        IdCase{"one_hyphen", "-", true}, IdCase{"one_underscore", "_", true},
        IdCase{"every_allowed_kind", "AZaz09-_", true}, IdCase{"letters_128", repeated("a", 128), true},
        IdCase{"mixed_128", repeated("Z9-_", 32), true}, IdCase{"letters_129", repeated("a", 129), false},
        IdCase{"full_stop", "r.1", false}, IdCase{"space", "r 1", false}, IdCase{"solidus", "r/1", false},
        IdCase{"plus", "r+1", false}, IdCase{"colon", "r:1", false}, IdCase{"at_sign", "r@1", false},
        IdCase{"tilde", "r~1", false}, IdCase{"backtick", "r`1", false}, IdCase{"brackets", "r[1]", false},
        IdCase{"brace", "r{1", false}, IdCase{"trailing_line_feed", "r-1\n", false},
        IdCase{"nul_byte",
               std::string("r\0"
                           "1",
                           3),
               false},
        IdCase{"delete_byte", "r\x7F", false}, IdCase{"e_acute", "caf\xC3\xA9", false},
        IdCase{"fullwidth_letter", "\xEF\xBD\x81", false}, IdCase{"high_byte_alone", "a\xFF", false}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace ondrake::classification
