// Byte streams that the frame reader and writer work on: the host's standard input and output
// in production, memory in tests and tools. Plain read(2)/write(2), no stdio buffering: every
// frame reaches the browser when it is written.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include <boost/system/error_code.hpp>
#include <boost/system/result.hpp>

namespace ondrake {

// What one read or write call did: the count of bytes moved, or an error (EINTR included, so
// that callers decide whether to retry). A read of 0 bytes is the end of the input.
using IoResult = boost::system::result<std::size_t>;

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual IoResult read_some(char* data, std::size_t size) = 0;
};

class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual IoResult write_some(std::string_view bytes) = 0;
    // Pushes out whatever the sink buffers; unbuffered sinks have nothing to do.
    [[nodiscard]] virtual boost::system::error_code flush() { return {}; }
    // Held while a whole frame is written, so that a length prefix and its body are never
    // separated by another writer's bytes.
    std::mutex& frame_lock() { return frame_lock_; }

private:
    std::mutex frame_lock_;
};

// A file descriptor that the caller keeps open (standard input, a pipe, a socket). Reads block:
// on a descriptor in non-blocking mode a read that finds nothing waits until there is something.
class FdSource final : public ByteSource {
public:
    explicit FdSource(int fd = 0) : fd_(fd) {}
    IoResult read_some(char* data, std::size_t size) override;

private:
    int fd_;
};

// Writes to a descriptor that may have been closed by its reader: the process must ignore
// SIGPIPE so that such a write fails with EPIPE instead of ending it. Writes block: on a
// descriptor in non-blocking mode a write that finds no room waits until there is some.
class FdSink final : public ByteSink {
public:
    explicit FdSink(int fd = 1) : fd_(fd) {}
    IoResult write_some(std::string_view bytes) override;

private:
    int fd_;
};

// Hands out `bytes` in reads of at most `chunk` bytes, then reports the end of the input.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string bytes, std::size_t chunk = std::size_t(-1))
        : bytes_(std::move(bytes)), chunk_(chunk == 0 ? 1 : chunk) {}
    IoResult read_some(char* data, std::size_t size) override;
    // Bytes not read yet: what a reader left in the stream.
    std::string_view remaining() const { return std::string_view(bytes_).substr(position_); }

private:
    std::string bytes_;
    std::size_t chunk_;
    std::size_t position_ = 0;
};

// Collects everything written to it.
class MemorySink final : public ByteSink {
public:
    IoResult write_some(std::string_view bytes) override {
        written.append(bytes);
        return bytes.size();
    }
    std::string written;
};

}  // namespace ondrake
