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
using protocol::CaptureAction;
using protocol::CaptureRequest;
using protocol::CaptureResponse;
using protocol::CaptureStatus;
using protocol::Code;
using protocol::Envelope;
using protocol::HostRequest;
using protocol::HostResponse;
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

bool within_limits(const CaptureRequest& request) {
    return (!request.observed || observed_within_limits(*request.observed)) &&
           (!request.cookies || cookies_within_limits(*request.cookies)) &&
           at_most(request.download_name, MAX_DOWNLOAD_NAME_BYTES) &&
           at_most(request.initiator_origin, MAX_INITIATOR_ORIGIN_BYTES);
}

const ActionRule* rule_for(CaptureAction action) {
    return enum_table::row_of(ACTION_RULES, action);
}

bool allowed_combination(const CaptureRequest& request, const ActionRule& rule) {
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

// A body whose lenient reading is `envelope` (absent when even that failed).
RequestOutcome check_request(std::string_view body, const std::optional<Envelope>& envelope) {
    if (!envelope) return rejected({}, Code::InvalidMessage);
    auto reply_id = simple_reply_id(envelope->protocol_version, text_or_empty(envelope->request_id));
    if (auto* response = std::get_if<HostResponse>(&reply_id)) return std::move(*response);

    auto request = protocol::decode_host_request(body);
    if (!request) return rejected(std::move(std::get<std::string>(reply_id)), Code::InvalidMessage);
    return accept_request(std::move(std::get<std::string>(reply_id)), request->url);
}

// A body already decoded strictly; its lenient reading has the same version and id.
RequestOutcome check_request(const HostRequest& request) {
    auto reply_id = simple_reply_id(request.protocol_version, request.request_id);
    if (auto* response = std::get_if<HostResponse>(&reply_id)) return std::move(*response);
    return accept_request(std::move(std::get<std::string>(reply_id)), request.url);
}

// ---- Capture requests ---------------------------------------------------------------------

using CaptureOutcome = std::variant<ValidatedCapture, CaptureResponse>;

CaptureResponse rejected(std::string request_id, std::string capture_id, Code code) {
    return protocol::make_capture_response(std::move(request_id), std::move(capture_id),
                                           CaptureStatus::Unknown, code);
}

// A capture request that decoded strictly.
CaptureOutcome check_capture(CaptureRequest request) {
    // Echoed exactly as received: the extension matches the reply to its request by them.
    if (request.protocol_version != protocol::CAPTURE_PROTOCOL_VERSION) {
        return rejected(std::move(request.request_id), std::move(request.capture_id),
                        Code::UnsupportedProtocolVersion);
    }
    if (!is_valid_id(request.request_id) || !is_valid_id(request.capture_id)) {
        return rejected({}, {}, Code::InvalidMessage);
    }

    const ActionRule* rule = rule_for(request.action);
    if (rule == nullptr || !within_limits(request) || !allowed_combination(request, *rule) ||
        rule->url_required != request.url.has_value()) {
        return rejected(std::move(request.request_id), std::move(request.capture_id), Code::InvalidMessage);
    }

    std::optional<std::string> url;
    if (rule->url_required) {
        auto sanitized = url_policy::sanitize(*request.url);
        if (auto* rejection = std::get_if<UrlRejection>(&sanitized)) {
            return rejected(std::move(request.request_id), std::move(request.capture_id), code_for(*rejection));
        }
        url = std::move(std::get<std::string>(sanitized));
    }

    return ValidatedCapture{
        std::move(request.request_id),
        std::move(request.capture_id),
        request.action,
        std::string(protocol::browser_text(request.browser)),
        request.browser_download_id,
        std::move(url),
        std::move(request.observed),
        std::move(request.cookies),
        std::move(request.download_name),
        std::move(request.initiator_origin),
        request.revalidate_response,
    };
}

// A body whose lenient reading is `envelope` (absent when even that failed).
CaptureOutcome check_capture(std::string_view body, const std::optional<Envelope>& envelope) {
    auto request = protocol::decode_capture_request(body);
    if (request) return check_capture(std::move(*request));
    // Only the lenient reading has ids to answer with.
    if (!envelope) return rejected({}, {}, Code::InvalidMessage);
    return rejected(valid_id_or_empty(text_or_empty(envelope->request_id)),
                    valid_id_or_empty(text_or_empty(envelope->capture_id)), Code::InvalidMessage);
}

// A capture is marked by its version or by a non-empty capture id; anything else, including a
// body that even the lenient reading refuses, is answered in the simple form.
bool is_capture(std::optional<std::uint32_t> version, std::string_view capture_id) {
    return version == protocol::CAPTURE_PROTOCOL_VERSION || !capture_id.empty();
}

bool is_capture(const Envelope& envelope) {
    return is_capture(envelope.protocol_version, text_or_empty(envelope.capture_id));
}

Classified encoded(RequestOutcome&& outcome) {
    if (auto* response = std::get_if<HostResponse>(&outcome)) return Reply{protocol::to_json(*response)};
    return Request{std::move(std::get<ValidatedRequest>(outcome))};
}

Classified encoded(CaptureOutcome&& outcome) {
    if (auto* response = std::get_if<CaptureResponse>(&outcome)) return Reply{protocol::to_json(*response)};
    return Capture{std::make_unique<ValidatedCapture>(std::move(std::get<ValidatedCapture>(outcome)))};
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
    // A message that decodes strictly reads the same leniently (same version, same ids), so it
    // needs no lenient reading to find its family. Nearly every message is such a one; the
    // lenient reading, a second pass over the body, is kept for those that fail.
    if (auto request = protocol::decode_host_request(body);
        request && !is_capture(request->protocol_version, {})) {
        return encoded(check_request(*request));
    }
    if (auto request = protocol::decode_capture_request(body);
        request && is_capture(request->protocol_version, request->capture_id)) {
        return encoded(check_capture(std::move(*request)));
    }
    auto envelope = protocol::decode_envelope(body);
    if (envelope && is_capture(*envelope)) {
        return encoded(check_capture(body, envelope));
    }
    return encoded(check_request(body, envelope));
}

std::variant<ValidatedRequest, HostResponse> classify(std::string_view body) {
    return check_request(body, protocol::decode_envelope(body));
}

std::variant<ValidatedCapture, CaptureResponse> classify_capture(std::string_view body) {
    return check_capture(body, protocol::decode_envelope(body));
}

}  // namespace ondrake::classification
