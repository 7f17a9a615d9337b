// Where the host and the desktop application are installed, worked out from where the running
// executable lies inside the application bundle.
//
// Expected layout: <bundle>.app/Contents/Info.plist names the main executable under
// CFBundleExecutable; that executable and "ondrake-native-host" sit side by side in
// <bundle>.app/Contents/MacOS. Registration is accepted only for a bundle directly in
// /Applications, the one place an installed copy is expected to stay.
#pragma once

#include "browser-native-host/installation/registration.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ondrake::install_location {

using registration::RegistrationError;
using registration::Result;

inline constexpr std::string_view HOST_EXECUTABLE_NAME = "ondrake-native-host";

enum class InstallLocation : std::uint8_t {
    Canonical,      // the bundle's parent directory is /Applications
    MountedVolume,  // the bundle lies below /Volumes (run from a disk image)
    Translocated,   // Gatekeeper runs the bundle from a randomised AppTranslocation copy
    Elsewhere,      // anywhere else, or the application is not inside a bundle
};

struct InstalledPaths {
    std::filesystem::path host;  // always a file named "ondrake-native-host"
    std::filesystem::path app;   // the desktop application's main executable

    InstallLocation location() const;
};

// Identifies the host and application from the running executable, resolved through symbolic
// links. Fails with MissingExecutable or UnidentifiedApplication.
Result<InstalledPaths> installed_paths();

// The same for an executable path as the system reported it (nothing: the system could not
// tell); resolving it with realpath, or keeping it as reported when that fails.
Result<InstalledPaths> installed_paths_at(const std::optional<std::string>& reported_executable);

// The same for an executable path taken as it is.
Result<InstalledPaths> installed_paths_for(const std::filesystem::path& executable);

// The string value of `key` in the text of an XML Info.plist, trimmed of white space, found by
// searching the text rather than parsing it: the first "<string>" after the key's first
// occurrence, before any repetition of the key. Nothing when there is none.
std::optional<std::string> property_list_string(std::string_view info_plist, std::string_view key);

// The value of CFBundleExecutable in the text of an XML Info.plist; nothing when it is absent or
// unusable as a file name.
std::optional<std::string> bundle_executable_name(std::string_view info_plist);

// The bundle directory of an executable in <bundle>/Contents/MacOS, or nothing.
std::optional<std::filesystem::path> bundle_of(const std::filesystem::path& executable);

InstallLocation classify_bundle(const std::filesystem::path& bundle);

// Path equality component by component: repeated separators, a trailing separator and "."
// components do not matter; ".." is compared as it stands.
bool same_path(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace ondrake::install_location
