// The round trip: the host each browser's manifest names, started as that browser starts it, and
// two messages, each proving one leg of the path. The first the host refuses by itself (a
// download of an ftp: URL): the browser reaches the host. The second only the application
// answers, and answering it changes nothing there (the state of a capture that no capture has):
// the host reaches the application, starting it when nobody listens, as it would for a browser.
// This is the one part of the doctor that starts processes; the host is always stopped and
// collected, and nothing on disk is written.
#pragma once

#include "browser-native-host/link/delivery.hpp"
#include "tools/doctor/report.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace ondrake::doctor {

// A host starts and refuses a message within milliseconds; the rest leaves room for macOS to
// check a newly installed application's signature at its first start. Counted from the start.
inline constexpr std::chrono::milliseconds BROWSER_LEG_LIMIT{10'000};

constexpr std::chrono::milliseconds retry_delays_total() {
    std::chrono::milliseconds total{0};
    for (std::chrono::milliseconds delay : delivery::RETRY_DELAYS_MS) total += delay;
    return total;
}

// The longest the host itself may take over one message: a first connect that runs into its
// limit, the launch and every retry delay, each retry's connect running into its limit, then the
// write and the reply limits of the attempt that connected (74.7 s with the host's timings), and
// five seconds for starting the application. Past it, the host is stuck, not waiting.
inline constexpr std::chrono::milliseconds APPLICATION_LEG_LIMIT =
    delivery::CONNECT_TIMEOUT * static_cast<long long>(1 + delivery::RETRY_DELAYS_MS.size()) +
    retry_delays_total() + delivery::WRITE_TIMEOUT + delivery::REPLY_TIMEOUT + std::chrono::seconds(5);

// How long a host may take to exit once its input has ended, before it is signalled.
inline constexpr std::chrono::milliseconds STOP_GRACE{2'000};

struct RoundTripInputs {
    std::optional<SupportedBrowser> browser;  // none: every browser with a manifest file of its own
    std::chrono::milliseconds browser_leg_limit = BROWSER_LEG_LIMIT;
    std::chrono::milliseconds application_leg_limit = APPLICATION_LEG_LIMIT;
};

// One round trip per browser chosen, in registration order. A browser named in the inputs gets
// an entry even without a manifest, which then says so.
std::vector<RoundTripFacts> round_trip(const std::vector<ManifestFacts>& manifests,
                                       const RoundTripInputs& inputs);

// The environment a browser started from the Dock hands a host: the few variables the system
// gives every application (those of them set here) and the system's PATH. Nothing set in a
// terminal reaches it, ONDRAKE_DOWNLOAD_EXE among them.
std::vector<std::string> browser_environment();

}  // namespace ondrake::doctor
