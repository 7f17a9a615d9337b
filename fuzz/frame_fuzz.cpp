// The frame reader over arbitrary bytes, frame after frame until it stops, checked against the
// layout itself: a 4-byte little-endian length, then exactly that many body bytes. Every result,
// and how much of the stream each read consumed, must be what the layout dictates, whatever
// sizes the underlying reads come in.
#include "browser-native-host/messages/byte_stream.hpp"
#include "browser-native-host/messages/framing.hpp"
#include "fuzz/invariant.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace {

using ondrake::MemorySource;
using ondrake::framing::FrameError;
using ondrake::framing::FrameResult;
using ondrake::framing::MAX_FRAME;
using ondrake::fuzz::require;

std::uint32_t little_endian_at(std::string_view bytes) {
    return std::uint32_t(std::uint8_t(bytes[0])) | std::uint32_t(std::uint8_t(bytes[1])) << 8 |
           std::uint32_t(std::uint8_t(bytes[2])) << 16 | std::uint32_t(std::uint8_t(bytes[3])) << 24;
}

// What reading one frame from `rest` must give, and how many bytes it must consume.
struct Expected {
    FrameResult result;
    std::size_t consumed;
};

Expected expected_frame(std::string_view rest) {
    if (rest.empty()) return {FrameError::end_of_stream(), 0};
    if (rest.size() < 4) return {FrameError::truncated(), rest.size()};
    std::uint32_t length = little_endian_at(rest);
    if (length == 0) return {FrameError::empty(), 4};
    if (length > MAX_FRAME) return {FrameError::too_large(length), 4};
    if (rest.size() - 4 < length) return {FrameError::truncated(), rest.size()};
    return {std::string(rest.substr(4, length)), 4 + std::size_t(length)};
}

void read_all_frames(std::string_view input, std::size_t chunk) {
    MemorySource source{std::string(input), chunk};
    std::string_view rest = input;
    for (;;) {
        Expected expected = expected_frame(rest);
        FrameResult got = ondrake::framing::read_frame(source);
        require(got == expected.result, "read_frame gives what the length prefix dictates");
        rest.remove_prefix(expected.consumed);
        require(source.remaining().size() == rest.size(),
                "read_frame consumes exactly the prefix and the body, and no more after an error");
        if (got) {
            require(!got->empty() && got->size() <= MAX_FRAME, "a body is 1 to 65536 bytes");
            continue;
        }
        const FrameError& error = got.error();
        require(!ondrake::framing::display_text(error).empty(), "every error has a text");
        return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    // One read for everything, and reads of 3 bytes that split prefixes and bodies alike.
    read_all_frames(input, std::size_t(-1));
    read_all_frames(input, 3);
    return 0;
}
