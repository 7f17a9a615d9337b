#include "browser-native-host/messages/protocol.hpp"

#include <new>
#include <type_traits>

#include "browser-native-host/messages/frame_limit.hpp"
#include "browser-native-host/messages/app_reply_tables.hpp"
#include "browser-native-host/messages/json_codec.hpp"
#include "browser-native-host/messages/protocol_tables.hpp"

namespace ondrake::protocol {

namespace {

template <class Message>
std::string encoded(const Message& message) {
    std::string out;
    try {
        out.reserve(128);
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (!encode(message, out)) return {};
    return out;
}

void drop_ids(HostResponse& reply) { reply.request_id.clear(); }
void drop_ids(CaptureResponse& reply) {
    reply.request_id.clear();
    reply.capture_id.clear();
}

// A reply longer than a frame is never written, and the browser would wait for it in vain. Only
// what a reply carries beyond its code can make it that long: ids echoed as they were received
// (a capture of another version may carry ids of any length), or a preflight. It then goes out
// without the preflight and, if that is not enough, with empty ids, as for a message whose ids
// are unusable; its code stays.
template <class Reply>
std::string fitted(Reply reply) {
    std::string out = encoded(reply);
    auto too_long = [&out] { return !out.empty() && !framing::fits_one_frame(out.size()); };
    if constexpr (std::is_same_v<Reply, CaptureResponse>) {
        if (too_long() && reply.preflight) {
            reply.preflight.reset();
            out = encoded(reply);
        }
    }
    if (too_long()) {
        drop_ids(reply);
        out = encoded(reply);
    }
    return out;
}

}  // namespace

std::optional<Envelope> decode_envelope(std::string_view body) {
    return json_codec::decode(tables::ENVELOPE, body);
}
std::optional<HostRequest> decode_host_request(std::string_view body) {
    return json_codec::decode(tables::HOST_REQUEST, body);
}
std::optional<CaptureRequest> decode_capture_request(std::string_view body) {
    return json_codec::decode(tables::CAPTURE_REQUEST, body);
}
namespace {

// Whether a body seems to be a capture request by its first member: extensions write
// "protocolVersion" first, and the two families' versions differ. A guess that only orders
// the strict readings of decode_browser_message, so it compares one fixed prefix and nothing
// more: every message pays for it.
bool looks_like_capture(std::string_view body) {
    static_assert(CAPTURE_PROTOCOL_VERSION == 4, "the prefix below spells the capture version");
    return body.starts_with(R"({"protocolVersion":4,)");
}

}  // namespace

BrowserMessage decode_browser_message(std::string_view body) {
    BrowserMessage message;
    // The strict requests exclude each other: a capture request needs "captureId", a key the
    // simple request refuses. So the body is read as the request it most likely is, and only
    // when that fails as the other one: the order saves work and changes no result.
    if (looks_like_capture(body)) {
        if (!json_codec::decode_into(tables::CAPTURE_REQUEST, body, message.capture_request)) {
            json_codec::decode_into(tables::HOST_REQUEST, body, message.host_request);
        }
    } else if (!json_codec::decode_into(tables::HOST_REQUEST, body, message.host_request)) {
        json_codec::decode_into(tables::CAPTURE_REQUEST, body, message.capture_request);
    }

    if (!message.host_request && !message.capture_request) message.lenient_envelope = decode_envelope(body);
    return message;
}

std::optional<Envelope> BrowserMessage::envelope() const {
    // A body that decodes strictly reads the same leniently: its envelope is the request's
    // version and ids.
    if (host_request) return Envelope{host_request->protocol_version, host_request->request_id, std::nullopt};
    if (capture_request) {
        return Envelope{capture_request->protocol_version, capture_request->message.request_id,
                        capture_request->message.capture_id};
    }
    return lenient_envelope;
}

std::optional<IpcRequest> decode_ipc_request(std::string_view body) {
    return json_codec::decode(tables::IPC_REQUEST, body);
}
std::optional<IpcCaptureRequest> decode_ipc_capture_request(std::string_view body) {
    return json_codec::decode(tables::IPC_CAPTURE_REQUEST, body);
}
std::optional<HostResponse> decode_host_response(std::string_view body) {
    return json_codec::decode(tables::HOST_RESPONSE, body);
}
std::optional<CaptureResponse> decode_capture_response(std::string_view body) {
    return json_codec::decode(tables::CAPTURE_RESPONSE, body);
}

bool encode(const HostResponse& message, std::string& out) {
    return json_codec::encode(tables::HOST_RESPONSE, message, out);
}
bool encode(const CaptureResponse& message, std::string& out) {
    return json_codec::encode(tables::CAPTURE_RESPONSE, message, out);
}
bool encode(const IpcRequest& message, std::string& out) {
    return json_codec::encode(tables::IPC_REQUEST, message, out);
}
bool encode(const IpcCaptureRequest& message, std::string& out) {
    return json_codec::encode(tables::IPC_CAPTURE_REQUEST, message, out);
}

std::string to_json(const HostResponse& message) { return fitted(message); }
std::string to_json(const CaptureResponse& message) { return fitted(message); }
std::string to_json(const IpcRequest& message) { return encoded(message); }
std::string to_json(const IpcCaptureRequest& message) { return encoded(message); }

}  // namespace ondrake::protocol

namespace ondrake::ipc {

using tables::IPC_CAPTURE_RESPONSE;
using tables::IPC_RESPONSE;

std::optional<IpcResponse> decode_ipc_response(std::string_view body) {
    return json_codec::decode(IPC_RESPONSE, body);
}

std::optional<IpcCaptureResponse> decode_ipc_capture_response(std::string_view body) {
    return json_codec::decode(IPC_CAPTURE_RESPONSE, body);
}

bool encode(const IpcResponse& message, std::string& out) {
    return json_codec::encode(IPC_RESPONSE, message, out);
}

bool encode(const IpcCaptureResponse& message, std::string& out) {
    return json_codec::encode(IPC_CAPTURE_RESPONSE, message, out);
}

}  // namespace ondrake::ipc
