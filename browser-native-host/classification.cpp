#include "browser-native-host/classification.hpp"

#include <array>
#include <cstddef>
#include <utility>

#include "browser-native-host/classification_rules.hpp"
#include "browser-native-host/url_policy.hpp"

namespace ondrake::classification {

namespace {

using download_core::BrowserCookie;
using download_core::ObservedResponse;
using protocol::BrowserMessage;
using protocol::CaptureAction;
using protocol::CaptureRequest;
using protocol::CaptureResponse;
using protocol::CaptureStatus;
using protocol::Code;
using protocol::Envelope;
using protocol::HostResponse;
using protocol::IpcCaptureRequest;
using url_policy::UrlRejection;

Code code_for(UrlRejection rejection) {
    return rejection == UrlRejection::SchemeNotAllowed ? Code::UnsupportedScheme : Code::InvalidUrl;
}

// An absent text reads as empty: every rule here treats the two alike.
std::string_view text_or_empty(const std::optional<std::string>& text) {
    return text ? std::string_view(*text) : std::string_view();
}

std::string valid_id_or_empty(std::string_view id) {
    return is_valid_id(id) ? std::string(id) : std::string();
}

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

const ActionRule* rule_for(CaptureAction action) {
    return enum_table::row_of(ACTION_RULES, action);
}

bool allowed_combination(const IpcCaptureRequest& request, const ActionRule& rule) {
    return (rule.cookies_allowed || !request.cookies) && (rule.observed_allowed || !request.observed);
}

// ---- Simple requests ----------------------------------------------------------------------

using RequestOutcome = std::variant<ValidatedRequest, HostResponse>;

HostResponse rejected(std::string request_id, Code code) {
    return protocol::make_host_response(std::move(request_id), code);
}

// The id a simple reply echoes, or the rejection decided by the version and the id alone.
std::variant<std::string, HostResponse> simple_reply_id(std::optional<std::uint32_t> version,
                                                        std::string_view request_id) {
    std::string reply_id = valid_id_or_empty(request_id);
    // The version is judged first, so that an extension speaking another version learns that
    // even when its ids do not follow our rule.
    if (version != protocol::SIMPLE_PROTOCOL_VERSION) {
        return rejected(std::move(reply_id), Code::UnsupportedProtocolVersion);
    }
    if (reply_id.empty()) return rejected({}, Code::InvalidMessage);
    return reply_id;
}

RequestOutcome accept_request(std::string reply_id, const std::string& url) {
    auto sanitized = url_policy::sanitize(url);
    if (auto* rejection = std::get_if<UrlRejection>(&sanitized)) {
        return rejected(std::move(reply_id), code_for(*rejection));
    }
    return ValidatedRequest{std::move(reply_id), std::move(std::get<std::string>(sanitized))};
}

// A body as the one reading of it found it; the ids and version come from its lenient reading.
RequestOutcome check_request(const BrowserMessage& message) {
    if (!message.envelope) return rejected({}, Code::InvalidMessage);
    const Envelope& envelope = *message.envelope;
    auto reply_id = simple_reply_id(envelope.protocol_version, text_or_empty(envelope.request_id));
    if (auto* response = std::get_if<HostResponse>(&reply_id)) return std::move(*response);

    if (!message.host_request) return rejected(std::move(std::get<std::string>(reply_id)), Code::InvalidMessage);
    return accept_request(std::move(std::get<std::string>(reply_id)), message.host_request->url);
}

// ---- Capture requests ---------------------------------------------------------------------

// An accepted capture goes straight to the heap, where classify_any hands it over.
using CaptureOutcome = std::variant<std::unique_ptr<ValidatedCapture>, CaptureResponse>;

CaptureResponse rejected(std::string request_id, std::string capture_id, Code code) {
    return protocol::make_capture_response(std::move(request_id), std::move(capture_id),
                                           CaptureStatus::Unknown, code);
}

// A capture request that decoded strictly. Its message becomes the validated capture: only the
// url and the browser text change on the way.
CaptureOutcome check_capture(CaptureRequest& request) {
    IpcCaptureRequest& message = request.message;
    // Echoed exactly as received: the extension matches the reply to its request by them.
    if (request.protocol_version != protocol::CAPTURE_PROTOCOL_VERSION) {
        return rejected(std::move(message.request_id), std::move(message.capture_id),
                        Code::UnsupportedProtocolVersion);
    }
    if (!is_valid_id(message.request_id) || !is_valid_id(message.capture_id)) {
        return rejected({}, {}, Code::InvalidMessage);
    }

    const ActionRule* rule = rule_for(message.action);
    if (rule == nullptr || !within_limits(message) || !allowed_combination(message, *rule) ||
        rule->url_required != message.url.has_value()) {
        return rejected(std::move(message.request_id), std::move(message.capture_id), Code::InvalidMessage);
    }

    if (rule->url_required) {
        auto sanitized = url_policy::sanitize(*message.url);
        if (auto* rejection = std::get_if<UrlRejection>(&sanitized)) {
            return rejected(std::move(message.request_id), std::move(message.capture_id), code_for(*rejection));
        }
        message.url = std::move(std::get<std::string>(sanitized));
    }
    message.browser = protocol::browser_text(request.browser);
    auto capture = std::make_unique<ValidatedCapture>();
    capture->message = std::move(message);
    return capture;
}

// A body as the one reading of it found it.
CaptureOutcome check_capture(BrowserMessage& message) {
    if (message.capture_request) return check_capture(*message.capture_request);
    // Only the lenient reading has ids to answer with.
    if (!message.envelope) return rejected({}, {}, Code::InvalidMessage);
    return rejected(valid_id_or_empty(text_or_empty(message.envelope->request_id)),
                    valid_id_or_empty(text_or_empty(message.envelope->capture_id)), Code::InvalidMessage);
}

// A capture is marked by its version or by a non-empty capture id; anything else, including a
// body that even the lenient reading refuses, is answered in the simple form.
bool is_capture(const std::optional<Envelope>& envelope) {
    return envelope && (envelope->protocol_version == protocol::CAPTURE_PROTOCOL_VERSION ||
                        !text_or_empty(envelope->capture_id).empty());
}

Classified encoded(RequestOutcome&& outcome) {
    if (auto* response = std::get_if<HostResponse>(&outcome)) return Reply{protocol::to_json(*response)};
    return Request{std::move(std::get<ValidatedRequest>(outcome))};
}

Classified encoded(CaptureOutcome&& outcome) {
    if (auto* response = std::get_if<CaptureResponse>(&outcome)) return Reply{protocol::to_json(*response)};
    return Capture{std::move(std::get<std::unique_ptr<ValidatedCapture>>(outcome))};
}

}  // namespace

bool is_valid_id(std::string_view text) {
    if (text.empty() || text.size() > MAX_ID_BYTES) return false;
    for (char c : text) {
        bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_';
        if (!allowed) return false;
    }
    return true;
}

Classified classify_any(std::string_view body) {
    // One reading yields the lenient envelope, which picks the family, and whichever strict
    // request the body satisfies.
    BrowserMessage message = protocol::decode_browser_message(body);
    if (is_capture(message.envelope)) return encoded(check_capture(message));
    return encoded(check_request(message));
}

std::variant<ValidatedRequest, HostResponse> classify(std::string_view body) {
    return check_request(protocol::decode_browser_message(body));
}

std::variant<ValidatedCapture, CaptureResponse> classify_capture(std::string_view body) {
    BrowserMessage message = protocol::decode_browser_message(body);
    CaptureOutcome outcome = check_capture(message);
    if (auto* response = std::get_if<CaptureResponse>(&outcome)) return std::move(*response);
    return std::move(*std::get<std::unique_ptr<ValidatedCapture>>(outcome));
}

}  // namespace ondrake::classification
