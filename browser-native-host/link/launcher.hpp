// Finds the desktop application's executable and starts it, detached, when delivery finds nobody
// listening. Every failure is one "stage=" line on the diagnostics and a false result.
#pragma once

#include "browser-native-host/link/launcher_interface.hpp"
#include "browser-native-host/common/diagnostics.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace ondrake::launcher {

// The environment variable that names the application's executable ahead of the application-path
// record (user_dirs::APP_PATH_RECORD_NAME).
inline constexpr char APP_OVERRIDE_ENV[] = "ONDRAKE_DOWNLOAD_EXE";

// The name under which a start failure with this error number is reported ("PermissionDenied",
// "NotFound", ...); "Uncategorized" for every number without a kind of its own.
std::string_view error_kind_name(int error_number);

// The path the application is said to live at, not yet checked: ONDRAKE_DOWNLOAD_EXE when it is
// set (even to the empty string, and then unchanged), otherwise the application-path record in
// the per-user state directory, trimmed of Unicode white space. None when there is neither, or
// when the record cannot be read or is not UTF-8.
std::optional<std::string> application_candidate();

// The application-path record alone: its content trimmed of Unicode white space, or none when
// there is no per-user state directory, or the record is missing, unreadable or not UTF-8.
std::optional<std::string> recorded_application();

// The launcher's test of a candidate before it starts anything: an absolute path without a zero
// byte naming a regular file (symbolic links followed). Whether it may be executed is left to the
// start itself.
bool is_usable_candidate(const std::string& candidate);

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
