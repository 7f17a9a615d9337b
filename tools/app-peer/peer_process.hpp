// Starts and stops the reference application peer (app-peer) as a separate process, for tests and
// tools that need a real application on a real socket.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace ondrake::app_peer {

class PeerProcess {
public:
    // Runs `executable` with `--socket` for each of `sockets`, then `arguments`, logging to a file
    // and signalling readiness through a file, both in `scratch_dir`. Returns once every socket
    // listens; none when the peer could not be started or did not get ready within `limit`.
    static std::optional<PeerProcess> start(const std::string& executable,
                                            const std::vector<std::string>& sockets,
                                            const std::vector<std::string>& arguments,
                                            const std::string& scratch_dir,
                                            std::chrono::milliseconds limit = std::chrono::seconds(20));

    PeerProcess(PeerProcess&& other) noexcept;
    PeerProcess& operator=(PeerProcess&& other) noexcept;
    PeerProcess(const PeerProcess&) = delete;
    ~PeerProcess();

    // SIGTERM, then waits for the exit (SIGKILL after 10 s). Returns the exit status, or -1 when
    // the peer did not exit normally. Calling it again returns the same status.
    int stop();

    // The peer's log so far: one JSON text per connection.
    std::vector<std::string> log_lines() const;

    pid_t pid() const { return pid_; }

private:
    PeerProcess(pid_t pid, std::string log_path) : pid_(pid), log_path_(std::move(log_path)) {}

    pid_t pid_;
    std::string log_path_;
    std::optional<int> exit_status_;
};

}  // namespace ondrake::app_peer
