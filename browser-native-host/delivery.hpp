// Hands one checked request to the desktop application and turns whatever happens into the
// result the browser gets: the application's own answer, or the code for a failure on the way.
// When nobody listens, the application is started once and the request is tried again on a
// fixed schedule; a request that may already have reached the application is never sent twice.
#pragma once

namespace ondrake::delivery {

// Starts the desktop application. The host's implementation is launcher::ProcessLauncher;
// tests substitute their own.
class Launcher {
public:
    virtual ~Launcher() = default;
    // True when a start of the application was set in motion, false when it could not be.
    virtual bool launch() = 0;
};

}  // namespace ondrake::delivery
