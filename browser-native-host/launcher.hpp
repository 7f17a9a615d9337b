// Finds the desktop application's executable and starts it, detached, when delivery finds nobody
// listening. Every failure is one "stage=" line on the diagnostics and a false result.
#pragma once

#include "browser-native-host/delivery.hpp"
#include "browser-native-host/diagnostics.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace ondrake::launcher {

// The name under which a start failure with this error number is reported ("PermissionDenied",
// "NotFound", ...); "Uncategorized" for every number without a kind of its own.
std::string_view error_kind_name(int error_number);

// The path the application is said to live at, not yet checked: ONDRAKE_DOWNLOAD_EXE when it is
// set (even to the empty string, and then unchanged), otherwise the application-path record in
// the per-user state directory, trimmed of Unicode white space. None when there is neither, or
// when the record cannot be read or is not UTF-8.
std::optional<std::string> application_candidate();

// The host's Launcher. Stateless: every launch repeats the whole lookup, so a changed override or
// record takes effect at the next one. The started application is never waited for; it is
// started through a short-lived intermediate process so that it is not our child and can never
// linger as our zombie, however long the session lasts.
class ProcessLauncher final : public delivery::Launcher {
public:
    explicit ProcessLauncher(Diagnostics& diagnostics) : diagnostics_(diagnostics) {}
    bool launch() override;

private:
    Diagnostics& diagnostics_;
};

}  // namespace ondrake::launcher
