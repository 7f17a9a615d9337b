// ondrake-native-host: a registration verb, or the native-messaging session for a browser.
#include "browser-native-host/bin/verbs.hpp"
#include "browser-native-host/diagnostics.hpp"

#include <csignal>

int main(int argc, char** argv) {
    // A write to a closed pipe or socket must fail with EPIPE, not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    ondrake::FdDiagnostics diagnostics;
    if (argc > 1) {
        if (auto verb = ondrake::verbs::find_verb(argv[1])) return (*verb)(diagnostics);
    }
    diagnostics.line("the native-messaging session is not available in this build yet");
    return 1;
}
