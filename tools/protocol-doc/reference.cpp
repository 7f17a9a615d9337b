#include "tools/protocol-doc/reference.hpp"

#include <boost/json.hpp>

#include <cstdint>
#include <string_view>

#include "browser-native-host/messages/message_rules.hpp"
#include "browser-native-host/link/delivery.hpp"
#include "browser-native-host/messages/framing.hpp"
#include "browser-native-host/messages/protocol.hpp"
#include "safari-extension/relay.hpp"
#include "tools/protocol-doc/guidance.hpp"

namespace ondrake::protocol_doc {

namespace {

namespace json = boost::json;

std::string code_span(std::string_view text) { return "`" + std::string(text) + "`"; }

std::string number(const json::value& value) {
    if (value.is_int64()) return std::to_string(value.as_int64());
    if (value.is_uint64()) return std::to_string(value.as_uint64());
    return json::serialize(value);
}

std::string type_text(const json::object& property) {
    if (const json::value* constant = property.if_contains("const")) {
        return "integer, always " + number(*constant);
    }
    if (const json::value* texts = property.if_contains("enum")) {
        std::string text = "one of ";
        bool null = false;
        bool first = true;
        for (const json::value& entry : texts->as_array()) {
            if (entry.is_null()) {
                null = true;
                continue;
            }
            if (!first) text.append(", ");
            first = false;
            text.append(code_span(json::serialize(entry)));
        }
        if (null) text.append(", or null");
        return text;
    }
    const json::value* type = property.if_contains("type");
    if (!type) return "any";
    if (type->is_string()) return std::string(type->as_string());
    std::string text;
    for (const json::value& entry : type->as_array()) {
        if (!text.empty()) text.append(" or ");
        text.append(entry.as_string());
    }
    return text;
}

std::string rule_text(const json::object& property) {
    std::vector<std::string> rules;
    if (const json::value* pattern = property.if_contains("pattern")) {
        std::string_view text = pattern->as_string();
        if (text.starts_with("^(")) {
            rules.push_back("an id, or empty");
        } else if (text.starts_with("^[")) {
            rules.push_back("an id: 1 to " + std::to_string(classification::MAX_ID_BYTES) +
                            " ASCII letters, digits, `-` and `_`");
        } else {
            rules.push_back("matches " + code_span(text));
        }
    }
    const json::value* min_length = property.if_contains("minLength");
    if (const json::value* max_length = property.if_contains("maxLength")) {
        rules.push_back((min_length ? number(*min_length) + " to " : "at most ") + number(*max_length) +
                        " bytes (UTF-8)");
    } else if (min_length) {
        rules.push_back("not empty");
    }
    if (const json::value* max_items = property.if_contains("maxItems")) {
        const json::value* min_items = property.if_contains("minItems");
        rules.push_back((min_items ? number(*min_items) : std::string("0")) + " to " + number(*max_items) +
                        " entries");
    }
    if (const json::value* minimum = property.if_contains("minimum")) {
        rules.push_back(number(*minimum) + " to " + number(property.at("maximum")));
    }
    if (property.contains("properties")) {
        rules.push_back(property.contains("additionalProperties") ? "keys not listed below are refused"
                                                                  : "keys not listed below are skipped");
    }
    std::string text;
    for (const std::string& rule : rules) {
        if (!text.empty()) text.append("; ");
        text.append(rule);
    }
    if (const json::value* description = property.if_contains("description")) {
        std::string_view sentence = description->as_string();
        // The byte-count sentence repeats the rule column.
        if (!sentence.starts_with("At most ")) {
            if (!text.empty()) text.append(". ");
            text.append(sentence);
        }
    }
    return text.empty() ? "-" : text;
}

void field_rows(std::string& out, const json::object& schema, const std::string& prefix) {
    const json::object& properties = schema.at("properties").as_object();
    std::vector<std::string_view> required;
    if (const json::value* list = schema.if_contains("required")) {
        for (const json::value& key : list->as_array()) required.push_back(key.as_string());
    }
    for (const auto& entry : properties) {
        const json::object& property = entry.value().as_object();
        std::string key = prefix + std::string(entry.key());
        bool is_required = std::find(required.begin(), required.end(), entry.key()) != required.end();
        out.append("| ").append(code_span(key)).append(" | ").append(type_text(property));
        out.append(" | ").append(is_required ? "yes" : "no").append(" | ");
        out.append(rule_text(property)).append(" |\n");
        if (property.contains("properties")) field_rows(out, property, key + ".");
        if (const json::value* items = property.if_contains("items")) {
            field_rows(out, items->as_object(), key + "[].");
        }
    }
}

std::string field_table(const MessageSchema& message) {
    const json::object& schema = message.schema.as_object();
    std::string out = "| Key | Type | Required | Rule |\n|---|---|---|---|\n";
    field_rows(out, schema, "");
    out.append("\n");
    bool closed = schema.contains("additionalProperties");
    out.append(closed ? "Keys not listed here make the message invalid" : "Keys not listed here are skipped");
    out.append(". JSON Schema: [`schema/" + message.name + ".schema.json`](schema/" + message.name +
               ".schema.json).\n");
    return out;
}

template <class Enum>
std::vector<Enum> all_values() {
    std::vector<Enum> values;
    for (std::size_t position = 0;; ++position) {
        auto value = static_cast<Enum>(position);
        if (protocol::json_text(value).empty()) break;
        values.push_back(value);
    }
    return values;
}

template <class Enum>
std::string texts_of() {
    std::string text;
    for (Enum value : all_values<Enum>()) {
        if (!text.empty()) text.append(", ");
        text.append(code_span("\"" + std::string(protocol::json_text(value)) + "\""));
    }
    return text;
}

std::string enumerations() {
    std::string out = "| Member | Texts |\n|---|---|\n";
    out.append("| simple `action` | " + texts_of<protocol::Action>() + " |\n");
    out.append("| simple `source` | " + texts_of<protocol::Source>() + " |\n");
    out.append("| capture `source` | " + texts_of<protocol::CaptureSource>() + " |\n");
    out.append("| `browser` | " + texts_of<protocol::Browser>() + " |\n");
    out.append("| capture `action` | " + texts_of<protocol::CaptureAction>() + " |\n");
    out.append("| simple reply `status` | " + texts_of<protocol::Status>() + " |\n");
    out.append("| capture reply `status` | " + texts_of<protocol::CaptureStatus>() + " |\n");
    out.append(
        "\nTexts are case-sensitive; any other text makes the message invalid. `\"unknown\"` "
        "is an ordinary browser, for an extension that cannot tell where it runs.\n");
    return out;
}

std::string codes() {
    std::string out = "| Code | Status in a simple reply | Name in the host's log |\n|---|---|---|\n";
    for (protocol::Code code : all_values<protocol::Code>()) {
        out.append("| " + code_span(protocol::json_text(code)) + " | " +
                   code_span(protocol::json_text(protocol::status_for(code))) + " | " +
                   code_span(protocol::value_name(code)) + " |\n");
    }
    return out;
}

std::string action_rules() {
    std::string out = "| Action | `url` | `cookies` | `observed` |\n|---|---|---|---|\n";
    for (const classification::ActionRule& rule : classification::ACTION_RULES) {
        out.append("| " + code_span(protocol::json_text(rule.action)) + " | ");
        out.append(rule.url_required ? "required, checked by the URL policy" : "absent or null");
        out.append(" | ").append(rule.cookies_allowed ? "allowed" : "absent or null");
        out.append(" | ").append(rule.observed_allowed ? "allowed" : "absent or null");
        out.append(" |\n");
    }
    return out;
}

std::string limits() {
    auto row = [](std::string_view what, std::string rule) {
        return "| " + std::string(what) + " | " + rule + " |\n";
    };
    auto bytes = [](std::size_t n) { return "at most " + std::to_string(n) + " bytes"; };
    std::string out = "| What | Limit |\n|---|---|\n";
    out.append(row("a frame body, either direction, also on the application socket",
                   "1 to " + std::to_string(framing::MAX_FRAME) + " bytes"));
    out.append(row("`requestId`, `captureId`", "1 to " + std::to_string(classification::MAX_ID_BYTES) +
                                                   " bytes, each an ASCII letter, digit, `-` or `_`"));
    out.append(row("`observed.finalUrl`, `observed.mime`, `observed.etag`",
                   bytes(classification::MAX_OBSERVED_TEXT_BYTES)));
    out.append(row("`observed.totalBytes`", "not negative"));
    out.append(row("`cookies`", std::to_string(classification::MIN_COOKIES) + " to " +
                                    std::to_string(classification::MAX_COOKIES) +
                                    " entries (an empty list is refused)"));
    out.append(
        row("`cookies[].name`", "1 to " + std::to_string(classification::MAX_COOKIE_NAME_BYTES) + " bytes"));
    out.append(row("`cookies[].value`", bytes(classification::MAX_COOKIE_VALUE_BYTES)));
    out.append(row("`cookies[].path`", bytes(classification::MAX_COOKIE_PATH_BYTES)));
    out.append(row("`downloadName`", bytes(classification::MAX_DOWNLOAD_NAME_BYTES)));
    out.append(row("`initiatorOrigin`", bytes(classification::MAX_INITIATOR_ORIGIN_BYTES)));
    out.append("\nLengths are UTF-8 bytes, not characters: `\"é\"` counts 2.\n");
    return out;
}

std::string frame_errors() {
    using framing::FrameError;
    std::string out = "| What arrived | The host's log line (standard error) | Reply |\n|---|---|---|\n";
    auto row = [&](std::string_view what, std::string_view line, std::string_view reply) {
        out.append("| " + std::string(what) + " | " + std::string(line) + " | " + std::string(reply) +
                   " |\n");
    };
    auto logged = [](const FrameError& error) {
        return "`ondrake-native-host: " + framing::display_text(error) + "`";
    };
    std::string invalid =
        "`" + protocol::to_json(protocol::make_host_response({}, protocol::Code::InvalidMessage)) +
        "`, then the host exits 0";
    // The clean end of the input is how every session ends: the host says nothing about it.
    row("input ended cleanly between frames", "none", "none, the host exits 0");
    row("input ended inside the length or the body", logged(FrameError::truncated()), invalid);
    row("a length of 0", logged(FrameError::empty()), invalid);
    row("a length over the limit (here 70000)", logged(FrameError::too_large(70000)), invalid);
    row("a read error", logged(FrameError::io({})), invalid);
    return out;
}

std::string milliseconds(std::chrono::milliseconds value) { return std::to_string(value.count()) + " ms"; }

std::string timing() {
    std::string out = "| What | Value |\n|---|---|\n";
    out.append("| connecting, per attempt | " + milliseconds(delivery::CONNECT_TIMEOUT) + " |\n");
    out.append("| writing the request, per attempt | " + milliseconds(delivery::WRITE_TIMEOUT) + " |\n");
    out.append("| the whole reply frame, from the end of the request's write | " +
               milliseconds(delivery::REPLY_TIMEOUT) + " |\n");
    std::string waits;
    std::chrono::milliseconds total{0};
    for (std::chrono::milliseconds wait : delivery::RETRY_DELAYS_MS) {
        if (!waits.empty()) waits.append(", ");
        waits.append(std::to_string(wait.count()));
        total += wait;
    }
    out.append("| waits after starting the application, one before each further attempt | " + waits +
               " ms (" + milliseconds(total) + " in all) |\n");
    out.append("| attempts per request, at most | " + std::to_string(delivery::RETRY_DELAYS_MS.size() + 1) +
               " connections, 1 start |\n");
    return out;
}

std::string safari_constants() {
    std::string out = "| What | Value |\n|---|---|\n";
    out.append("| application group | " + code_span(safari::APP_GROUP_ID) + " |\n");
    out.append("| socket, inside the group's container | " + code_span(safari::SOCKET_SUBPATH) + " |\n");
    out.append("| longest socket path | " + std::to_string(safari::MAX_SOCKET_PATH) + " bytes |\n");
    out.append("| time for the whole exchange | " +
               std::to_string(
                   std::chrono::duration_cast<std::chrono::milliseconds>(safari::EXCHANGE_BUDGET).count()) +
               " ms |\n");
    out.append("| largest reply body | " + std::to_string(safari::MAX_FRAME) + " bytes |\n");
    return out;
}

template <class Rows>
std::string guidance_table(const Rows& rows) {
    std::string out = "| Status | Meaning | What to do | `retrySafe` |\n|---|---|---|---|\n";
    for (const auto& row : rows) {
        out.append("| " + code_span(protocol::json_text(row.value)) + " | " + std::string(row.meaning) +
                   " | " + std::string(row.action) + " | " + (row.retry_safe ? "true" : "false") + " |\n");
    }
    return out;
}

std::string blind_spot_list() {
    std::string out;
    for (const BlindSpot& spot : blind_spots()) {
        out.append("- **" + std::string(spot.key) + "**: " + spot.text + "\n");
    }
    return out;
}

std::string schema_list(const std::vector<MessageSchema>& schemas) {
    std::string out = "| File | Message |\n|---|---|\n";
    for (const MessageSchema& message : schemas) {
        out.append("| [`schema/" + message.name + ".schema.json`](schema/" + message.name +
                   ".schema.json) | " + message.title + " |\n");
    }
    return out;
}

}  // namespace

std::map<std::string, std::string> reference_regions(const std::vector<MessageSchema>& schemas) {
    std::map<std::string, std::string> regions;
    for (const MessageSchema& message : schemas) {
        if (message.schema.as_object().contains("properties")) {
            regions["fields:" + message.name] = field_table(message);
        }
    }
    regions["enumerations"] = enumerations();
    regions["codes"] = codes();
    regions["action-rules"] = action_rules();
    regions["limits"] = limits();
    regions["frame-errors"] = frame_errors();
    regions["statuses:simple"] = guidance_table(SIMPLE_GUIDANCE);
    regions["statuses:capture"] = guidance_table(CAPTURE_GUIDANCE);
    regions["timing"] = timing();
    regions["safari-constants"] = safari_constants();
    regions["blind-spots"] = blind_spot_list();
    regions["schemas"] = schema_list(schemas);
    return regions;
}

bool fill_regions(const std::string& document, const std::map<std::string, std::string>& regions,
                  std::string& filled, std::string& error) {
    constexpr std::string_view OPEN = "<!-- generated: ";
    constexpr std::string_view END = "<!-- end -->";
    filled.clear();
    std::size_t at = 0;
    while (true) {
        std::size_t open = document.find(OPEN, at);
        if (open == std::string::npos) break;
        std::size_t name_end = document.find(" -->", open);
        std::size_t line_end = document.find('\n', open);
        if (name_end == std::string::npos || line_end == std::string::npos) {
            error = "an unfinished generated marker";
            return false;
        }
        std::string name = document.substr(open + OPEN.size(), name_end - open - OPEN.size());
        std::size_t end = document.find(END, line_end);
        if (end == std::string::npos) {
            error = "the region " + name + " has no " + std::string(END);
            return false;
        }
        auto region = regions.find(name);
        if (region == regions.end()) {
            error = "no generated text is called " + name;
            return false;
        }
        filled.append(document, at, line_end + 1 - at);
        filled.append(region->second);
        at = end;
    }
    filled.append(document, at, std::string::npos);
    return true;
}

}  // namespace ondrake::protocol_doc
