// Running a session in a test: memory streams, a launcher that counts, diagnostics that keep
// their lines, short delivery limits, and the reference application peer on a socket of the
// test's own.
#pragma once

#include "browser-native-host/session/session.hpp"
#include "browser-native-host/messages/framing.hpp"
#include "browser-native-host/tests/support/asio_support.hpp"
#include "browser-native-host/tests/support/test_support.hpp"
#include "tools/app-peer/peer_process.hpp"

#include <boost/json.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ondrake::test {

inline const std::string APP_PEER = std::string(ONDRAKE_BIN_DIR) + "/app-peer";

// The bodies of the frames in `bytes`, which must be whole frames.
inline std::vector<std::string> frames_in(const std::string& bytes) {
    MemorySource source(bytes);
    std::vector<std::string> bodies;
    for (;;) {
        auto frame = framing::read_frame(source);
        if (frame) {
            bodies.push_back(std::move(*frame));
            continue;
        }
        auto error = frame.error();
        EXPECT_EQ(error.kind, framing::FrameError::Kind::EndOfStream) << framing::display_text(error);
        return bodies;
    }
}

class CountingLauncher final : public delivery::Launcher {
public:
    explicit CountingLauncher(std::function<bool()> on_launch) : on_launch_(std::move(on_launch)) {}
    bool launch() override {
        ++calls;
        return on_launch_();
    }
    int calls = 0;

private:
    std::function<bool()> on_launch_;
};

// Keeps the lines in memory, like CapturedDiagnostics, and can play running out of memory once:
// the line equal to `fail_on` throws std::bad_alloc instead of being kept, as when the host
// cannot build it.
class SessionDiagnostics final : public Diagnostics {
public:
    void line(std::string_view message) override {
        if (!fail_on.empty() && message == fail_on) {
            fail_on.clear();
            throw std::bad_alloc();
        }
        lines.emplace_back(message);
    }
    std::vector<std::string> lines;
    std::string fail_on;
};

inline delivery::DeliveryTimings quick_timings() {
    using namespace std::chrono_literals;
    delivery::DeliveryTimings timings;
    timings.reply_timeout = 300ms;
    timings.write_timeout = 300ms;
    timings.retry_delays = std::vector<delivery::Milliseconds>(8, 1ms);
    return timings;
}

inline boost::asio::awaitable<bool> completed(session::Session session) {
    co_await session::run_session(std::move(session));
    co_return true;
}

// What the application peer received, one JSON text per connection (null for a connection that
// brought no request).
inline std::vector<std::string> received_by(const app_peer::PeerProcess& peer) {
    std::vector<std::string> bodies;
    for (const auto& line : peer.log_lines()) {
        bodies.push_back(boost::json::serialize(boost::json::parse(line).as_object()["received"]));
    }
    return bodies;
}

class SessionTest : public testing::Test {
protected:
    std::string endpoint() const { return dir_ / "app.sock"; }

    app_peer::PeerProcess start_peer(const std::string& policy) {
        auto peer =
            app_peer::PeerProcess::start(APP_PEER, {endpoint()}, {"--policy", policy}, dir_.path().string());
        if (!peer) throw std::runtime_error("app-peer did not start");
        return std::move(*peer);
    }

    // Runs one session over `input` to its end; true when it ended within the limit.
    bool run(ByteSource& input, ByteSink& output, delivery::Launcher& launcher, bool with_endpoint) {
        session::Session session{input,
                                 output,
                                 diagnostics_,
                                 launcher,
                                 with_endpoint ? std::optional<std::string>(endpoint()) : std::nullopt,
                                 quick_timings()};
        return test::run(context_, completed(std::move(session)), std::chrono::seconds(30)).has_value();
    }

    TempDir dir_;
    boost::asio::io_context context_{1};
    SessionDiagnostics diagnostics_;
};

}  // namespace ondrake::test
