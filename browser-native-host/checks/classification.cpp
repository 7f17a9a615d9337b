#include "browser-native-host/checks/classification.hpp"

#include <array>
#include <cstddef>
#include <utility>

#include "browser-native-host/messages/message_rules.hpp"
#include "browser-native-host/checks/url_policy.hpp"

namespace ondrake::classification {

namespace {

using download_core::BrowserCookie;
using download_core::ObservedResponse;
using protocol::BrowserMessage;
using protocol::CaptureAction;
using protocol::CaptureRequest;
using protocol::CaptureStatus;
using protocol::Code;
using protocol::Envelope;
using protocol::IpcCaptureRequest;
using url_policy::UrlRejection;

Code code_for(UrlRejection rejection) {
    return rejection == UrlRejection::SchemeNotAllowed ? Code::UnsupportedScheme : Code::InvalidUrl;
}

// An absent text reads as empty: every rule here treats the two alike.
std::string_view text_or_empty(const std::optional<std::string>& text) {
    return text ? std::string_view(*text) : std::string_view();
}

std::string valid_id_or_empty(std::string id) { return is_valid_id(id) ? std::move(id) : std::string(); }

bool at_most(const std::optional<std::string>& text, std::size_t max_bytes) {
    return !text || text->size() <= max_bytes;
}

bool observed_within_limits(const ObservedResponse& observed) {
    return at_most(observed.final_url, MAX_OBSERVED_TEXT_BYTES) &&
           at_most(observed.mime, MAX_OBSERVED_TEXT_BYTES) &&
           at_most(observed.etag, MAX_OBSERVED_TEXT_BYTES) &&
           (!observed.total_bytes || *observed.total_bytes >= 0);
}

bool cookie_within_limits(const BrowserCookie& cookie) {
    return !cookie.name.empty() && cookie.name.size() <= MAX_COOKIE_NAME_BYTES &&
           cookie.value.size() <= MAX_COOKIE_VALUE_BYTES && cookie.path.size() <= MAX_COOKIE_PATH_BYTES;
}

bool cookies_within_limits(const std::vector<BrowserCookie>& cookies) {
    if (cookies.size() < MIN_COOKIES || cookies.size() > MAX_COOKIES) return false;
    for (const BrowserCookie& cookie : cookies) {
        if (!cookie_within_limits(cookie)) return false;
    }
    return true;
}

bool within_limits(const IpcCaptureRequest& request) {
    return (!request.observed || observed_within_limits(*request.observed)) &&
           (!request.cookies || cookies_within_limits(*request.cookies)) &&
           at_most(request.download_name, MAX_DOWNLOAD_NAME_BYTES) &&
           at_most(request.initiator_origin, MAX_INITIATOR_ORIGIN_BYTES);
}

const ActionRule* rule_for(CaptureAction action) { return enum_table::row_of(ACTION_RULES, action); }

bool allowed_combination(const IpcCaptureRequest& request, const ActionRule& rule) {
    return (rule.cookies_allowed || !request.cookies) && (rule.observed_allowed || !request.observed);
}

// Every check below ends in the outcome classify_any gives, built where it is decided: a
// refusal is encoded at once, and an accepted request is moved into its outcome only once.

// ---- Simple requests ----------------------------------------------------------------------

Reply refused(std::string request_id, Code code) {
    return Reply{protocol::to_json(protocol::make_host_response(std::move(request_id), code))};
}

// The refusal that the version and the id alone decide, if any. `request_id` is taken only
// for a refusal; otherwise it is the id the reply echoes.
std::optional<Reply> version_or_id_refusal(std::optional<std::uint32_t> version, std::string& request_id) {
    bool valid_id = is_valid_id(request_id);
    // The version is judged first, so that an extension speaking another version learns that
    // even when its ids do not follow our rule.
    if (version != protocol::SIMPLE_PROTOCOL_VERSION) {
        return refused(valid_id ? std::move(request_id) : std::string(), Code::UnsupportedProtocolVersion);
    }
    if (!valid_id) return refused({}, Code::InvalidMessage);
    return std::nullopt;
}

// An accepted simple request, built in the outcome that is returned: every move of a short id
// copies its bytes, so its members are moved only once.
Classified accepted(std::string& request_id, std::string& url) {
    Classified outcome(std::in_place_type<Request>);
    ValidatedRequest& validated = std::get_if<Request>(&outcome)->request;
    validated.request_id = std::move(request_id);
    validated.url = std::move(url);
    return outcome;
}

// Checks a body that is answered in the simple form. A reply must echo the request's id, so the
// id and the version are taken from the strict reading when the body decoded as a simple request,
// and otherwise from the lenient envelope, the only reading a refused body still has.
Classified check_request(BrowserMessage& message) {
    if (auto& request = message.host_request) {
        // The usual request passes both checks; only another one pays for building a refusal.
        if (request->protocol_version != protocol::SIMPLE_PROTOCOL_VERSION ||
            !is_valid_id(request->request_id)) {
            if (auto reply = version_or_id_refusal(request->protocol_version, request->request_id)) {
                return std::move(*reply);
            }
        }
        auto url = url_policy::sanitize(request->url);
        if (!url) return refused(std::move(request->request_id), code_for(url.error()));
        return accepted(request->request_id, request->url);
    }
    std::optional<Envelope> envelope = message.envelope();
    if (!envelope) return refused({}, Code::InvalidMessage);
    std::string request_id(text_or_empty(envelope->request_id));
    if (auto reply = version_or_id_refusal(envelope->protocol_version, request_id)) return std::move(*reply);
    return refused(std::move(request_id), Code::InvalidMessage);
}

// ---- Capture requests ---------------------------------------------------------------------

Reply refused(std::string request_id, std::string capture_id, Code code) {
    return Reply{protocol::to_json(protocol::make_capture_response(
        std::move(request_id), std::move(capture_id), CaptureStatus::Unknown, code))};
}

// A capture request that decoded strictly. Its message becomes the validated capture: only the
// url and the browser text change on the way.
Classified check_capture(CaptureRequest& request) {
    IpcCaptureRequest& message = request.message;
    // Echoed exactly as received: the extension matches the reply to its request by them.
    if (request.protocol_version != protocol::CAPTURE_PROTOCOL_VERSION) {
        return refused(std::move(message.request_id), std::move(message.capture_id),
                       Code::UnsupportedProtocolVersion);
    }
    if (!is_valid_id(message.request_id) || !is_valid_id(message.capture_id)) {
        return refused({}, {}, Code::InvalidMessage);
    }

    const ActionRule* rule = rule_for(message.action);
    if (rule == nullptr || !within_limits(message) || !allowed_combination(message, *rule) ||
        rule->url_required != message.url.has_value()) {
        return refused(std::move(message.request_id), std::move(message.capture_id), Code::InvalidMessage);
    }

    if (rule->url_required) {
        auto url = url_policy::sanitize(*message.url);
        if (!url) {
            return refused(std::move(message.request_id), std::move(message.capture_id),
                           code_for(url.error()));
        }
    }
    message.browser = protocol::browser_text(request.browser);
    // Built from the message directly: make_unique's value-initialisation would first clear the
    // whole message, hundreds of bytes, only to overwrite it.
    return Capture{std::unique_ptr<ValidatedCapture>(new ValidatedCapture{std::move(message)})};
}

// Checks a body that is answered in the capture form: one that decoded strictly as a capture
// request goes through every check; any other is refused, echoing the ids of its lenient reading
// that are valid ones.
Classified check_capture(BrowserMessage& message) {
    if (message.capture_request) return check_capture(*message.capture_request);
    // Only the lenient reading has ids to answer with.
    std::optional<Envelope> envelope = message.envelope();
    if (!envelope) return refused({}, {}, Code::InvalidMessage);
    return refused(valid_id_or_empty(std::string(text_or_empty(envelope->request_id))),
                   valid_id_or_empty(std::string(text_or_empty(envelope->capture_id))), Code::InvalidMessage);
}

// A capture is marked by its version or by a non-empty capture id; anything else, including a
// body that even the lenient reading refuses, is answered in the simple form.
bool is_capture(std::optional<std::uint32_t> version, std::string_view capture_id) {
    return version == protocol::CAPTURE_PROTOCOL_VERSION || !capture_id.empty();
}

// The same decision for a decoded body, made on whichever reading succeeded without copying its
// ids into an envelope first: every message takes this branch.
bool is_capture(const BrowserMessage& message) {
    if (const auto& capture = message.capture_request) {
        return is_capture(capture->protocol_version, capture->message.capture_id);
    }
    if (const auto& request = message.host_request) return is_capture(request->protocol_version, {});
    const auto& envelope = message.lenient_envelope;
    return envelope && is_capture(envelope->protocol_version, text_or_empty(envelope->capture_id));
}

}  // namespace

bool is_valid_id(std::string_view text) {
    // One look-up per byte: every message has ids to check.
    static constexpr std::array<bool, 256> ID_BYTES = [] {
        std::array<bool, 256> bytes{};
        for (int c = 0; c < 256; ++c) {
            bytes[static_cast<std::size_t>(c)] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                                 (c >= '0' && c <= '9') || c == '-' || c == '_';
        }
        return bytes;
    }();
    if (text.empty() || text.size() > MAX_ID_BYTES) return false;
    for (char c : text) {
        if (!ID_BYTES[static_cast<unsigned char>(c)]) return false;
    }
    return true;
}

Classified classify_any(std::string_view body) {
    // The readings yield whichever strict request the body satisfies, or else its lenient
    // envelope; either picks the family.
    BrowserMessage message = protocol::decode_browser_message(body);
    return is_capture(message) ? check_capture(message) : check_request(message);
}

}  // namespace ondrake::classification
