#include "platform/child_process.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>

#if defined(__APPLE__)
#include <libproc.h>
#include <sys/resource.h>
#endif

namespace ondrake::platform {

int pipe_cloexec(int fds[2]) {
#if defined(__APPLE__)
    // macOS has no pipe2: the flag is set on each end right after.
    if (::pipe(fds) != 0) return -1;
    if (::fcntl(fds[0], F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(fds[1], F_SETFD, FD_CLOEXEC) != 0) {
        int saved = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        errno = saved;
        return -1;
    }
    return 0;
#else
    return ::pipe2(fds, O_CLOEXEC);
#endif
}

std::optional<std::uint64_t> peak_resident_bytes(int pid) {
#if defined(__APPLE__)
    rusage_info_v4 usage{};
    if (::proc_pid_rusage(pid, RUSAGE_INFO_V4, reinterpret_cast<rusage_info_t*>(&usage)) != 0) {
        return std::nullopt;
    }
    return usage.ri_lifetime_max_phys_footprint;
#else
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) != 0) continue;
        std::uint64_t kib = std::strtoull(line.c_str() + 6, nullptr, 10);  // "VmHWM:    1234 kB"
        return kib * 1024;
    }
    return std::nullopt;
#endif
}

}  // namespace ondrake::platform
