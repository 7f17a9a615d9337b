// ondrake-native-host: a registration verb, or the native-messaging session for a browser.
#include "browser-native-host/session/session.hpp"
#include "browser-native-host/bin/verbs.hpp"
#include "browser-native-host/messages/byte_stream.hpp"
#include "browser-native-host/common/diagnostics.hpp"
#include "browser-native-host/link/ipc.hpp"
#include "browser-native-host/link/launcher.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cerrno>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

// A parent may start us with a standard descriptor closed. The next file or socket we open would
// then take its number, and replies or log lines would land in a manifest or on the
// application's socket. The null device holds the number instead.
void hold_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        // open() takes the lowest free number, which is `fd`: the ones below it are open by now.
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) (void)::open("/dev/null", O_RDWR);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // A write to a closed pipe or socket must fail with EPIPE, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    // A parent may hand SIGCHLD over ignored, and that survives exec. The system would then
    // collect the process that starts the application before we could, and its exit status,
    // which tells whether the application started, would be lost.
    std::signal(SIGCHLD, SIG_DFL);
    hold_standard_descriptors();

    ondrake::FdDiagnostics diagnostics;
    // Only the first argument counts: browsers add the extension's origin, a manifest path or an
    // add-on id, and none of them is ever a verb.
    if (argc > 1) {
        if (auto verb = ondrake::verbs::find_verb(argv[1])) return (*verb)(diagnostics);
    }

    // One thread, and the io_context told so: the session is its only task. Asio sets up its
    // reactor (the descriptors behind sockets and timers) with the first timer or socket; a timer
    // made here brings it up at once, so that a loop that cannot work fails now rather than in
    // the middle of the first delivery.
    std::optional<boost::asio::io_context> loop;
    try {
        loop.emplace(1);
        boost::asio::steady_timer reactor(*loop);
    } catch (const std::exception&) {
        diagnostics.line("could not start the async runtime");
        return 1;
    }

    ondrake::FdSource input(0);
    ondrake::FdSink output(1);
    ondrake::launcher::ProcessLauncher launcher(diagnostics);
    bool failed = false;
    boost::asio::co_spawn(
        *loop,
        ondrake::session::run_session({input, output, diagnostics, launcher, ondrake::ipc::user_endpoint()}),
        [&failed](std::exception_ptr failure) { failed = failure != nullptr; });
    loop->run();
    if (failed) {
        // The session answers a failure inside a message itself; only a failure in that answer
        // (memory still exhausted) can get here, and the browser must not take the end of the
        // session for a normal one.
        diagnostics.line("the session ended on an internal error");
        return 1;
    }
    return 0;
}
