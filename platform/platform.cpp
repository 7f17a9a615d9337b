#include "platform/platform.hpp"

#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdlib>
#include <string>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

extern char** environ;

namespace ondrake::platform {

#if defined(__APPLE__)
namespace {

// Sets close-on-exec and, optionally, non-blocking mode on an existing descriptor.
int set_descriptor_flags(int fd, bool non_blocking) {
    if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return -1;
    if (!non_blocking) return 0;
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return -1;
    return ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

}  // namespace
#endif

int open_unix_stream_socket(bool non_blocking) {
#if defined(__APPLE__)
    // macOS has no SOCK_CLOEXEC; nothing else runs on our thread between socket() and
    // fcntl(), and the launcher spawns only from this same thread.
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    if (set_descriptor_flags(fd, non_blocking) != 0 || suppress_sigpipe(fd) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
#else
    int type = SOCK_STREAM | SOCK_CLOEXEC | (non_blocking ? SOCK_NONBLOCK : 0);
    return ::socket(AF_UNIX, type, 0);
#endif
}

int suppress_sigpipe(int fd) {
#if defined(__APPLE__)
    int on = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#else
    (void)fd;  // Linux: every send passes MSG_NOSIGNAL instead (send_no_signal_flag).
    return 0;
#endif
}

int send_no_signal_flag() {
#if defined(__APPLE__)
    return 0;
#else
    return MSG_NOSIGNAL;
#endif
}

int full_sync(int fd) {
#if defined(__APPLE__)
    if (::fcntl(fd, F_FULLFSYNC) == 0) return 0;
    // Some file systems (network shares, FAT) refuse F_FULLFSYNC; fsync is the best left.
    return ::fsync(fd);
#else
    return ::fsync(fd);
#endif
}

int sync_directory(const std::string& directory) {
#if defined(__APPLE__)
    (void)directory;
    return 0;
#else
    int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    int result = ::fsync(fd);
    int saved = errno;
    ::close(fd);
    errno = saved;
    return result;
#endif
}

std::optional<std::string> running_executable_path() {
#if defined(__APPLE__)
    std::uint32_t size = 0;
    ::_NSGetExecutablePath(nullptr, &size);
    std::string path(size, '\0');
    if (::_NSGetExecutablePath(path.data(), &size) != 0) return std::nullopt;
    path.resize(path.find('\0') == std::string::npos ? path.size() : path.find('\0'));
    if (path.empty()) return std::nullopt;
    return path;
#else
    std::string path(PATH_MAX, '\0');
    ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return std::nullopt;
    path.resize(static_cast<std::size_t>(length));
    return path;
#endif
}

std::uint64_t monotonic_raw_ns() {
#if defined(__APPLE__)
    return ::clock_gettime_nsec_np(CLOCK_MONOTONIC_RAW);
#else
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_RAW, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(now.tv_nsec);
#endif
}

bool process_exists(int pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

boost::system::error_code write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return {errno, boost::system::system_category()};
        if (written == 0) return make_error_code(boost::system::errc::io_error);
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

int wait_ready(int fd, Ready direction, int timeout_ms) {
#if defined(__APPLE__)
    // select reaches only descriptors below FD_SETSIZE; above it (never a standard stream) poll
    // serves, as on Linux.
    if (fd >= 0 && fd < FD_SETSIZE) {
        fd_set descriptors;
        FD_ZERO(&descriptors);
        FD_SET(fd, &descriptors);
        timeval limit{timeout_ms / 1000, static_cast<suseconds_t>((timeout_ms % 1000) * 1000)};
        fd_set* reading = direction == Ready::ForReading ? &descriptors : nullptr;
        fd_set* writing = direction == Ready::ForWriting ? &descriptors : nullptr;
        int count = ::select(fd + 1, reading, writing, nullptr, timeout_ms < 0 ? nullptr : &limit);
        return count > 0 ? 1 : count;
    }
#endif
    pollfd ready{fd, static_cast<short>(direction == Ready::ForReading ? POLLIN : POLLOUT), 0};
    int count = ::poll(&ready, 1, timeout_ms);
    return count > 0 ? 1 : count;
}

bool write_line_without_waiting(int fd, std::string_view prefix, std::string_view text) {
    constexpr std::string_view CUT = "...";
    char line[ATOMIC_PIPE_WRITE];
    std::size_t room = sizeof line - 1;  // the line feed always fits
    std::size_t size = 0;
    bool cut = false;
    for (std::string_view part : {prefix, text}) {
        std::size_t taken = std::min(part.size(), room - size);
        cut = cut || taken < part.size();
        std::memcpy(line + size, part.data(), taken);
        size += taken;
    }
    if (cut) {
        size = room - CUT.size();
        // Back to the first byte of a character, so that a cut leaves no partial UTF-8 sequence.
        while (size > 0 && (static_cast<unsigned char>(line[size]) & 0xC0) == 0x80) --size;
        std::memcpy(line + size, CUT.data(), CUT.size());
        size += CUT.size();
    }
    line[size++] = '\n';
    if (wait_ready(fd, Ready::ForWriting, 0) != 1) return false;
    ssize_t written = ::write(fd, line, size);
    return written == static_cast<ssize_t>(size);
}

int spawn_only_listed_descriptors(posix_spawnattr_t* attributes, posix_spawn_file_actions_t* actions) {
#if defined(__APPLE__)
    (void)actions;
    short flags = 0;
    if (int error = ::posix_spawnattr_getflags(attributes, &flags); error != 0) return error;
    return ::posix_spawnattr_setflags(attributes, static_cast<short>(flags | POSIX_SPAWN_CLOEXEC_DEFAULT));
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    (void)attributes;
    return ::posix_spawn_file_actions_addclosefrom_np(actions, 3);
#else
    (void)attributes;
    (void)actions;
    return 0;  // close-on-exec on every descriptor we open is the only guard here
#endif
}

SpawnSetup::SpawnSetup() {
    sigemptyset(&default_signals_);
    int actions_error = ::posix_spawn_file_actions_init(&actions_);
    actions_made_ = actions_error == 0;
    record(actions_error);
    int attributes_error = ::posix_spawnattr_init(&attributes_);
    attributes_made_ = attributes_error == 0;
    record(attributes_error);
}

SpawnSetup::~SpawnSetup() {
    if (actions_made_) ::posix_spawn_file_actions_destroy(&actions_);
    if (attributes_made_) ::posix_spawnattr_destroy(&attributes_);
}

void SpawnSetup::record(int error) {
    if (error_ == 0) error_ = error;
}

void SpawnSetup::open(int fd, const char* path, int flags, mode_t mode) {
    if (error_ == 0) record(::posix_spawn_file_actions_addopen(&actions_, fd, path, flags, mode));
}

void SpawnSetup::duplicate(int from, int to) {
    if (error_ == 0) record(::posix_spawn_file_actions_adddup2(&actions_, from, to));
}

void SpawnSetup::close(int fd) {
    if (error_ == 0) record(::posix_spawn_file_actions_addclose(&actions_, fd));
}

void SpawnSetup::change_directory(const char* directory) {
    if (error_ == 0) record(::posix_spawn_file_actions_addchdir_np(&actions_, directory));
}

void SpawnSetup::default_signal(int signal) {
    if (error_ != 0) return;
    sigaddset(&default_signals_, signal);
    record(::posix_spawnattr_setsigdefault(&attributes_, &default_signals_));
    short flags = 0;
    if (error_ == 0) record(::posix_spawnattr_getflags(&attributes_, &flags));
    if (error_ == 0) {
        record(::posix_spawnattr_setflags(&attributes_, static_cast<short>(flags | POSIX_SPAWN_SETSIGDEF)));
    }
}

void SpawnSetup::only_listed_descriptors() {
    if (error_ == 0) record(spawn_only_listed_descriptors(&attributes_, &actions_));
}

boost::system::result<pid_t> SpawnSetup::spawn(const char* path, char* const argv[],
                                               char* const envp[]) const {
    if (error_ != 0) return boost::system::error_code(error_, boost::system::system_category());
    pid_t pid = -1;
    int error = ::posix_spawn(&pid, path, &actions_, &attributes_, argv, envp ? envp : environ);
    if (error != 0) return boost::system::error_code(error, boost::system::system_category());
    return pid;
}

}  // namespace ondrake::platform
