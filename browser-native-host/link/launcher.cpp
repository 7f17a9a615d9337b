#include "browser-native-host/link/launcher.hpp"

#include "browser-native-host/common/text.hpp"
#include "browser-native-host/common/user_dirs.hpp"
#include "browser-native-host/common/whole_file.hpp"
#include "platform/platform.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ondrake::launcher {

namespace {

constexpr std::string_view LOCATE_FAILED = "stage=app_locate kind=NotFound os_error=none";
constexpr std::string_view SPAWN_STARTING =
    "stage=app_spawn in_job=n/a breakaway_ok=n/a silent_breakaway_ok=n/a";

struct ErrorKind {
    int number;        // the local error constant
    int macos_number;  // its value on macOS, where the product runs
    std::string_view kind;
};

// Mapped by symbolic constant, so that Linux, whose numbering differs (EAGAIN is 11 there, 35 on
// macOS), reports the same kinds; the line still prints the local number.
constexpr ErrorKind ERROR_KINDS[] = {
    {EPERM, 1, "PermissionDenied"},
    {EACCES, 13, "PermissionDenied"},
    {ENOENT, 2, "NotFound"},
    {EINTR, 4, "Interrupted"},
    {E2BIG, 7, "ArgumentListTooLong"},
    {EDEADLK, 11, "Deadlock"},
    {ENOMEM, 12, "OutOfMemory"},
    {EBUSY, 16, "ResourceBusy"},
    {EEXIST, 17, "AlreadyExists"},
    {EXDEV, 18, "CrossesDevices"},
    {ENOTDIR, 20, "NotADirectory"},
    {EISDIR, 21, "IsADirectory"},
    {EINVAL, 22, "InvalidInput"},
    {ENFILE, 23, "TooManyOpenFiles"},
    {EMFILE, 24, "TooManyOpenFiles"},
    {ETXTBSY, 26, "ExecutableFileBusy"},
    {EFBIG, 27, "FileTooLarge"},
    {ENOSPC, 28, "StorageFull"},
    {ESPIPE, 29, "NotSeekable"},
    {EROFS, 30, "ReadOnlyFilesystem"},
    {EMLINK, 31, "TooManyLinks"},
    {EPIPE, 32, "BrokenPipe"},
    {EAGAIN, 35, "WouldBlock"},
    {EWOULDBLOCK, 35, "WouldBlock"},
    {EINPROGRESS, 36, "InProgress"},
    {EADDRINUSE, 48, "AddrInUse"},
    {EADDRNOTAVAIL, 49, "AddrNotAvailable"},
    {ENETDOWN, 50, "NetworkDown"},
    {ENETUNREACH, 51, "NetworkUnreachable"},
    {ECONNABORTED, 53, "ConnectionAborted"},
    {ECONNRESET, 54, "ConnectionReset"},
    {ENOTCONN, 57, "NotConnected"},
    {ETIMEDOUT, 60, "TimedOut"},
    {ECONNREFUSED, 61, "ConnectionRefused"},
    {ELOOP, 62, "FilesystemLoop"},
    {ENAMETOOLONG, 63, "InvalidFilename"},
    {EHOSTUNREACH, 65, "HostUnreachable"},
    {ENOTEMPTY, 66, "DirectoryNotEmpty"},
    {EDQUOT, 69, "QuotaExceeded"},
    {ESTALE, 70, "StaleNetworkFileHandle"},
    {ENOSYS, 78, "Unsupported"},
    {EOPNOTSUPP, 102, "Unsupported"},
};

#if defined(__APPLE__)
constexpr bool table_matches_platform() {
    for (const auto& entry : ERROR_KINDS) {
        if (entry.number != entry.macos_number) return false;
    }
    return true;
}
static_assert(table_matches_platform(), "the error table must follow macOS numbering");
#endif

// Why a start failed: an error number when the system gave one.
struct StartFailure {
    std::optional<int> error_number;
};

// Null device on the three standard streams, SIGPIPE back to its default action (the host
// ignores it, and ignored signals survive exec), no other descriptor.
void prepare(platform::SpawnSetup& setup) {
    const int modes[3] = {O_RDONLY, O_WRONLY, O_WRONLY};
    for (int fd = 0; fd < 3; ++fd) setup.open(fd, "/dev/null", modes[fd]);
    setup.default_signal(SIGPIPE);
    setup.only_listed_descriptors();
}

// Starts `program` with no arguments, through an intermediate process that spawns it and exits at
// once. The application is thereby adopted by the system's init process, which collects it when
// it exits; we only collect the intermediate, which takes no longer than the spawn itself. The
// intermediate reports the spawn's error number as its exit status (0: started).
std::optional<StartFailure> start_detached(const std::string& program) {
    platform::SpawnSetup setup;
    prepare(setup);
    if (int error = setup.error(); error != 0) return StartFailure{error};
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};

    // Everything is allocated before the fork: the intermediate only spawns and exits.
    pid_t intermediate = ::fork();
    if (intermediate < 0) return StartFailure{errno};
    if (intermediate == 0) {
        auto application = setup.spawn(program.c_str(), argv);
        ::_exit(application ? 0 : application.error().value());
    }

    int status = 0;
    while (::waitpid(intermediate, &status, 0) < 0) {
        if (errno != EINTR) return StartFailure{errno};
    }
    if (!WIFEXITED(status)) return StartFailure{std::nullopt};
    if (int error = WEXITSTATUS(status); error != 0) return StartFailure{error};
    return std::nullopt;
}

std::string spawn_failure_line(const StartFailure& failure) {
    std::string line = "stage=app_spawn kind=";
    if (failure.error_number) {
        line.append(error_kind_name(*failure.error_number));
        line.append(" os_error=").append(std::to_string(*failure.error_number));
    } else {
        line.append("Other os_error=none");
    }
    return line;
}

}  // namespace

std::string_view error_kind_name(int error_number) {
    for (const auto& entry : ERROR_KINDS) {
        if (entry.number == error_number) return entry.kind;
    }
    return "Uncategorized";
}

std::optional<std::string> recorded_application() {
    auto state_dir = user_dirs::user_state_dir();
    if (!state_dir) return std::nullopt;
    // A record over its ceiling counts as absent, like any record that cannot be read.
    auto content =
        whole_file::read_utf8(*state_dir / user_dirs::APP_PATH_RECORD_NAME, whole_file::PATH_RECORD_CEILING);
    if (!content) return std::nullopt;
    return std::string(text::trim_white_space(*content));
}

// A zero byte would make the system see a different, shorter path than the one checked, so such
// a candidate is refused as well.
bool is_usable_candidate(const std::string& candidate) {
    if (candidate.empty() || candidate.front() != '/') return false;
    if (candidate.find('\0') != std::string::npos) return false;
    struct stat info {};
    return ::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::optional<std::string> application_candidate() {
    if (const char* override_path = std::getenv(APP_OVERRIDE_ENV)) {
        return std::string(override_path);
    }
    return recorded_application();
}

bool ProcessLauncher::launch() {
    auto candidate = application_candidate();
    if (!candidate || !is_usable_candidate(*candidate)) {
        diagnostics_.line(LOCATE_FAILED);
        return false;
    }
    diagnostics_.line(SPAWN_STARTING);
    if (auto failure = start_detached(*candidate)) {
        diagnostics_.line(spawn_failure_line(*failure));
        return false;
    }
    return true;
}

}  // namespace ondrake::launcher
