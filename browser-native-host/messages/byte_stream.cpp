#include "browser-native-host/messages/byte_stream.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace ondrake {

IoResult FdSource::read_some(char* data, std::size_t size) {
    ssize_t n = ::read(fd_, data, size);
    if (n < 0) return boost::system::error_code(errno, boost::system::system_category());
    return static_cast<std::size_t>(n);
}

IoResult FdSink::write_some(std::string_view bytes) {
    ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) return boost::system::error_code(errno, boost::system::system_category());
    return static_cast<std::size_t>(n);
}

IoResult MemorySource::read_some(char* data, std::size_t size) {
    std::size_t n = std::min({size, chunk_, bytes_.size() - position_});
    std::memcpy(data, bytes_.data() + position_, n);
    position_ += n;
    return n;
}

}  // namespace ondrake
