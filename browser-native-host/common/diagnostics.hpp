// The host's diagnostic lines. Standard output belongs to the native-messaging channel, so every
// line the host prints goes to standard error as "ondrake-native-host: " + message + line feed.
// Modules take a Diagnostics& so that tests can read what was printed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ondrake {

inline constexpr std::string_view LOG_PREFIX = "ondrake-native-host: ";

class Diagnostics {
public:
    virtual ~Diagnostics() = default;
    // Prints LOG_PREFIX + message + "\n" as one line. Never fails: diagnostics are not part of
    // the protocol, so a lost line must not disturb the caller.
    virtual void line(std::string_view message) = 0;
};

// Writes each line to a file descriptor (standard error in the product) with one write call,
// so that lines from a second writer never interleave inside a line, and only when the
// descriptor has room for it at once: a line that would have to wait is dropped (see
// platform::write_line_without_waiting; a longer line than one atomic pipe write is cut).
class FdDiagnostics final : public Diagnostics {
public:
    explicit FdDiagnostics(int fd = 2) : fd_(fd) {}
    void line(std::string_view message) override;

private:
    int fd_;
};

// Keeps the lines in memory, without the prefix and the line feed; for tests and tools.
class CapturedDiagnostics final : public Diagnostics {
public:
    void line(std::string_view message) override { lines.emplace_back(message); }
    std::vector<std::string> lines;
};

}  // namespace ondrake
