#include "tools/app-peer/peer_process.hpp"

#include "platform/platform.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace ondrake::app_peer {

namespace {

bool file_exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// Collects the process if it has exited; its exit status then, -1 for a death by signal.
std::optional<int> collect(pid_t pid, int options) {
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(pid, &status, options);
    } while (done < 0 && errno == EINTR);
    if (done != pid) return std::nullopt;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::optional<PeerProcess> PeerProcess::start(const std::string& executable,
                                              const std::vector<std::string>& sockets,
                                              const std::vector<std::string>& arguments,
                                              const std::string& scratch_dir,
                                              std::chrono::milliseconds limit) {
    // A directory of its own, so that several peers can share one scratch directory.
    std::string own_dir = scratch_dir + "/peer-XXXXXX";
    if (::mkdtemp(own_dir.data()) == nullptr) return std::nullopt;
    std::string ready_file = own_dir + "/ready";
    std::string log_path = own_dir + "/log.jsonl";

    std::vector<std::string> words{executable};
    for (const auto& socket : sockets) {
        words.push_back("--socket");
        words.push_back(socket);
    }
    words.insert(words.end(), arguments.begin(), arguments.end());
    words.insert(words.end(), {"--log", log_path, "--ready-file", ready_file});
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    platform::SpawnSetup setup;
    setup.open(0, "/dev/null", O_RDONLY);
    setup.open(1, "/dev/null", O_WRONLY);
    auto spawned = setup.spawn(executable.c_str(), argv.data());
    if (!spawned) return std::nullopt;
    pid_t pid = *spawned;

    PeerProcess peer(pid, log_path);
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!file_exists(ready_file)) {
        if (auto status = collect(pid, WNOHANG)) {
            peer.exit_status_ = status;
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;  // ~PeerProcess stops it
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return peer;
}

PeerProcess::PeerProcess(PeerProcess&& other) noexcept
    : pid_(other.pid_), log_path_(std::move(other.log_path_)), exit_status_(other.exit_status_) {
    other.pid_ = 0;
}

PeerProcess& PeerProcess::operator=(PeerProcess&& other) noexcept {
    if (this != &other) {
        if (pid_ > 0) stop();
        pid_ = other.pid_;
        log_path_ = std::move(other.log_path_);
        exit_status_ = other.exit_status_;
        other.pid_ = 0;
    }
    return *this;
}

PeerProcess::~PeerProcess() {
    if (pid_ > 0) stop();
}

int PeerProcess::stop() {
    if (exit_status_) return *exit_status_;
    ::kill(pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        if (auto status = collect(pid_, WNOHANG)) {
            exit_status_ = status;
            return *status;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::kill(pid_, SIGKILL);
    exit_status_ = collect(pid_, 0).value_or(-1);
    return -1;
}

std::vector<std::string> PeerProcess::log_lines() const {
    std::vector<std::string> lines;
    std::ifstream in(log_path_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace ondrake::app_peer
