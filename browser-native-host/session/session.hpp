// The native-messaging session: what ondrake-native-host does for a browser. It reads the
// extension's messages one frame at a time, has each one checked, hands the accepted ones to the
// desktop application, and answers every message with exactly one reply frame, until the input
// ends.
#pragma once

#include "browser-native-host/messages/byte_stream.hpp"
#include "browser-native-host/link/delivery.hpp"
#include "browser-native-host/common/diagnostics.hpp"

#include <boost/asio/awaitable.hpp>

#include <optional>
#include <string>

namespace ondrake::session {

// Everything a session works with. The streams, the diagnostics and the launcher are borrowed
// for the session's whole life; the process passes its standard streams and a ProcessLauncher,
// tests pass memory streams and a launcher of their own.
struct Session {
    ByteSource& input;
    ByteSink& output;
    Diagnostics& diagnostics;
    delivery::Launcher& launcher;
    // The application's socket, computed once by the caller (ipc::user_endpoint). Without one,
    // every request is answered as unavailable, with no connection and no launch.
    std::optional<std::string> endpoint;
    delivery::DeliveryTimings timings{};
};

// Runs on the caller's single-threaded io_context until the input ends cleanly, or until a frame
// that cannot be read has been answered. Messages are handled strictly one after another: the
// next frame is read only once the current one's reply has been written (or failed to be).
// Reading the input blocks the io_context's thread, which has nothing else to do meanwhile.
// A failure (an exception, std::bad_alloc included) while one message is handled is answered
// INTERNAL_ERROR (replies.hpp, failure_answer), logged in one line, and the session goes on with
// the next frame.
boost::asio::awaitable<void> run_session(Session session);

}  // namespace ondrake::session
