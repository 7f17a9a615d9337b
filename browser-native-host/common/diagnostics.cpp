#include "browser-native-host/common/diagnostics.hpp"

#include "platform/platform.hpp"

#include <new>

namespace ondrake {

void FdDiagnostics::line(std::string_view message) {
    // When standard error is gone the line is dropped and the host goes on.
    std::string text;
    try {
        text.reserve(LOG_PREFIX.size() + message.size() + 1);
    } catch (const std::bad_alloc&) {
        // Out of memory, which is when a line matters most: in pieces rather than not at all.
        if (!platform::write_all(fd_, LOG_PREFIX) && !platform::write_all(fd_, message)) {
            (void)platform::write_all(fd_, "\n");
        }
        return;
    }
    text.append(LOG_PREFIX).append(message).push_back('\n');
    (void)platform::write_all(fd_, text);
}

}  // namespace ondrake
