// Native-messaging frames: a 4-byte little-endian body length, then the body (1 to MAX_FRAME
// bytes of JSON). The browser writes them to the host's standard input, the host answers on its
// standard output; the application socket uses the same layout and the same FrameError.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <ostream>
#include <string_view>

#include <boost/system/error_code.hpp>
#include <boost/system/result.hpp>

#include "browser-native-host/common/diagnostics.hpp"
#include "browser-native-host/messages/byte_stream.hpp"
#include "browser-native-host/messages/frame_limit.hpp"

namespace ondrake::framing {

struct FrameError {
    enum class Kind {
        EndOfStream,  // the input ended cleanly, before the first byte of a frame
        Truncated,    // the input ended inside a frame
        Empty,        // the declared length is 0
        TooLarge,     // the declared length exceeds MAX_FRAME
        Io,           // any other input/output error
    };
    Kind kind;
    std::uint32_t declared_length = 0;  // TooLarge: the length, clamped to 2^32 - 1
    boost::system::error_code error;    // Io: the underlying error

    static FrameError end_of_stream() { return {Kind::EndOfStream, 0, {}}; }
    static FrameError truncated() { return {Kind::Truncated, 0, {}}; }
    static FrameError empty() { return {Kind::Empty, 0, {}}; }
    static FrameError too_large(std::uint32_t length) { return {Kind::TooLarge, length, {}}; }
    static FrameError io(boost::system::error_code error) { return {Kind::Io, 0, error}; }

    bool operator==(const FrameError&) const = default;
};

// The fixed text of an error for log lines, e.g. "the frame declared 70000 bytes, over the
// 65536 limit". The underlying error of Io is not shown.
std::string display_text(const FrameError& error);
// The display text, and for Io the underlying error; what a failed test prints.
std::ostream& operator<<(std::ostream& out, const FrameError& error);

// The body of one frame, or why there is none.
using FrameResult = boost::system::result<std::string, FrameError>;
// A frame check passed or a frame written, or why not.
using FrameStatus = boost::system::result<void, FrameError>;

std::array<char, 4> encode_length(std::uint32_t length);
std::uint32_t decode_length(const std::array<char, 4>& prefix);
// fits_one_frame as a frame operation reports it: Empty for 0, TooLarge over MAX_FRAME (with the
// size, clamped to 2^32 - 1), success for a size a frame may have. For a declared length and for a
// body about to be written alike.
[[nodiscard]] FrameStatus check_frame_size(std::size_t size);

// Reads one frame, blocking until it is complete. Interrupted reads are retried. After Empty or
// TooLarge nothing more has been read: the body stays in the stream.
[[nodiscard]] FrameResult read_frame(ByteSource& input);

// Writes the prefix and the body completely, then flushes; nothing is written for a body that
// fails check_frame_size. Bytes already written stay written after an Io failure.
[[nodiscard]] FrameStatus write_frame(ByteSink& output, std::string_view body);

// Writes one encoded reply as a frame under the sink's frame lock. An empty `encoded` means
// encoding failed: "could not encode a response" is printed and nothing is written. A failed
// write prints "could not write a response: " + the error's text. Never retries.
void write_encoded_reply(ByteSink& output, std::string_view encoded, Diagnostics& diagnostics);

}  // namespace ondrake::framing
