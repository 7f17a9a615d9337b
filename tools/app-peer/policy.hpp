// How the reference application peer answers: the behaviours a test or a demo can ask for, and
// the answers of an application that accepts everything.
#pragma once

#include "browser-native-host/messages/protocol.hpp"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace ondrake::app_peer {

enum class Behaviour {
    Accept,           // the natural answer (see natural_capture_answer)
    FixedCode,        // always the given code (and, for captures, the given status)
    Silent,           // read the request, never answer, keep the connection open
    NoRead,           // accept the connection and never read from it
    CloseBeforeRead,  // close each connection as soon as it is accepted
    CloseMidReply,    // send the length and half of the reply body, then close
    WrongRequestId,   // the natural answer, for another requestId
    WrongCaptureId,   // the natural answer, for another captureId (simple requests: as Accept)
    BadLength,        // the natural answer behind a length field of the given value
    ExtraKey,         // the natural answer with one key no reply may carry
};

struct Policy {
    Behaviour behaviour = Behaviour::Accept;
    protocol::Code code = protocol::Code::Accepted;                     // FixedCode
    protocol::CaptureStatus status = protocol::CaptureStatus::Unknown;  // FixedCode, captures
    std::uint32_t declared_length = 0;                                  // BadLength
    std::chrono::milliseconds delay{0};                                 // before every answer
};

// Reads a policy as written on the command line: "accept", "code:APP_REJECTED",
// "code:CAPTURE_CONFLICT/aborted", "silent", "no-read", "close-before-read", "close-mid-reply",
// "wrong-request-id", "wrong-capture-id", "length:65537", "extra-key". None for anything else.
std::optional<Policy> parse_policy(std::string_view text);

// The name a policy was given by ("accept", "code:APP_REJECTED", ...), for the log.
std::string policy_name(const Policy& policy);

struct CaptureAnswer {
    protocol::CaptureStatus status;
    protocol::Code code;
};

// What an application that accepts everything knows of its captures: the state each captureId
// reached through prepare, commit and abort.
class CaptureBook {
public:
    // prepare: prepared/CAPTURE_PREPARED; commit: committed/ACCEPTED; abort: aborted/
    // CAPTURE_ABORTED; status: the known state/ACCEPTED, or unknown/CAPTURE_UNKNOWN for a
    // capture never seen; revoke: the known state (unknown when never seen)/ACCEPTED;
    // preflight: unknown/ACCEPTED.
    CaptureAnswer natural_answer(const protocol::IpcCaptureRequest& request);

private:
    std::map<std::string, protocol::CaptureStatus> states_;
};

// The reply body that `policy` gives to one request, or none when the policy sends no reply.
// `capture_book` is updated as the natural answer requires.
std::optional<std::string> reply_to_request(const Policy& policy, const protocol::IpcRequest& request);
std::optional<std::string> reply_to_capture(const Policy& policy, const protocol::IpcCaptureRequest& request,
                                            CaptureBook& capture_book);

// The answer to a body that is neither request: INVALID_MESSAGE, echoing what ids it has, in the
// capture form when it names a captureId.
std::string reply_to_invalid(std::string_view body);

}  // namespace ondrake::app_peer
