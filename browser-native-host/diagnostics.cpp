#include "browser-native-host/diagnostics.hpp"

#include "platform/platform.hpp"

namespace ondrake {

void FdDiagnostics::line(std::string_view message) {
    std::string text;
    text.reserve(LOG_PREFIX.size() + message.size() + 1);
    text.append(LOG_PREFIX).append(message).push_back('\n');
    // When standard error is gone the line is dropped and the host goes on.
    (void)platform::write_all(fd_, text);
}

}  // namespace ondrake
