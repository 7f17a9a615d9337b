#include "browser-native-host/messages/framing.hpp"

#include <limits>
#include <new>

namespace ondrake::framing {

namespace {

enum class Fill { Full, EndBeforeAny, EndPartway, Failed };

struct FillResult {
    Fill outcome;
    boost::system::error_code error;
};

// Reads until `size` bytes are in `data`, retrying reads that a signal interrupted.
FillResult read_exactly(ByteSource& input, char* data, std::size_t size) {
    std::size_t filled = 0;
    while (filled < size) {
        IoResult r = input.read_some(data + filled, size - filled);
        if (!r && r.error() == boost::system::errc::interrupted) continue;
        if (!r) return {Fill::Failed, r.error()};
        if (*r == 0) return {filled == 0 ? Fill::EndBeforeAny : Fill::EndPartway, {}};
        filled += *r;
    }
    return {Fill::Full, {}};
}

boost::system::error_code write_all(ByteSink& output, std::string_view bytes) {
    while (!bytes.empty()) {
        IoResult r = output.write_some(bytes);
        if (!r && r.error() == boost::system::errc::interrupted) continue;
        if (!r) return r.error();
        // A sink that takes nothing would have us loop forever.
        if (*r == 0) return make_error_code(boost::system::errc::io_error);
        bytes.remove_prefix(*r);
    }
    return {};
}

}  // namespace

std::string display_text(const FrameError& error) {
    switch (error.kind) {
        case FrameError::Kind::EndOfStream: return "the stream ended between frames";
        case FrameError::Kind::Truncated: return "the frame was truncated";
        case FrameError::Kind::Empty: return "the frame was empty";
        case FrameError::Kind::TooLarge:
            return "the frame declared " + std::to_string(error.declared_length) + " bytes, over the " +
                   std::to_string(MAX_FRAME) + " limit";
        case FrameError::Kind::Io: return "the stream failed";
    }
    return "the stream failed";
}

std::ostream& operator<<(std::ostream& out, const FrameError& error) {
    out << display_text(error);
    if (error.kind == FrameError::Kind::Io) out << " (" << error.error.message() << ")";
    return out;
}

std::array<char, 4> encode_length(std::uint32_t length) {
    return {static_cast<char>(length & 0xFF), static_cast<char>((length >> 8) & 0xFF),
            static_cast<char>((length >> 16) & 0xFF), static_cast<char>((length >> 24) & 0xFF)};
}

std::uint32_t decode_length(const std::array<char, 4>& prefix) {
    std::uint32_t length = 0;
    for (int i = 3; i >= 0; --i) {
        length = (length << 8) | static_cast<unsigned char>(prefix[static_cast<std::size_t>(i)]);
    }
    return length;
}

FrameStatus check_frame_size(std::size_t size) {
    if (fits_one_frame(size)) return {};
    if (size == 0) return FrameError::empty();
    constexpr std::size_t largest = std::numeric_limits<std::uint32_t>::max();
    return FrameError::too_large(static_cast<std::uint32_t>(size > largest ? largest : size));
}

FrameResult read_frame(ByteSource& input) {
    std::array<char, 4> prefix{};
    FillResult got = read_exactly(input, prefix.data(), prefix.size());
    switch (got.outcome) {
        case Fill::Full: break;
        case Fill::EndBeforeAny: return FrameError::end_of_stream();
        case Fill::EndPartway: return FrameError::truncated();
        case Fill::Failed: return FrameError::io(got.error);
    }
    std::uint32_t length = decode_length(prefix);
    if (auto valid = check_frame_size(length); !valid) return valid.error();

    std::string body(length, '\0');
    got = read_exactly(input, body.data(), body.size());
    switch (got.outcome) {
        case Fill::Full: return body;
        case Fill::EndBeforeAny:
        case Fill::EndPartway: return FrameError::truncated();
        case Fill::Failed: return FrameError::io(got.error);
    }
    return FrameError::truncated();
}

FrameStatus write_frame(ByteSink& output, std::string_view body) {
    if (auto valid = check_frame_size(body.size()); !valid) return valid;
    std::array<char, 4> prefix = encode_length(static_cast<std::uint32_t>(body.size()));
    // One write for the whole frame: a system call costs more than copying a body of at most
    // 64 KiB, and the reader wakes once instead of twice. Without memory for the copy, prefix
    // and body go in two writes rather than not at all.
    std::string frame;
    try {
        frame.reserve(prefix.size() + body.size());
        frame.append(prefix.data(), prefix.size()).append(body);
    } catch (const std::bad_alloc&) {
        if (auto error = write_all(output, std::string_view(prefix.data(), prefix.size()))) {
            return FrameError::io(error);
        }
        frame.clear();
    }
    if (auto error = write_all(output, frame.empty() ? body : std::string_view(frame))) {
        return FrameError::io(error);
    }
    if (auto error = output.flush()) return FrameError::io(error);
    return {};
}

void write_encoded_reply(ByteSink& output, std::string_view encoded, Diagnostics& diagnostics) {
    if (encoded.empty()) {
        diagnostics.line("could not encode a response");
        return;
    }
    std::lock_guard<std::mutex> frame(output.frame_lock());
    if (auto written = write_frame(output, encoded); !written) {
        diagnostics.line("could not write a response: " + display_text(written.error()));
    }
    (void)output.flush();  // once more, whatever happened; a failure here has nowhere to go
}

}  // namespace ondrake::framing
