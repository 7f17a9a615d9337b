#include "tools/protocol-doc/tests/corpus.hpp"

#include <boost/json.hpp>

#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "browser-native-host/checks/classification.hpp"
#include "browser-native-host/messages/protocol.hpp"

#include "browser-native-host/tests/support/sample_messages.hpp"
#include "browser-native-host/tests/support/session_messages.hpp"
#include "browser-native-host/common/whole_file.hpp"
#include "safari-extension/relay.hpp"
#include "safari-extension/standins/standins.hpp"
#include "safari-extension/tools/message_json.hpp"
#include "tools/nm-client/messages.hpp"
#include "tools/protocol-doc/reference.hpp"

namespace ondrake::protocol_doc {

namespace {

namespace json = boost::json;
using samples::repeated;
using samples::replaced;
using samples::with;

// A body and, for one the host refuses although its JSON fits the schema, why.
struct Case {
    std::string name;
    std::string body;
    std::string_view blind_spot = {};
};

const std::string SIMPLE(samples::SIMPLE);
const std::string CAPTURE(samples::CAPTURE);

std::string capture_step(std::string_view action, std::string_view members = {}) {
    std::string body = replaced(CAPTURE, "capture_status", action);
    return members.empty() ? body : with(body, members);
}

std::string cookies(std::size_t count) {
    std::string list = "\"cookies\":[";
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) list.push_back(',');
        list.append(samples::COOKIE);
    }
    return list + "]";
}

const std::string URL = R"("url":"https://example.test/f.zip")";

// What a browser may send. Refusals whose reason is the URL policy or the document's form are
// recognised from the host's verdict; the rest name their blind spot here.
std::vector<Case> browser_cases() {
    return {
        {"simple", SIMPLE},
        {"bench_simple", std::string(samples::TYPICAL_SIMPLE)},
        {"bench_capture", std::string(samples::TYPICAL_CAPTURE)},
        {"readme_simple",
         R"({"protocolVersion":1,"requestId":"r-1","action":"download","source":"context_menu","url":"https://example.test/"})"},
        {"session_simple", test::simple("r-1", "HTTPS://Example.TEST:443/a#top")},
        {"session_simple_ftp", test::simple("r-4", "ftp://example.test/f")},
        {"session_prepare", test::capture("c-9", "capture_prepare", "https://example.test/file.zip")},
        {"session_commit", test::capture("c-9", "capture_commit", "https://example.test/file.zip")},
        {"session_status", test::capture("c-9", "capture_status")},
        {"session_abort", test::capture("c-9", "capture_abort")},
        {"session_revoke", test::capture("c-9", "capture_revoke_credentials")},
        {"session_preflight", test::capture("c-9", "capture_preflight", "https://example.test/file.zip")},
        {"simple_with_browser", with(SIMPLE, R"("browser":"safari")")},
        {"simple_browser_null", with(SIMPLE, R"("browser":null)")},
        {"simple_followed_by_line_feed", SIMPLE + "\n"},
        {"simple_key_escaped", replaced(SIMPLE, "requestId", "r\\u0065questId")},
        {"simple_url_trimmed", replaced(SIMPLE, "https://example.test/a", "  https://example.test  ")},
        {"simple_id_128", replaced(SIMPLE, "r-1", repeated("a", 128))},
        {"capture_required_only", CAPTURE},
        {"capture_prepare", capture_step("capture_prepare", URL + ",\"browser\":\"chrome\"," +
                                                                "\"browserDownloadId\":-5," + cookies(1))},
        {"capture_commit_everything",
         capture_step(
             "capture_commit",
             URL +
                 R"(,"observed":{"finalUrl":"https://example.test/f","mime":"a/b","totalBytes":0,"etag":"x","future":{"a":[1]}},)" +
                 cookies(64) +
                 R"(,"downloadName":"f.zip","initiatorOrigin":"https://example.test","revalidateResponse":false)")},
        {"capture_preflight", capture_step("capture_preflight", URL + R"(,"observed":{"mime":null})")},
        {"capture_abort", capture_step("capture_abort", cookies(1))},
        {"capture_status_null_url", capture_step("capture_status", R"("url":null)")},
        {"capture_revoke", capture_step("capture_revoke_credentials")},
        {"capture_name_256",
         capture_step("capture_status",
                      "\"cookies\":[" + replaced(samples::COOKIE, "sid", repeated("n", 256)) + "]")},

        // Unknown keys.
        {"simple_unknown_key", with(SIMPLE, R"("extra":1)")},
        {"simple_with_capture_id", with(SIMPLE, R"("captureId":"")")},
        {"capture_unknown_key", capture_step("capture_status", R"("extra":1)")},
        {"cookie_unknown_key",
         capture_step("capture_status", "\"cookies\":[" + with(samples::COOKIE, R"("domain":"x")") + "]")},
        // Wrong types.
        {"simple_version_text", replaced(SIMPLE, "\"protocolVersion\":1", "\"protocolVersion\":\"1\"")},
        {"simple_request_id_number", replaced(SIMPLE, "\"r-1\"", "1")},
        {"capture_download_id_text", capture_step("capture_status", R"("browserDownloadId":"17")")},
        {"cookie_secure_text",
         capture_step("capture_status",
                      "\"cookies\":[" + replaced(samples::COOKIE, "true", "\"true\"") + "]")},
        {"capture_observed_array", capture_step("capture_status", R"("observed":[])")},
        {"capture_id_number", replaced(CAPTURE, "\"c1\"", "5")},
        // Missing members.
        {"simple_without_url", replaced(SIMPLE, R"(,"url":"https://example.test/a")", "")},
        {"simple_url_null", replaced(SIMPLE, R"("https://example.test/a")", "null")},
        {"capture_without_source", replaced(CAPTURE, R"(,"source":"automatic_download")", "")},
        {"cookie_without_secure",
         capture_step("capture_status",
                      "\"cookies\":[" + replaced(samples::COOKIE, R"(,"secure":true)", "") + "]")},
        {"empty_object", "{}"},
        // Enumeration texts.
        {"browser_other_case", with(SIMPLE, R"("browser":"Chrome")")},
        {"browser_unlisted", with(SIMPLE, R"("browser":"vivaldi")")},
        {"capture_action_in_simple", replaced(SIMPLE, "\"download\"", "\"capture_prepare\"")},
        {"capture_action_unlisted", replaced(CAPTURE, "capture_status", "capture_pause")},
        {"simple_source_of_capture", replaced(SIMPLE, "context_menu", "automatic_download")},
        // Versions and ids.
        {"simple_version_2", replaced(SIMPLE, "\"protocolVersion\":1", "\"protocolVersion\":2")},
        {"capture_version_3", replaced(CAPTURE, "\"protocolVersion\":4", "\"protocolVersion\":3")},
        {"simple_id_with_full_stop", replaced(SIMPLE, "r-1", "r.1")},
        {"simple_id_empty", replaced(SIMPLE, "\"r-1\"", "\"\"")},
        {"simple_id_129", replaced(SIMPLE, "r-1", repeated("a", 129))},
        {"simple_id_non_ascii", replaced(SIMPLE, "r-1", "r-\\u00e9")},
        {"capture_id_with_space", replaced(CAPTURE, "\"c1\"", "\"c 1\"")},
        // Limits.
        {"cookies_empty", capture_step("capture_status", R"("cookies":[])")},
        {"cookies_65", capture_step("capture_status", cookies(65))},
        {"cookie_name_empty",
         capture_step("capture_status", "\"cookies\":[" + replaced(samples::COOKIE, "sid", "") + "]")},
        {"cookie_name_257",
         capture_step("capture_status",
                      "\"cookies\":[" + replaced(samples::COOKIE, "sid", repeated("n", 257)) + "]")},
        {"total_bytes_negative", capture_step("capture_status", R"("observed":{"totalBytes":-1})")},
        {"download_name_1025",
         capture_step("capture_status", "\"downloadName\":\"" + repeated("d", 1025) + "\"")},
        {"initiator_origin_513",
         capture_step("capture_status", "\"initiatorOrigin\":\"" + repeated("o", 513) + "\"")},
        {"observed_mime_2049",
         capture_step("capture_status", "\"observed\":{\"mime\":\"" + repeated("m", 2049) + "\"}")},
        {"download_name_1026_bytes_in_513_characters",
         capture_step("capture_status", "\"downloadName\":\"" + repeated("\xC3\xA9", 513) + "\""),
         "utf8-bytes"},
        // What each step may carry.
        {"status_with_url", capture_step("capture_status", URL)},
        {"prepare_without_url", capture_step("capture_prepare")},
        {"commit_with_null_url", capture_step("capture_commit", R"("url":null)")},
        {"preflight_with_cookies", capture_step("capture_preflight", URL + "," + cookies(1))},
        {"revoke_with_observed", capture_step("capture_revoke_credentials", R"("observed":{})")},
        {"revoke_with_cookies", capture_step("capture_revoke_credentials", cookies(1))},
        // URL policy.
        {"simple_url_ftp", replaced(SIMPLE, "https://example.test/a", "ftp://example.test/f")},
        {"simple_url_credentials", replaced(SIMPLE, "https://example.test/a", "https://user@example.test/")},
        {"simple_url_not_a_url", replaced(SIMPLE, "https://example.test/a", "not a url")},
        {"prepare_url_blob", capture_step("capture_prepare", R"("url":"blob:https://example.test/1")")},
        // What only the decoder sees.
        {"simple_duplicate_key", samples::with_first(SIMPLE, R"("url":"https://example.test/b")"),
         "duplicate-keys"},
        {"simple_version_with_fraction", replaced(SIMPLE, "\"protocolVersion\":1", "\"protocolVersion\":1.0"),
         "integer-form"},
        {"simple_version_with_exponent", replaced(SIMPLE, "\"protocolVersion\":1", "\"protocolVersion\":1e0"),
         "integer-form"},
        {"download_id_over_64_bits",
         capture_step("capture_status", R"("browserDownloadId":9223372036854775808)"), "integer-range"},
        {"lone_surrogate", capture_step("capture_status", R"("downloadName":"\ud800")"), "unicode"},
        {"not_utf8", capture_step("capture_status", "\"downloadName\":\"\xFF\""), "unicode"},
        {"byte_order_mark", "\xEF\xBB\xBF" + SIMPLE},
        {"trailing_data", SIMPLE + "x"},
        {"two_documents", SIMPLE + SIMPLE},
        {"not_json", "hello"},
    };
}

// The application's replies, judged by the host's decoders.
std::vector<Case> application_reply_cases() {
    const std::string reply(samples::IPC_RESPONSE);
    const std::string capture(samples::IPC_CAPTURE_RESPONSE);
    return {
        {"ipc_response", reply},
        {"ipc_response_any_version", replaced(reply, "\"protocolVersion\":1", "\"protocolVersion\":7")},
        {"ipc_response_unknown_key", with(reply, R"("extra":1)")},
        {"ipc_response_code_lower_case", replaced(reply, "ACCEPTED", "accepted")},
        {"ipc_response_code_null", replaced(reply, "\"ACCEPTED\"", "null")},
        {"ipc_response_without_version", replaced(reply, "\"protocolVersion\":1,", "")},
        {"ipc_response_duplicate_code", with(reply, R"("code":"APP_REJECTED")"), "duplicate-keys"},
        {"ipc_capture_response", capture},
        {"ipc_capture_response_preflight_null", with(capture, R"("preflight":null)")},
        {"ipc_capture_response_preflight", with(capture, "\"preflight\":" + std::string(samples::PREFLIGHT))},
        {"ipc_capture_response_preflight_full",
         with(
             capture,
             R"("preflight":{"ok":false,"status":404,"finalUrl":"https://example.test/f","contentType":"a/b","contentDisposition":"attachment","totalBytes":5,"later":[{}]})")},
        {"ipc_capture_response_preflight_without_ok", with(capture, R"("preflight":{"status":200})")},
        {"ipc_capture_response_preflight_status_65536",
         with(capture, R"("preflight":{"ok":true,"status":65536})")},
        {"ipc_capture_response_preflight_status_negative",
         with(capture, R"("preflight":{"ok":true,"status":-1})")},
        {"ipc_capture_response_status_unlisted", replaced(capture, "\"prepared\"", "\"paused\"")},
        {"ipc_capture_response_without_capture_id", replaced(capture, R"("captureId":"c1",)", "")},
    };
}

// What the Safari extension's script may send, as JSON text.
std::vector<Case> safari_message_cases() {
    std::string payload = json::serialize(json::value(SIMPLE));
    return {
        {"safari_message", "{\"payload\":" + payload + "}"},
        {"safari_message_correlated", "{\"payload\":" + payload + R"(,"requestId":"r-1","captureId":"c-1"})"},
        {"safari_message_correlation_not_text",
         "{\"payload\":" + payload + R"(,"requestId":7,"captureId":null})"},
        {"safari_message_more_keys", "{\"payload\":" + payload + R"(,"later":true})"},
        {"safari_message_payload_not_json", R"({"payload":"hello"})"},
        {"safari_message_payload_empty", R"({"payload":"","requestId":"r-1"})"},
        {"safari_message_payload_number", R"({"payload":5})"},
        {"safari_message_payload_null", R"({"payload":null})"},
        {"safari_message_without_payload", R"({"requestId":"r-1"})"},
        {"safari_message_not_a_dictionary", R"(["payload"])"},
    };
}

// The handler's verdict on a message: whether it would relay it. Without an application-group
// container, a message it relays is answered APP_UNAVAILABLE and one it refuses INVALID_MESSAGE.
std::optional<std::string> safari_reply(const std::string& message, bool& relayed) {
    std::string error;
    std::optional<safari::Value> value = safari::value_from_json(message, error);
    if (!value) return std::nullopt;
    auto context = std::make_shared<safari::RecordingContext>(std::move(*value));
    safari::DirectoryLocator no_container(std::string(safari::APP_GROUP_ID), std::nullopt);
    safari::ThreadQueue queue;
    safari::begin_request(context, safari::RelayServices{no_container, queue, safari::monotonic_clock()});
    queue.drain();
    std::vector<safari::Dictionary> replies = context->replies();
    if (replies.size() != 1) return std::nullopt;
    std::string reply = safari::json_from_dictionary(replies.front());
    relayed = reply.find(safari::code_text(safari::Code::AppUnavailable)) != std::string::npos;
    return reply;
}

void add_safari_cases(std::string& out);

bool is_json(std::string_view body) {
    boost::system::error_code error;
    json::parse(body, error);
    return !error;
}

json::object entry(const std::string& name, const std::string& body, json::array schemas,
                   std::optional<std::string_view> valid_under, std::string_view blind_spot) {
    json::object line;
    line["name"] = name;
    line["body"] = json::array(body.begin(), body.end());  // bytes: not every body is UTF-8
    line["schemas"] = std::move(schemas);
    line["validUnder"] = valid_under ? json::value(*valid_under) : json::value(nullptr);
    line["blindSpot"] = blind_spot.empty() ? json::value(nullptr) : json::value(blind_spot);
    return line;
}

void add_line(std::string& out, const json::object& line) {
    out.append(json::serialize(line)).push_back('\n');
}

// The host's reply to a refused message must match the reply schemas.
void add_reply(std::string& out, const std::string& name, const std::string& reply) {
    std::string_view schema = protocol::decode_capture_response(reply) ? "capture-response" : "host-response";
    add_line(out, entry(name + ":reply", reply, json::array{schema}, schema, {}));
}

void add_browser_case(std::string& out, const Case& message) {
    const json::array requests{"host-request", "capture-request"};
    classification::Classified outcome = classification::classify_any(message.body);
    if (auto* request = std::get_if<classification::Request>(&outcome)) {
        add_line(out, entry(message.name, message.body, requests, "host-request", {}));
        protocol::IpcRequest sent{protocol::SIMPLE_PROTOCOL_VERSION, request->request.request_id,
                                  request->request.url};
        add_line(out, entry(message.name + ":to-application", protocol::to_json(sent),
                            json::array{"ipc-request"}, "ipc-request", {}));
        return;
    }
    if (std::holds_alternative<classification::Capture>(outcome)) {
        add_line(out, entry(message.name, message.body, requests, "capture-request", {}));
        return;
    }
    const std::string& reply = std::get<classification::Reply>(outcome).bytes;
    std::string_view blind_spot = message.blind_spot;
    if (blind_spot.empty()) {
        auto code = protocol::decode_host_response(reply);
        auto capture_code = protocol::decode_capture_response(reply);
        protocol::Code refusal = code ? code->code : capture_code->code;
        if (refusal == protocol::Code::InvalidUrl || refusal == protocol::Code::UnsupportedScheme) {
            blind_spot = "url-policy";
        } else if (!is_json(message.body)) {
            blind_spot = "document";
        }
    }
    add_line(out, entry(message.name, message.body, requests, std::nullopt, blind_spot));
    add_reply(out, message.name, reply);
}

void add_safari_cases(std::string& out) {
    for (const Case& message : safari_message_cases()) {
        bool relayed = false;
        std::optional<std::string> reply = safari_reply(message.body, relayed);
        if (!reply) {
            // Every message gets exactly one reply; an empty body fails every schema check.
            add_line(out,
                     entry(message.name + ":no-reply", {}, json::array{"safari-reply"}, "safari-reply", {}));
            continue;
        }
        add_line(out, entry(message.name, message.body, json::array{"safari-message"},
                            relayed ? std::optional<std::string_view>("safari-message") : std::nullopt, {}));
        add_line(out,
                 entry(message.name + ":reply", *reply, json::array{"safari-reply"}, "safari-reply", {}));
    }
    // Every outcome of an exchange, with and without correlation values.
    const safari::Exchange outcomes[] = {
        safari::Replied{std::string(samples::IPC_RESPONSE)},
        safari::Replied{"\xFF"},
        safari::Unavailable{},
        safari::Indeterminate{safari::Code::DeliveryIndeterminate},
        safari::Indeterminate{safari::Code::InternalError},
    };
    const safari::Correlation correlations[] = {{}, {"r-1", "c-1"}};
    std::size_t number = 0;
    for (const safari::Exchange& outcome : outcomes) {
        for (const safari::Correlation& correlation : correlations) {
            add_line(out, entry("safari_reply_" + std::to_string(++number),
                                safari::json_from_dictionary(safari::reply_for(outcome, correlation)),
                                json::array{"safari-reply"}, "safari-reply", {}));
        }
    }
}

}  // namespace

std::string corpus_lines(const std::filesystem::path& repo) {
    std::string out;
    std::vector<Case> cases = browser_cases();
    auto demo = whole_file::read(repo / "scripts" / "demo-messages.txt", SOURCE_FILE_CEILING);
    std::size_t number = 0;
    if (demo) {
        for (std::string& message : nm_client::read_messages(*demo)) {
            cases.push_back({"demo_" + std::to_string(++number), std::move(message)});
        }
    }
    if (number == 0) return {};  // the demo's messages are part of the corpus: no file, no corpus

    for (const Case& message : cases) add_browser_case(out, message);

    for (const Case& reply : application_reply_cases()) {
        bool capture = reply.name.starts_with("ipc_capture_response");
        bool accepted = capture ? ipc::decode_ipc_capture_response(reply.body).has_value()
                                : ipc::decode_ipc_response(reply.body).has_value();
        std::string_view schema = capture ? "ipc-capture-response" : "ipc-response";
        add_line(out, entry(reply.name, reply.body, json::array{schema},
                            accepted ? std::optional(schema) : std::nullopt, reply.blind_spot));
    }

    add_safari_cases(out);

    // The replies the tests expect of the host.
    for (const std::string& reply : {test::INVALID, test::host_reply("r-1", "accepted", "ACCEPTED"),
                                     test::host_reply("r-4", "rejected", "UNSUPPORTED_SCHEME"),
                                     test::capture_reply("c-9", "prepared", "CAPTURE_PREPARED"),
                                     test::capture_reply("c-2", "unknown", "APP_UNAVAILABLE")}) {
        add_reply(out, "test", reply);
    }

    // Every reply the host can make up for a simple request, and what it sends for captures.
    for (std::size_t position = 0;; ++position) {
        auto code = static_cast<protocol::Code>(position);
        if (protocol::json_text(code).empty()) break;
        add_line(out, entry("host_response_" + std::string(protocol::value_name(code)),
                            protocol::to_json(protocol::make_host_response("r-1", code)),
                            json::array{"host-response"}, "host-response", {}));
    }
    protocol::IpcCaptureRequest bare{};
    bare.request_id = "r1";
    bare.capture_id = "c1";
    bare.action = protocol::CaptureAction::CaptureStatus;
    bare.browser = protocol::BROWSER_UNDECLARED;
    add_line(out, entry("ipc_capture_request_bare", protocol::to_json(bare),
                        json::array{"ipc-capture-request"}, "ipc-capture-request", {}));
    protocol::IpcCaptureRequest full = bare;
    full.action = protocol::CaptureAction::CapturePrepare;
    full.browser = protocol::json_text(protocol::Browser::Firefox);
    full.browser_download_id = 17;
    full.url = "https://example.test/f.zip";
    full.observed = download_core::ObservedResponse{};
    full.observed->mime = "application/zip";
    full.cookies = std::vector<download_core::BrowserCookie>{{"sid", "v", "/", true}};
    full.download_name = "f.zip";
    full.initiator_origin = "https://example.test";
    full.revalidate_response = true;
    add_line(out, entry("ipc_capture_request_full", protocol::to_json(full),
                        json::array{"ipc-capture-request"}, "ipc-capture-request", {}));
    return out;
}

}  // namespace ondrake::protocol_doc
