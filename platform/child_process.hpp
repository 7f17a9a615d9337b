// What a program that runs another program and watches it needs, where macOS and Linux differ:
// the tools, the tests and the benchmarks. Nothing the host or the Safari handler ships calls
// these, so they live apart from platform.hpp, in a library the shipped programs do not link.
#pragma once

#include <cstdint>
#include <optional>

namespace ondrake::platform {

// A pipe whose two ends are close-on-exec. Returns 0 or -1 with errno set.
int pipe_cloexec(int fds[2]);

// The peak resident memory of the running process `pid` so far, in bytes: VmHWM of
// /proc/<pid>/status on Linux, the lifetime peak of the physical footprint on macOS. None when
// the process cannot be inspected. (getrusage's ru_maxrss will not do for a process started
// with posix_spawn on Linux: it includes the parent's memory from before the exec.)
std::optional<std::uint64_t> peak_resident_bytes(int pid);

}  // namespace ondrake::platform
