#include "browser-native-host/diagnostics.hpp"

#include <cerrno>
#include <new>
#include <unistd.h>

namespace ondrake {

namespace {

// False once standard error is gone: the rest of the line is dropped, the host goes on.
bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n > 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

void FdDiagnostics::line(std::string_view message) {
    std::string text;
    try {
        text.reserve(LOG_PREFIX.size() + message.size() + 1);
    } catch (const std::bad_alloc&) {
        // Out of memory, which is when a line matters most: in pieces rather than not at all.
        if (write_all(fd_, LOG_PREFIX) && write_all(fd_, message)) write_all(fd_, "\n");
        return;
    }
    text.append(LOG_PREFIX).append(message).push_back('\n');
    write_all(fd_, text);
}

}  // namespace ondrake
