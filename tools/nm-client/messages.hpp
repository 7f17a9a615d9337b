// What nm-client reads and checks: the messages of a message file, and the replies of a host.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ondrake::nm_client {

// The messages in `text`, one per line, each exactly the bytes between two line feeds. Blank
// lines (nothing but spaces, tabs and carriage returns) and lines that start with "#" are skipped.
std::vector<std::string> read_messages(std::string_view text);

enum class ReplyKind {
    HostResponse,     // a reply to a simple request (or to a message that was no capture)
    CaptureResponse,  // a reply to a capture step
    NotAReply,        // JSON, but no reply a host may send
    NotJson,
};

ReplyKind check_reply(std::string_view body);

// The "requestId" of a JSON object when it is a string: what a message asks to be answered with,
// and what a reply answers. Nothing for any other text.
std::optional<std::string> request_id(std::string_view json);

// The reply on a single line: as it came when it has no line break, else re-encoded compactly.
// Only for bodies that are JSON.
std::string reply_line(std::string_view body);

// At most `limit` bytes of `bytes` for a one-line report: printable ASCII as it is, every other
// byte as \xNN, and "..." when something was left out.
std::string excerpt(std::string_view bytes, std::size_t limit = 120);

}  // namespace ondrake::nm_client
