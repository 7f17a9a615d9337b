#include "tools/app-peer/policy.hpp"

#include "browser-native-host/messages/protocol.hpp"

#include <charconv>

namespace ondrake::app_peer {

using protocol::CaptureAction;
using protocol::CaptureStatus;
using protocol::Code;

namespace {

struct NamedBehaviour {
    std::string_view name;
    Behaviour behaviour;
};

// Behaviours named by one word; "code:" and "length:" carry a value and are read apart.
constexpr NamedBehaviour PLAIN_BEHAVIOURS[] = {
    {"accept", Behaviour::Accept},
    {"silent", Behaviour::Silent},
    {"no-read", Behaviour::NoRead},
    {"close-before-read", Behaviour::CloseBeforeRead},
    {"close-mid-reply", Behaviour::CloseMidReply},
    {"wrong-request-id", Behaviour::WrongRequestId},
    {"wrong-capture-id", Behaviour::WrongCaptureId},
    {"extra-key", Behaviour::ExtraKey},
};

constexpr std::string_view CODE_PREFIX = "code:";
constexpr std::string_view LENGTH_PREFIX = "length:";
constexpr std::string_view OTHER_ID_SUFFIX = "-other";

std::optional<Policy> parse_fixed_code(std::string_view text) {
    Policy policy;
    policy.behaviour = Behaviour::FixedCode;
    std::string_view code_text = text.substr(0, text.find('/'));
    if (!protocol::from_json_text(code_text, policy.code)) return std::nullopt;
    if (code_text.size() < text.size()) {
        if (!protocol::from_json_text(text.substr(code_text.size() + 1), policy.status)) return std::nullopt;
    }
    return policy;
}

std::optional<Policy> parse_bad_length(std::string_view digits) {
    Policy policy;
    policy.behaviour = Behaviour::BadLength;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), policy.declared_length);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()) return std::nullopt;
    return policy;
}

// The reply with one more key, which a strict reader must refuse.
std::string with_extra_key(std::string body) {
    body.insert(body.size() - 1, ",\"extra\":true");
    return body;
}

std::string encoded(const auto& reply) {
    std::string body;
    ipc::encode(reply, body);
    return body;
}

}  // namespace

std::optional<Policy> parse_policy(std::string_view text) {
    for (const auto& entry : PLAIN_BEHAVIOURS) {
        if (text == entry.name) return Policy{.behaviour = entry.behaviour};
    }
    if (text.starts_with(CODE_PREFIX)) return parse_fixed_code(text.substr(CODE_PREFIX.size()));
    if (text.starts_with(LENGTH_PREFIX)) return parse_bad_length(text.substr(LENGTH_PREFIX.size()));
    return std::nullopt;
}

std::string policy_name(const Policy& policy) {
    for (const auto& entry : PLAIN_BEHAVIOURS) {
        if (policy.behaviour == entry.behaviour) return std::string(entry.name);
    }
    if (policy.behaviour == Behaviour::FixedCode) {
        return std::string(CODE_PREFIX) + std::string(protocol::json_text(policy.code)) + "/" +
               std::string(protocol::json_text(policy.status));
    }
    return std::string(LENGTH_PREFIX) + std::to_string(policy.declared_length);
}

CaptureAnswer CaptureBook::natural_answer(const protocol::IpcCaptureRequest& request) {
    auto known = states_.find(request.capture_id);
    CaptureStatus current = known == states_.end() ? CaptureStatus::Unknown : known->second;
    switch (request.action) {
        case CaptureAction::CapturePrepare:
            states_[request.capture_id] = CaptureStatus::Prepared;
            return {CaptureStatus::Prepared, Code::CapturePrepared};
        case CaptureAction::CaptureCommit:
            states_[request.capture_id] = CaptureStatus::Committed;
            return {CaptureStatus::Committed, Code::Accepted};
        case CaptureAction::CaptureAbort:
            states_[request.capture_id] = CaptureStatus::Aborted;
            return {CaptureStatus::Aborted, Code::CaptureAborted};
        case CaptureAction::CaptureStatus:
            if (known == states_.end()) return {CaptureStatus::Unknown, Code::CaptureUnknown};
            return {current, Code::Accepted};
        case CaptureAction::CaptureRevokeCredentials: return {current, Code::Accepted};
        case CaptureAction::CapturePreflight: return {CaptureStatus::Unknown, Code::Accepted};
    }
    return {CaptureStatus::Unknown, Code::InternalError};
}

std::optional<std::string> reply_to_request(const Policy& policy, const protocol::IpcRequest& request) {
    ipc::IpcResponse reply{protocol::SIMPLE_PROTOCOL_VERSION, request.request_id, Code::Accepted};
    switch (policy.behaviour) {
        case Behaviour::Silent:
        case Behaviour::NoRead:
        case Behaviour::CloseBeforeRead: return std::nullopt;
        case Behaviour::FixedCode: reply.code = policy.code; break;
        case Behaviour::WrongRequestId: reply.request_id += OTHER_ID_SUFFIX; break;
        case Behaviour::ExtraKey: return with_extra_key(encoded(reply));
        default: break;
    }
    return encoded(reply);
}

std::optional<std::string> reply_to_capture(const Policy& policy, const protocol::IpcCaptureRequest& request,
                                            CaptureBook& capture_book) {
    if (policy.behaviour == Behaviour::Silent || policy.behaviour == Behaviour::NoRead ||
        policy.behaviour == Behaviour::CloseBeforeRead) {
        return std::nullopt;
    }
    CaptureAnswer answer = policy.behaviour == Behaviour::FixedCode
                               ? CaptureAnswer{policy.status, policy.code}
                               : capture_book.natural_answer(request);
    ipc::IpcCaptureResponse reply{protocol::CAPTURE_PROTOCOL_VERSION,
                                  request.request_id,
                                  request.capture_id,
                                  answer.status,
                                  answer.code,
                                  std::nullopt};
    if (policy.behaviour == Behaviour::WrongRequestId) reply.request_id += OTHER_ID_SUFFIX;
    if (policy.behaviour == Behaviour::WrongCaptureId) reply.capture_id += OTHER_ID_SUFFIX;
    if (policy.behaviour == Behaviour::ExtraKey) return with_extra_key(encoded(reply));
    return encoded(reply);
}

std::string reply_to_invalid(std::string_view body) {
    auto envelope = protocol::decode_envelope(body).value_or(protocol::Envelope{});
    std::string request_id = envelope.request_id.value_or("");
    if (envelope.capture_id) {
        return encoded(ipc::IpcCaptureResponse{protocol::CAPTURE_PROTOCOL_VERSION, request_id,
                                               *envelope.capture_id, CaptureStatus::Unknown,
                                               Code::InvalidMessage, std::nullopt});
    }
    return encoded(ipc::IpcResponse{protocol::SIMPLE_PROTOCOL_VERSION, request_id, Code::InvalidMessage});
}

}  // namespace ondrake::app_peer
