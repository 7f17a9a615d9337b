// The checking of every browser message before anything reaches the application: which family
// a frame body belongs to, strict decoding, protocol version, ids, field limits and URL. The
// outcome is either a request ready for delivery or a ready, encoded rejecting reply.
//
// Everything here is pure: no I/O, no logging. The session writes the replies and logs.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "browser-native-host/messages/protocol.hpp"
#include "browser-native-host/messages/validated.hpp"

namespace ondrake::classification {

// The outcome of classify_any for one frame body.
struct Reply {
    // The encoded HostResponse or CaptureResponse; empty when it could not be encoded.
    std::string bytes;
};
struct Request {
    ValidatedRequest request;
};
struct Capture {
    // On the heap: a capture is several times the size of the other outcomes.
    std::unique_ptr<ValidatedCapture> capture;
};
using Classified = std::variant<Reply, Request, Capture>;

// 1 to 128 bytes, each an ASCII letter, an ASCII digit, "-" or "_".
bool is_valid_id(std::string_view text);

// Tells simple requests from captures (a capture declares version 4 or a non-empty captureId;
// a body that cannot even be read as a message is answered as a simple request), then checks
// the body as one or the other. Rejections come back as encoded replies.
Classified classify_any(std::string_view body);

}  // namespace ondrake::classification
