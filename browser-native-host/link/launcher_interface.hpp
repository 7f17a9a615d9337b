// The one thing delivery asks of whoever starts the desktop application. Delivery owns the
// interface; the launcher implements it without depending on anything else of delivery.
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
