// A stand-in for the desktop application on a real Unix-domain socket, which each test scripts to
// behave well or badly. Directories and frames come from the shared test support.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "browser-native-host/tests/support/frames.hpp"
#include "browser-native-host/tests/support/test_support.hpp"

namespace ondrake::safari::testing_support {

using test::framed;
using test::prefix;
using test::TempDir;

// Milliseconds since `start` on the steady clock.
double elapsed_ms(std::chrono::steady_clock::time_point start);

class TestPeer;

// One accepted connection, seen from the application's side. Every wait ends when the peer stops.
class PeerConnection {
public:
    PeerConnection(TestPeer& peer, int fd) : peer_(peer), fd_(fd) {}

    // Reads one request frame and returns its body; the whole frame, header included, is also
    // recorded in the peer's requests(). Nothing when the client closed first or the peer stops.
    std::optional<std::string> read_request();
    // Reads until the client closes; the bytes read.
    std::string read_to_end();
    // Sends all of `bytes`; false when the client has gone.
    bool send(std::string_view bytes);
    // Waits without answering until the peer stops: an application that has hung.
    void hold_open();

private:
    // Up to `count` bytes, waiting as long as needed; nothing on end of stream, error or stop.
    std::optional<std::string> read_some(std::size_t count);
    std::optional<std::string> read_exactly(std::size_t count);

    TestPeer& peer_;
    int fd_;
};

class TestPeer {
public:
    using Handler = std::function<void(PeerConnection&)>;

    // Listens on `socket_path` (creating its directory) and runs `handler` for every connection,
    // each on a thread of its own, then closes that connection. With `accepting` false the peer
    // only listens: connections wait in the backlog.
    TestPeer(std::string socket_path, Handler handler, int backlog = 16, bool accepting = true);
    ~TestPeer();
    TestPeer(const TestPeer&) = delete;
    TestPeer& operator=(const TestPeer&) = delete;

    int accepted() const { return accepted_.load(); }
    // Every request frame read so far, header included, in the order they were read.
    std::vector<std::string> requests() const;
    const std::string& socket_path() const { return socket_path_; }

private:
    friend class PeerConnection;

    void accept_loop();
    void record(std::string request);
    // Waits until `fd` is readable; false when the peer is stopping instead.
    bool wait_readable(int fd);

    std::string socket_path_;
    Handler handler_;
    int listen_fd_ = -1;
    int stop_pipe_[2] = {-1, -1};
    std::atomic<int> accepted_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

// Client sockets that fill the backlog of the listener at `socket_path`, never accepted. Closed
// when the value goes away.
class BacklogFiller {
public:
    explicit BacklogFiller(const std::string& socket_path);
    ~BacklogFiller();
    BacklogFiller(const BacklogFiller&) = delete;
    BacklogFiller& operator=(const BacklogFiller&) = delete;
    // True when a further connect would have to wait (or be refused) for lack of backlog room.
    bool full() const { return full_; }

private:
    std::vector<int> fds_;
    bool full_ = false;
};

}  // namespace ondrake::safari::testing_support

#include "safari-extension/socket_exchange.hpp"

namespace ondrake::safari::testing_support {

// "replied:<body>", "unavailable:<code>" or "indeterminate:<code>", for readable comparisons.
std::string describe(const Exchange& outcome);

}  // namespace ondrake::safari::testing_support
