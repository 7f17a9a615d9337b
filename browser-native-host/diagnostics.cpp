#include "browser-native-host/diagnostics.hpp"

#include <cerrno>
#include <unistd.h>

namespace ondrake {

void FdDiagnostics::line(std::string_view message) {
    std::string text;
    text.reserve(LOG_PREFIX.size() + message.size() + 1);
    text.append(LOG_PREFIX).append(message).push_back('\n');
    std::size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(fd_, text.data() + written, text.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return;  // standard error is gone: the line is dropped, the host goes on
        }
    }
}

}  // namespace ondrake
