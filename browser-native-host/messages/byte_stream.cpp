#include "browser-native-host/messages/byte_stream.hpp"

#include "platform/platform.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace ondrake {

namespace {

IoResult last_error() { return boost::system::error_code(errno, boost::system::system_category()); }

// True when a call failed only because the descriptor is in non-blocking mode and not ready yet.
bool would_block() { return errno == EAGAIN || errno == EWOULDBLOCK; }

}  // namespace

// A parent may hand us a standard stream whose open file description is in non-blocking mode,
// and may share that description with other processes: its flags are not ours to change. A read
// or write that would block waits for the descriptor instead, which is what the stream means to
// its users. A wait cut short by a signal is just another try.
IoResult FdSource::read_some(char* data, std::size_t size) {
    for (;;) {
        ssize_t n = ::read(fd_, data, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (!would_block()) return last_error();
        if (platform::wait_ready(fd_, platform::Ready::ForReading, -1) < 0 && errno != EINTR) {
            return last_error();
        }
    }
}

IoResult FdSink::write_some(std::string_view bytes) {
    for (;;) {
        ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n >= 0) return static_cast<std::size_t>(n);
        if (!would_block()) return last_error();
        if (platform::wait_ready(fd_, platform::Ready::ForWriting, -1) < 0 && errno != EINTR) {
            return last_error();
        }
    }
}

IoResult MemorySource::read_some(char* data, std::size_t size) {
    std::size_t n = std::min({size, chunk_, bytes_.size() - position_});
    std::memcpy(data, bytes_.data() + position_, n);
    position_ += n;
    return n;
}

}  // namespace ondrake
