// What registering the host with the browsers means, independent of the operating system: the
// browsers we know, the manifest each one reads, the Firefox add-ons we trust and the errors a
// registration can end with.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <boost/system/result.hpp>

namespace ondrake::registration {

inline constexpr std::string_view HOST_NAME = "com.ondrake.download";
inline constexpr std::string_view HOST_DESCRIPTION = "Ondrake Download native messaging host";
inline constexpr std::string_view CHROME_EXTENSION_ID = "kfmhaobnpdcjiegllamnbocfhkpjdgie";

// The Firefox add-on and its development build; Firefox starts the host only for the add-ons
// its manifest lists.
inline constexpr std::string_view FIREFOX_ADDON_ID = "browser-bridge@ondrake.download";
inline constexpr std::string_view FIREFOX_DEV_ADDON_ID = "browser-bridge-dev@ondrake.download";

// In the order in which browsers are registered and reported.
enum class SupportedBrowser : std::uint8_t { Chrome, Edge, Firefox, Brave, Chromium, Opera, Vivaldi };

inline constexpr std::array<SupportedBrowser, 7> ALL_BROWSERS = {
    SupportedBrowser::Chrome,   SupportedBrowser::Edge,  SupportedBrowser::Firefox, SupportedBrowser::Brave,
    SupportedBrowser::Chromium, SupportedBrowser::Opera, SupportedBrowser::Vivaldi,
};

// The name the register and unregister reports use ("chrome", "edge", ...).
std::string_view display_name(SupportedBrowser browser);

// The browser's directory below "Library/Application Support" that holds its
// "NativeMessagingHosts" directory, or nothing when we never write a manifest for it.
std::optional<std::string_view> application_support_subdirectory(SupportedBrowser browser);

bool is_firefox(SupportedBrowser browser);

enum class ManifestOutcome : std::uint8_t {
    Written,            // nothing stood at the manifest's path; the new one was written
    AlreadyCurrent,     // the file already held exactly the new manifest
    Repaired,           // something else stood there (any other or unreadable file) and was replaced
    SharesDestination,  // an earlier browser of the same run has the same manifest path
    Unavailable,        // no manifest directory, or the manifest could not be written
};

std::string_view name(ManifestOutcome outcome);

enum class RegistrationError : std::uint8_t {
    RelativeExecutable,
    NotCanonical,
    MissingExecutable,
    NoUserDirectory,
    UnidentifiedApplication,
    ManifestWrite,
    BrowserRegistration,  // kept for the complete set of messages; nothing here produces it
};

std::string_view message(RegistrationError error);

// A value (none for Result<void>) or the registration error that prevented it. Read it with
// `*result` or `result->` once it tested true; value() is never used, since it would throw.
template <class T>
using Result = boost::system::result<T, RegistrationError>;

// The one extension origin a Chromium-family manifest admits: "chrome-extension://" + the
// extension id + "/".
std::string chrome_extension_origin();

// The manifest file's name inside each browser's "NativeMessagingHosts" directory.
std::string manifest_file_name();

// The Firefox add-on identifiers a manifest admits: the production add-on, and in development
// mode its development build after it.
std::vector<std::string_view> firefox_allowed_extensions(bool development);

// What the register report says about Firefox trust, one message per line, without the prefix.
std::vector<std::string> firefox_trust_lines(bool development);

// The manifest bytes for one browser: fixed member order, two-space indentation, one array
// element per line and no final line feed, so that an unchanged registration compares equal
// byte for byte. `host_path` must be absolute and valid UTF-8.
Result<std::string> manifest_json_for(bool firefox, bool development, std::string_view host_path);

}  // namespace ondrake::registration
