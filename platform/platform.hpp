// The few system calls whose spelling differs between macOS and Linux, kept in one place.
// macOS is the product's platform; Linux is where we develop and test. Everything else in the
// project uses plain POSIX and does not need to know which of the two it runs on.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <csignal>
#include <optional>
#include <spawn.h>
#include <sys/types.h>
#include <string>
#include <string_view>

#include <boost/system/error_code.hpp>
#include <boost/system/result.hpp>

namespace ondrake::platform {

// A new AF_UNIX stream socket that is close-on-exec (so a launched application never inherits
// it) and, when `non_blocking`, in non-blocking mode. On macOS it also carries SO_NOSIGPIPE.
// Returns the descriptor, or -1 with errno set.
int open_unix_stream_socket(bool non_blocking);

// Makes writes to a peer that has gone away fail with EPIPE instead of raising SIGPIPE,
// where the platform offers that per socket (SO_NOSIGPIPE on macOS). Returns 0 or -1.
int suppress_sigpipe(int fd);

// Flags to add to send(2) so that it never raises SIGPIPE (MSG_NOSIGNAL on Linux; on macOS
// the socket option does that job and the flag does not exist).
int send_no_signal_flag();

// Forces a file's data to stable storage: F_FULLFSYNC on macOS (plain fsync there only
// reaches the drive's cache), fsync on Linux. Returns 0 or -1 with errno set.
int full_sync(int fd);

// Makes a rename inside `directory` durable. Linux needs the directory itself synced;
// on macOS F_FULLFSYNC of the file already flushes the drive, so this does nothing there.
int sync_directory(const std::string& directory);

// The path of the running executable as the system reports it, not yet resolved.
std::optional<std::string> running_executable_path();

// Nanoseconds of a monotonic clock that no time adjustment can slew.
std::uint64_t monotonic_raw_ns();

// Whether a process with this id exists, whoever's it is: signal 0 only asks, and a process of
// another user answers EPERM, which means it is there.
bool process_exists(int pid);

// Writes all of `bytes` to the blocking descriptor `fd` (a file, a pipe, standard error),
// continuing after short writes and interrupted calls. A write that moves nothing is io_error, so
// that a descriptor that takes nothing cannot keep the caller looping. On error some bytes may
// have gone out. The one such loop of the project; the frame writers build on their own streams.
[[nodiscard]] boost::system::error_code write_all(int fd, std::string_view bytes);

// What wait_ready waits for.
enum class Ready { ForReading, ForWriting };

// Waits until a read from `fd` (or a write to it) would not block, for at most `timeout_ms`
// milliseconds (-1: as long as it takes; 0: only looks). Changes nothing about the descriptor, so
// it serves descriptors whose open file description a parent shares with us. An error or a
// hang-up counts as ready: the read or write then reports it. Returns 1 when ready, 0 when the time
// ran out, -1 with errno set (EINTR included). poll(2) on Linux; select(2) on macOS, whose poll
// does not support devices such as a terminal.
int wait_ready(int fd, Ready direction, int timeout_ms);

// The most bytes one write(2) to a pipe moves whole or not at all: PIPE_BUF, 512 on macOS and
// 4096 on Linux. A pipe reported writable has room for at least this much.
inline constexpr std::size_t ATOMIC_PIPE_WRITE = PIPE_BUF;

// Writes `prefix` + `text` + a line feed to `fd` in one write(2), only when `fd` reports room for
// it now: a diagnostic line never waits for a reader that does not read, and it is dropped
// instead. A line longer than ATOMIC_PIPE_WRITE is cut to fit (at a UTF-8 character boundary) and
// ends in "...", so that on a pipe it arrives whole or not at all, never mixed with another
// writer's line. Allocates nothing. True when the whole line was written.
//
// The room is looked at, then the write is made: a writer in another process that fills the same
// pipe between the two would still make the write wait until the reader takes something. Nothing
// short of changing the shared description's flags closes that gap; the programs here give what
// they start a standard error of its own. Threads of one process that share a descriptor must
// take turns around the call, or the same gap opens between them.
bool write_line_without_waiting(int fd, std::string_view prefix, std::string_view text);

// A second line of defence, beside close-on-exec, that a spawned process receives no descriptor
// of ours except those the file actions set up: POSIX_SPAWN_CLOEXEC_DEFAULT on macOS,
// closefrom(3) as a file action on Linux. Call after the other file actions and attribute flags
// are in place. Returns 0 or an error number.
int spawn_only_listed_descriptors(posix_spawnattr_t* attributes, posix_spawn_file_actions_t* actions);

// The set-up of one posix_spawn, owned for its duration: what the child's descriptors become and
// which signals it starts with. Every program that starts another (the launcher, the tools, the
// tests and benchmarks) builds its child with this, so that the set-up is written once. A step
// that fails is remembered; spawn() then reports it instead of starting anything.
class SpawnSetup {
public:
    SpawnSetup();
    ~SpawnSetup();
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // The child's `fd` opened on `path` (O_CREAT needs `mode`).
    void open(int fd, const char* path, int flags, mode_t mode = 0);
    // The child's `to` is our `from`.
    void duplicate(int from, int to);
    // The child's `fd` is not open at all.
    void close(int fd);
    // The child starts in `directory` (copied here): posix_spawn_file_actions_addchdir_np, which
    // glibc 2.29 and macOS 10.15 both offer under that name.
    void change_directory(const char* directory);
    // `signal` at its default action in the child, even when we ignore it (an ignored signal
    // survives exec).
    void default_signal(int signal);
    // No descriptor of ours reaches the child but those set up above (spawn_only_listed_
    // descriptors). Call after the other steps.
    void only_listed_descriptors();

    // The first step that failed, as an error number; 0 when every step so far succeeded.
    int error() const { return error_; }

    // Starts `path` with `argv` (argv[0] included, null-terminated) and `envp`, default this
    // process's environment. Allocates nothing, so it may run in a freshly forked child.
    [[nodiscard]] boost::system::result<pid_t> spawn(const char* path, char* const argv[],
                                                     char* const envp[] = nullptr) const;

private:
    void record(int error);

    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
    sigset_t default_signals_;
    bool actions_made_ = false;
    bool attributes_made_ = false;
    int error_ = 0;
};

}  // namespace ondrake::platform
