#include "tools/protocol-doc/schemas.hpp"

#include <boost/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

#include "browser-native-host/messages/message_rules.hpp"
#include "browser-native-host/messages/app_reply_tables.hpp"
#include "browser-native-host/messages/protocol_tables.hpp"
#include "safari-extension/relay.hpp"

namespace ondrake::protocol_doc {

namespace {

namespace json = boost::json;
namespace tables = protocol::tables;
using json_codec::Field;
using json_codec::Schema;
using json_codec::ValueType;

constexpr std::string_view DRAFT = "https://json-schema.org/draft/2020-12/schema";

// The id rule (classification::is_valid_id) as a pattern; ASCII only, so the schema's count of
// characters is the host's count of bytes.
std::string id_pattern() { return "^[A-Za-z0-9_-]{1," + std::to_string(classification::MAX_ID_BYTES) + "}$"; }

// What the tables alone do not say about one member: set per message by the rules below.
struct Extra {
    std::optional<std::uint32_t> version;  // the one protocolVersion accepted
    bool id = false;                       // the id rule
    bool id_or_empty = false;              // the id rule, or the empty string
    std::optional<std::size_t> max_bytes;  // a limit in UTF-8 bytes
    std::optional<std::size_t> min_bytes;
    std::optional<std::size_t> min_items;
    std::optional<std::size_t> max_items;
    bool not_negative = false;
    bool browser_text = false;    // a Browser text or BROWSER_UNDECLARED
    bool normalised_url = false;  // what the URL policy returns
    bool policed_url = false;     // what the URL policy judges
    std::string_view note;        // one more sentence for the description
};

using ExtraFor = Extra (*)(const Schema& table, std::string_view key);

std::string bytes_note(std::size_t bytes) {
    return "At most " + std::to_string(bytes) +
           " bytes of UTF-8: the host counts bytes, maxLength counts characters.";
}

// The checks of classification, by table and key. Only the tables of checked messages (the
// browser's requests and what the host sends on to the application) get them.
Extra checked_member(const Schema& table, std::string_view key) {
    Extra extra;
    const Schema* observed = &tables::OBSERVED;
    const Schema* cookie = &tables::COOKIE;
    if (&table == observed) {
        if (key == "totalBytes") extra.not_negative = true;
        else extra.max_bytes = classification::MAX_OBSERVED_TEXT_BYTES;
        return extra;
    }
    if (&table == cookie) {
        if (key == "name") {
            extra.min_bytes = 1;
            extra.max_bytes = classification::MAX_COOKIE_NAME_BYTES;
        } else if (key == "value") {
            extra.max_bytes = classification::MAX_COOKIE_VALUE_BYTES;
        } else if (key == "path") {
            extra.max_bytes = classification::MAX_COOKIE_PATH_BYTES;
        }
        return extra;
    }
    if (key == "requestId" || key == "captureId") extra.id = true;
    if (key == "cookies") {
        extra.min_items = classification::MIN_COOKIES;
        extra.max_items = classification::MAX_COOKIES;
    }
    if (key == "downloadName") extra.max_bytes = classification::MAX_DOWNLOAD_NAME_BYTES;
    if (key == "initiatorOrigin") extra.max_bytes = classification::MAX_INITIATOR_ORIGIN_BYTES;
    return extra;
}

// The version a request of `table`'s family carries: the simple one for `simple`, else capture.
std::uint32_t version_of(const Schema& table, const Schema& simple) {
    return &table == &simple ? protocol::SIMPLE_PROTOCOL_VERSION : protocol::CAPTURE_PROTOCOL_VERSION;
}

Extra browser_request_member(const Schema& table, std::string_view key) {
    Extra extra = checked_member(table, key);
    if (key == "url") extra.policed_url = true;
    if (key == "protocolVersion") extra.version = version_of(table, tables::HOST_REQUEST);
    return extra;
}

Extra application_request_member(const Schema& table, std::string_view key) {
    Extra extra = checked_member(table, key);
    if (key == "url") extra.normalised_url = true;
    if (key == "browser") extra.browser_text = true;
    if (key == "protocolVersion") extra.version = version_of(table, tables::IPC_REQUEST);
    return extra;
}

Extra host_reply_member(const Schema& table, std::string_view key) {
    Extra extra;
    if (key == "protocolVersion") extra.version = version_of(table, tables::HOST_RESPONSE);
    if (&table == &tables::HOST_RESPONSE && key == "requestId") {
        extra.id_or_empty = true;
        extra.note = "The empty string when the message had no usable requestId.";
    }
    if (&table == &tables::CAPTURE_RESPONSE && (key == "requestId" || key == "captureId")) {
        extra.note =
            "Usually a valid id or the empty string; a capture refused for its "
            "protocolVersion gets its ids back exactly as it sent them.";
    }
    if (&table == &tables::CAPTURE_RESPONSE && key == "preflight") {
        extra.note = "Reserved: the host never writes it today.";
    }
    return extra;
}

Extra application_reply_member(const Schema&, std::string_view key) {
    Extra extra;
    if (key == "protocolVersion") extra.note = "Read but not compared with anything.";
    if (key == "requestId" || key == "captureId") {
        extra.note =
            "Must equal the request's, byte for byte, or the host counts the reply as "
            "no answer (DELIVERY_INDETERMINATE).";
    }
    if (key == "preflight") extra.note = "Decoded and checked, then dropped by the host.";
    return extra;
}

json::array enum_texts(std::string_view (*text_at)(std::size_t)) {
    json::array texts;
    for (std::size_t position = 0;; ++position) {
        std::string_view text = text_at(position);
        if (text.empty()) break;
        texts.emplace_back(text);
    }
    return texts;
}

template <class Enum>
std::string_view text_at(std::size_t position) {
    return protocol::json_text(static_cast<Enum>(position));
}

json::value type_of(std::string_view type, bool nullable) {
    if (!nullable) return json::value(type);
    return json::array{type, "null"};
}

json::object record_schema(const Schema& table, ExtraFor extra_for);

void append_sentence(std::string& text, std::string_view sentence) {
    if (sentence.empty()) return;
    if (!text.empty()) text.push_back(' ');
    text.append(sentence);
}

json::object member_schema(const Schema& table, const Field& field, ExtraFor extra_for) {
    const json_codec::ValueInfo& info = *field.value;
    Extra extra = extra_for(table, field.key);
    json::object member;
    std::string description;
    switch (info.type) {
        case ValueType::String:
            if (extra.browser_text) {
                json::array texts = enum_texts(&text_at<protocol::Browser>);
                texts.emplace_back(protocol::BROWSER_UNDECLARED);
                member["enum"] = texts;
                description = "The browser the request named, or \"" +
                              std::string(protocol::BROWSER_UNDECLARED) + "\" when it named none.";
                break;
            }
            member["type"] = type_of("string", field.nullable);
            if (extra.id) member["pattern"] = id_pattern();
            if (extra.id_or_empty)
                member["pattern"] =
                    "^([A-Za-z0-9_-]{1," + std::to_string(classification::MAX_ID_BYTES) + "})?$";
            if (extra.min_bytes) member["minLength"] = *extra.min_bytes;
            if (extra.max_bytes) {
                member["maxLength"] = *extra.max_bytes;
                append_sentence(description, bytes_note(*extra.max_bytes));
            }
            if (extra.normalised_url) {
                member["pattern"] = "^https?://";
                append_sentence(description, "The URL as the host accepted and normalised it.");
            }
            if (extra.policed_url) {
                append_sentence(description,
                                "Must pass the URL policy (an absolute http or https URL with a "
                                "host and no credentials), which no schema expresses.");
            }
            break;
        case ValueType::Integer:
            member["type"] = type_of("integer", field.nullable);
            if (extra.version) {
                member["const"] = *extra.version;
            } else {
                member["minimum"] = extra.not_negative ? 0 : info.minimum;
                member["maximum"] = info.maximum;
            }
            break;
        case ValueType::Boolean: member["type"] = type_of("boolean", field.nullable); break;
        case ValueType::Enumeration: {
            json::array texts = enum_texts(info.enum_text);
            if (field.nullable) texts.emplace_back(nullptr);
            member["enum"] = texts;
            break;
        }
        case ValueType::Record: {
            json::object nested = record_schema(*field.nested, extra_for);
            if (field.nullable) nested["type"] = json::array{"object", "null"};
            member = std::move(nested);
            break;
        }
        case ValueType::List: {
            member["type"] = type_of("array", field.nullable);
            member["items"] = record_schema(*field.nested, extra_for);
            if (extra.min_items) member["minItems"] = *extra.min_items;
            if (extra.max_items) member["maxItems"] = *extra.max_items;
            break;
        }
    }
    append_sentence(description, extra.note);
    if (!description.empty()) {
        json::object described;
        described["description"] = description;
        for (auto& entry : member) described[entry.key()] = entry.value();
        return described;
    }
    return member;
}

json::object record_schema(const Schema& table, ExtraFor extra_for) {
    json::object schema;
    schema["type"] = "object";
    json::object properties;
    json::array required;
    for (const Field& field : table.fields) {
        properties[field.key] = member_schema(table, field, extra_for);
        // What the host writes with every key present is, to its reader, a record of required
        // (possibly null) members.
        bool written = extra_for == application_request_member &&
                       table.absent_members == json_codec::AbsentMembers::WriteNull;
        if (field.presence == json_codec::Presence::Required || written) {
            required.emplace_back(field.key);
        }
    }
    schema["properties"] = std::move(properties);
    if (!required.empty()) schema["required"] = std::move(required);
    // Skipped keys need no word: JSON Schema allows unknown members by default.
    if (table.unknown_keys == json_codec::UnknownKeys::Reject) schema["additionalProperties"] = false;
    return schema;
}

// The per-action rules of classification as conditions on "url", "cookies" and "observed".
// `absent` is what a member the action forbids may be: missing or null in a browser request,
// null (the key is always written) in what goes to the application.
json::array action_conditions() {
    json::array conditions;
    for (const classification::ActionRule& rule : classification::ACTION_RULES) {
        json::object then_properties;
        json::array required;
        if (rule.url_required) {
            then_properties["url"] = json::object{{"type", "string"}};
            required.emplace_back("url");
        } else {
            then_properties["url"] = json::object{{"type", "null"}};
        }
        if (!rule.cookies_allowed) then_properties["cookies"] = json::object{{"type", "null"}};
        if (!rule.observed_allowed) then_properties["observed"] = json::object{{"type", "null"}};
        json::object then_schema{{"properties", std::move(then_properties)}};
        if (!required.empty()) then_schema["required"] = std::move(required);
        conditions.emplace_back(json::object{
            {"if", json::object{{"properties",
                                 json::object{
                                     {"action", json::object{{"const", protocol::json_text(rule.action)}}}}},
                                {"required", json::array{"action"}}}},
            {"then", std::move(then_schema)},
        });
    }
    return conditions;
}

// status_for as conditions: the status a HostResponse carries for each group of codes.
json::array status_conditions() {
    json::array conditions;
    for (std::size_t status = 0;; ++status) {
        std::string_view status_text = protocol::json_text(static_cast<protocol::Status>(status));
        if (status_text.empty()) break;
        json::array codes;
        for (std::size_t code = 0;; ++code) {
            auto value = static_cast<protocol::Code>(code);
            if (protocol::json_text(value).empty()) break;
            if (protocol::status_for(value) == static_cast<protocol::Status>(status)) {
                codes.emplace_back(protocol::json_text(value));
            }
        }
        conditions.emplace_back(json::object{
            {"if", json::object{{"properties", json::object{{"code", json::object{{"enum", codes}}}}},
                                {"required", json::array{"code"}}}},
            {"then",
             json::object{{"properties", json::object{{"status", json::object{{"const", status_text}}}}}}},
        });
    }
    return conditions;
}

std::string spots_sentence(std::initializer_list<std::string_view> keys) {
    std::string text = "Beyond this schema the host also checks:";
    for (std::string_view key : keys) {
        for (const BlindSpot& spot : blind_spots()) {
            if (spot.key == key) text.append(" (").append(spot.key).append(") ").append(spot.text);
        }
    }
    return text;
}

MessageSchema message(std::string name, std::string title, std::string description, json::object body) {
    json::object schema;
    schema["$schema"] = DRAFT;
    schema["title"] = title;
    schema["description"] = description;
    for (auto& entry : body) schema[entry.key()] = entry.value();
    return MessageSchema{std::move(name), std::move(title), json::value(std::move(schema))};
}

json::object safari_message() {
    json::object properties;
    properties["payload"] = json::object{
        {"description",
         "The request text (a simple or capture request as JSON text), passed to the application "
         "unchanged. Its UTF-8 form must not be empty."},
        {"type", "string"},
        {"minLength", 1}};
    properties["requestId"] =
        json::object{{"description", "Echoed in the handler's own failure documents when it is a string."}};
    properties["captureId"] =
        json::object{{"description", "Echoed in the handler's own failure documents when it is a string."}};
    return json::object{
        {"type", "object"}, {"properties", std::move(properties)}, {"required", json::array{"payload"}}};
}

json::object safari_reply() {
    json::array statuses{safari::status_text(safari::Status::Unknown),
                         safari::status_text(safari::Status::Indeterminate)};
    json::array codes;
    for (safari::Code code : {safari::Code::InvalidMessage, safari::Code::AppUnavailable,
                              safari::Code::DeliveryIndeterminate, safari::Code::InternalError}) {
        codes.emplace_back(safari::code_text(code));
    }
    json::object relayed{{"description", "The application's reply text, exactly as it came."},
                         {"type", "object"},
                         {"properties", json::object{{"payload", json::object{{"type", "string"}}}}},
                         {"required", json::array{"payload"}},
                         {"additionalProperties", false}};
    json::object failure{{"description", "The handler's own failure document."},
                         {"type", "object"},
                         {"properties", json::object{{"status", json::object{{"enum", statuses}}},
                                                     {"code", json::object{{"enum", codes}}},
                                                     {"requestId", json::object{{"type", "string"}}},
                                                     {"captureId", json::object{{"type", "string"}}}}},
                         {"required", json::array{"status", "code"}},
                         {"additionalProperties", false}};
    return json::object{{"oneOf", json::array{std::move(relayed), std::move(failure)}}};
}

}  // namespace

const std::vector<BlindSpot>& blind_spots() {
    static const std::vector<BlindSpot> spots = {
        {"document",
         "The body is exactly one JSON document in UTF-8: only space, tab, line feed and carriage "
         "return may surround it (no byte-order mark, nothing after it), and arrays and objects "
         "nest at most " +
             std::to_string(json_codec::MAX_NESTING) +
             " deep, skipped members "
             "included."},
        {"duplicate-keys",
         "A key that a message lists may occur only once in its object; JSON parsers keep one of "
         "the two and a schema never sees the other."},
        {"integer-form",
         "Integers are written without fraction or exponent: 4.0 and 4e0 are refused where a "
         "schema's \"integer\" accepts them."},
        {"integer-range",
         "64-bit ranges are exact: 9223372036854775808 is refused, while validators that hold "
         "numbers as doubles cannot tell it from 9223372036854775807."},
        {"unicode",
         "Strings are well-formed Unicode: valid UTF-8 bytes and no \\u escape of a lone "
         "surrogate, which JSON parsers let through."},
        {"utf8-bytes",
         "Length limits count UTF-8 bytes, where maxLength counts characters: a text of "
         "non-ASCII characters can be under maxLength and still over the host's limit."},
        {"url-policy",
         "The url must pass the URL policy: parsed by the WHATWG URL Standard after white space "
         "is trimmed, scheme http or https, a non-empty host, no user name and no password."},
    };
    return spots;
}

std::vector<MessageSchema> message_schemas() {
    std::vector<MessageSchema> schemas;
    std::string browser_spots = spots_sentence({"document", "duplicate-keys", "integer-form", "integer-range",
                                                "unicode", "utf8-bytes", "url-policy"});
    std::string decoder_spots =
        spots_sentence({"document", "duplicate-keys", "integer-form", "integer-range", "unicode"});

    json::object host_request = record_schema(tables::HOST_REQUEST, browser_request_member);
    schemas.push_back(message("host-request", "Simple request (browser to host)",
                              "A download of one URL the user chose from the context menu. " + browser_spots,
                              std::move(host_request)));

    json::object capture_request = record_schema(tables::CAPTURE_REQUEST, browser_request_member);
    capture_request["allOf"] = action_conditions();
    schemas.push_back(message("capture-request", "Capture request (browser to host)",
                              "One step of handing a download the browser started over to the "
                              "application. " +
                                  browser_spots,
                              std::move(capture_request)));

    json::object host_response = record_schema(tables::HOST_RESPONSE, host_reply_member);
    host_response["allOf"] = status_conditions();
    schemas.push_back(message("host-response", "Reply to a simple request (host to browser)",
                              "The one reply to a simple request, and to any message that is not "
                              "handled as a capture. The status follows from the code.",
                              std::move(host_response)));

    schemas.push_back(message("capture-response", "Reply to a capture request (host to browser)",
                              "The one reply to a capture request.",
                              record_schema(tables::CAPTURE_RESPONSE, host_reply_member)));

    schemas.push_back(message("ipc-request", "Simple request (host to application)",
                              "What the application receives for an accepted simple request.",
                              record_schema(tables::IPC_REQUEST, application_request_member)));

    json::object ipc_capture = record_schema(tables::IPC_CAPTURE_REQUEST, application_request_member);
    ipc_capture["allOf"] = action_conditions();
    schemas.push_back(message("ipc-capture-request", "Capture request (host to application)",
                              "What the application receives for an accepted capture step: every "
                              "key is present, absent values are null.",
                              std::move(ipc_capture)));

    schemas.push_back(message("ipc-response", "Reply to a simple request (application to host)",
                              "The application's answer to an ipc-request. " + decoder_spots,
                              record_schema(ipc::tables::IPC_RESPONSE, application_reply_member)));

    schemas.push_back(message("ipc-capture-response", "Reply to a capture request (application to host)",
                              "The application's answer to an ipc-capture-request. " + decoder_spots,
                              record_schema(ipc::tables::IPC_CAPTURE_RESPONSE, application_reply_member)));

    schemas.push_back(message("safari-message", "Safari message (extension script to handler)",
                              "The dictionary the Safari extension's script sends to the native "
                              "handler. The handler does not look into the payload.",
                              safari_message()));
    schemas.push_back(message("safari-reply", "Safari reply (handler to extension script)",
                              "The dictionary the Safari handler answers with: the application's "
                              "reply text, or the handler's own failure document.",
                              safari_reply()));
    return schemas;
}

namespace {

void write_pretty(std::string& out, const json::value& value, int depth) {
    auto indent = [&](int level) { out.append(static_cast<std::size_t>(level) * 2, ' '); };
    if (value.is_object()) {
        const json::object& object = value.get_object();
        if (object.empty()) {
            out.append("{}");
            return;
        }
        out.append("{\n");
        std::size_t i = 0;
        for (const auto& entry : object) {
            indent(depth + 1);
            out.append(json::serialize(json::value(entry.key()))).append(": ");
            write_pretty(out, entry.value(), depth + 1);
            out.append(++i < object.size() ? ",\n" : "\n");
        }
        indent(depth);
        out.push_back('}');
    } else if (value.is_array()) {
        const json::array& array = value.get_array();
        bool scalars = true;
        for (const auto& element : array) scalars = scalars && !element.is_structured();
        if (scalars) {
            out.append(json::serialize(value));
            return;
        }
        out.append("[\n");
        for (std::size_t i = 0; i < array.size(); ++i) {
            indent(depth + 1);
            write_pretty(out, array[i], depth + 1);
            out.append(i + 1 < array.size() ? ",\n" : "\n");
        }
        indent(depth);
        out.push_back(']');
    } else {
        out.append(json::serialize(value));
    }
}

}  // namespace

std::string pretty_json(const json::value& value) {
    std::string out;
    write_pretty(out, value, 0);
    out.push_back('\n');
    return out;
}

}  // namespace ondrake::protocol_doc
