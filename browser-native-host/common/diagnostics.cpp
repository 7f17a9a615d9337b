#include "browser-native-host/common/diagnostics.hpp"

#include "platform/platform.hpp"

namespace ondrake {

void FdDiagnostics::line(std::string_view message) {
    // A line that finds standard error gone or full is dropped, and the host goes on: a reader
    // that never reads must not hold up the replies.
    (void)platform::write_line_without_waiting(fd_, LOG_PREFIX, message);
}

}  // namespace ondrake
