// Installing and removing the native-messaging manifests in the per-user browser directories of
// macOS, and the application-path record the launcher reads. Registration touches files below
// HOME only and reports through Diagnostics, never on standard output.
#pragma once

#include "browser-native-host/common/diagnostics.hpp"
#include "browser-native-host/common/user_dirs.hpp"
#include "browser-native-host/installation/install_location.hpp"
#include "browser-native-host/installation/registration.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace ondrake::registration_macos {

using install_location::InstalledPaths;
using install_location::InstallLocation;
using registration::ManifestOutcome;
using registration::RegistrationError;
using registration::Result;
using registration::SupportedBrowser;

using user_dirs::APP_PATH_RECORD_NAME;

inline constexpr std::string_view RUN_FROM_BUNDLE_HINT =
    "this verb registers the host next to it inside a packaged application; run it from "
    "Contents/MacOS of a built .app";

struct MacBrowserReport {
    ManifestOutcome outcome;
    SupportedBrowser browser;

    bool operator==(const MacBrowserReport&) const = default;
};

struct MacInstallReport {
    std::filesystem::path host;
    std::filesystem::path app;
    std::vector<MacBrowserReport> browsers;  // one entry per browser, in registration order
    std::filesystem::path app_path_record;

    // True when at least one manifest is in place: written, repaired or already current.
    bool any_registered() const;
};

// HOME/Library/Application Support/<browser's directory>/NativeMessagingHosts, or nothing when
// the browser has no directory or HOME is unset or not absolute.
std::optional<std::filesystem::path> manifest_dir(SupportedBrowser browser);

// The host path as the manifest's UTF-8 "path" string: absolute, an existing regular file.
Result<std::string> manifest_host_path(const std::filesystem::path& host);

// The process whose temporary file `name` is: registration writes each file as
// ".com.ondrake.download.<pid>.tmp" beside it first, then renames it. Nothing for any other name.
std::optional<pid_t> temporary_file_process(std::string_view name);

// Replaces `destination` with `bytes` so that a reader sees either the old or the new content:
// a temporary file beside it, flushed to stable storage, then renamed over it. Creates missing
// parent directories. Every failure is ManifestWrite and leaves no temporary file of ours. Also
// removes the temporary files that registrations killed half-way left beside it: regular files
// only, of processes that no longer exist.
Result<void> write_atomically(const std::filesystem::path& destination, std::string_view bytes);

// Why a verb must leave HOME alone, as one line naming what to run instead: HOME belongs to
// another user than the effective one (an installer running as root on a user's HOME would leave
// files and directories there that the user cannot change), or it exists but cannot be examined.
// Nothing when HOME is the effective user's own, does not exist yet, or is unset or relative (the
// verb itself then reports that there is no per-user directory). `verb` is the verb's name as typed.
std::optional<std::string> foreign_home_refusal(std::string_view verb);

// Writes every browser's manifest for `paths.host` and the application-path record for
// `paths.app`. Refuses anything but a Canonical location before touching a file.
Result<MacInstallReport> register_host(const InstalledPaths& paths, InstallLocation location,
                                       bool development);

// Removes every browser's manifest and the application-path record; returns the browsers whose
// manifest was removed. Directories are left in place.
Result<std::vector<SupportedBrowser>> unregister();

// The report of a successful registration: the Firefox trust lines, then one line per browser.
std::vector<std::string> register_report_lines(const MacInstallReport& report, bool development);

// The "register" and "register-development" verbs: identifies the installation, registers and
// prints the report. Returns the exit status.
int run_register(bool development, Diagnostics& out);

// The verb once the installation is known.
int run_register_with(const InstalledPaths& paths, InstallLocation location, bool development,
                      Diagnostics& out);

// The "unregister" verb. Returns the exit status (0 also when nothing was there to remove).
int run_unregister(Diagnostics& out);

}  // namespace ondrake::registration_macos
