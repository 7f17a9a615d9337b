// Reading and writing the protocol's messages (protocol_types.hpp) by their member tables
// (protocol_tables.hpp). Decoding is strict and all or nothing: a body that breaks any rule
// yields no record. Encoding appends compact JSON to a caller's buffer and reports failure
// (leaving the buffer as it was) only for a text that is not valid UTF-8 or an enumeration value
// outside its type.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "browser-native-host/messages/app_replies.hpp"
#include "browser-native-host/messages/protocol_types.hpp"

namespace ondrake::protocol {

// A frame body from the browser read as each message it may be: both strict requests, each
// present exactly when decoding the body as that type alone succeeds, and the lenient envelope.
struct BrowserMessage {
    // Provided, and empty: with the implicit one g++ 12 clears all the optionals' storage,
    // hundreds of bytes, for every message.
    BrowserMessage() {}

    std::optional<HostRequest> host_request;
    std::optional<CaptureRequest> capture_request;
    // The lenient reading, made only when neither strict request decoded: one that did reads
    // the same leniently, so its envelope needs no reading of its own.
    std::optional<Envelope> lenient_envelope;

    // What decode_envelope gives for the body.
    std::optional<Envelope> envelope() const;
};

// ---- Decoding: a whole frame body in, the record or nothing out ----------------------------

std::optional<Envelope> decode_envelope(std::string_view body);
std::optional<HostRequest> decode_host_request(std::string_view body);
std::optional<CaptureRequest> decode_capture_request(std::string_view body);
// The three above in one reading of the body (two when neither request accepts it).
BrowserMessage decode_browser_message(std::string_view body);
// For the application's side of the socket and for tools.
std::optional<IpcRequest> decode_ipc_request(std::string_view body);
std::optional<IpcCaptureRequest> decode_ipc_capture_request(std::string_view body);
// For clients of the host (tools and tests that read its replies).
std::optional<HostResponse> decode_host_response(std::string_view body);
std::optional<CaptureResponse> decode_capture_response(std::string_view body);

// ---- Encoding: compact JSON appended to `out` ----------------------------------------------

bool encode(const HostResponse& message, std::string& out);
bool encode(const CaptureResponse& message, std::string& out);
bool encode(const IpcRequest& message, std::string& out);
bool encode(const IpcCaptureRequest& message, std::string& out);

// The compact JSON in a fresh buffer; the empty string when encoding fails, which the reply
// writer reports as "could not encode a response". A reply always fits one frame: one that would
// be longer goes without its preflight and, if need be, with empty ids.
std::string to_json(const HostResponse& message);
std::string to_json(const CaptureResponse& message);
std::string to_json(const IpcRequest& message);
std::string to_json(const IpcCaptureRequest& message);

}  // namespace ondrake::protocol

namespace ondrake::ipc {

// The application's replies, for the host and for tools that play the application's part.
std::optional<IpcResponse> decode_ipc_response(std::string_view body);
std::optional<IpcCaptureResponse> decode_ipc_capture_response(std::string_view body);

// Compact JSON appended to `out` (an absent preflight is left out); false, with `out`
// unchanged, when a text is not valid UTF-8 or an enumeration value is out of range.
bool encode(const IpcResponse& message, std::string& out);
bool encode(const IpcCaptureResponse& message, std::string& out);

}  // namespace ondrake::ipc
