#include "browser-native-host/installation/registration.hpp"

#include "browser-native-host/common/enum_table.hpp"
#include "browser-native-host/messages/json_codec.hpp"

#include <cstddef>

namespace ondrake::registration {

namespace {

using enum_table::Named;

struct BrowserEntry {
    SupportedBrowser browser;
    std::string_view display_name;
    std::string_view subdirectory;  // empty: no manifest directory
};

// Opera reads Chrome's manifests, so it shares Chrome's directory.
constexpr BrowserEntry BROWSER_TABLE[] = {
    {SupportedBrowser::Chrome, "chrome", "Google/Chrome"},
    {SupportedBrowser::Edge, "edge", "Microsoft Edge"},
    {SupportedBrowser::Firefox, "firefox", "Mozilla"},
    {SupportedBrowser::Brave, "brave", "BraveSoftware/Brave-Browser"},
    {SupportedBrowser::Chromium, "chromium", "Chromium"},
    {SupportedBrowser::Opera, "opera", "Google/Chrome"},
    {SupportedBrowser::Vivaldi, "vivaldi", ""},
};
static_assert(enum_table::in_enum_order<SupportedBrowser::Vivaldi>(BROWSER_TABLE, &BrowserEntry::browser));
static_assert(std::size(BROWSER_TABLE) == ALL_BROWSERS.size());

constexpr Named<ManifestOutcome> OUTCOME_NAMES[] = {
    {ManifestOutcome::Written, "Written"},         {ManifestOutcome::AlreadyCurrent, "AlreadyCurrent"},
    {ManifestOutcome::Repaired, "Repaired"},       {ManifestOutcome::SharesDestination, "SharesDestination"},
    {ManifestOutcome::Unavailable, "Unavailable"},
};
static_assert(enum_table::in_enum_order<ManifestOutcome::Unavailable>(OUTCOME_NAMES));

constexpr Named<RegistrationError> ERROR_MESSAGES[] = {
    {RegistrationError::RelativeExecutable, "the executable path must be absolute"},
    {RegistrationError::NotCanonical, "the application is not installed in its canonical location"},
    {RegistrationError::MissingExecutable, "the executable does not exist"},
    {RegistrationError::NoUserDirectory, "no per-user directory is available"},
    {RegistrationError::UnidentifiedApplication,
     "the application could not be identified from the host's location"},
    {RegistrationError::ManifestWrite, "the native messaging manifest could not be written"},
    {RegistrationError::BrowserRegistration, "the browser registration could not be written"},
};
static_assert(enum_table::in_enum_order<RegistrationError::BrowserRegistration>(ERROR_MESSAGES));

const BrowserEntry& entry(SupportedBrowser browser) {
    return BROWSER_TABLE[static_cast<std::size_t>(browser)];
}

// Each helper appends one piece of the manifest's layout; false when a text cannot be written as
// JSON (it is not UTF-8), in which case the manifest cannot be encoded at all.
bool append_member_start(std::string& out, std::string_view key) {
    out.append("  ");
    if (!json_codec::write_string(out, key)) return false;
    out.append(": ");
    return true;
}

bool append_string_member(std::string& out, std::string_view key, std::string_view value) {
    if (!append_member_start(out, key) || !json_codec::write_string(out, value)) return false;
    out.append(",\n");
    return true;
}

// The last member: an array with one element per line, closing the object.
bool append_array_member(std::string& out, std::string_view key,
                         const std::vector<std::string_view>& elements) {
    if (!append_member_start(out, key)) return false;
    if (elements.empty()) {
        out.append("[]");
    } else {
        out.append("[\n");
        for (std::size_t i = 0; i < elements.size(); ++i) {
            out.append("    ");
            if (!json_codec::write_string(out, elements[i])) return false;
            out.append(i + 1 < elements.size() ? ",\n" : "\n");
        }
        out.append("  ]");
    }
    out.append("\n}");
    return true;
}

}  // namespace

std::string_view display_name(SupportedBrowser browser) { return entry(browser).display_name; }

std::optional<std::string_view> application_support_subdirectory(SupportedBrowser browser) {
    std::string_view subdirectory = entry(browser).subdirectory;
    if (subdirectory.empty()) return std::nullopt;
    return subdirectory;
}

bool is_firefox(SupportedBrowser browser) { return browser == SupportedBrowser::Firefox; }

std::string_view name(ManifestOutcome outcome) {
    return OUTCOME_NAMES[static_cast<std::size_t>(outcome)].text;
}

std::string_view message(RegistrationError error) {
    return ERROR_MESSAGES[static_cast<std::size_t>(error)].text;
}

std::string chrome_extension_origin() {
    return "chrome-extension://" + std::string(CHROME_EXTENSION_ID) + "/";
}

std::string manifest_file_name() { return std::string(HOST_NAME) + ".json"; }

std::vector<std::string_view> firefox_allowed_extensions(bool development) {
    if (development) return {FIREFOX_ADDON_ID, FIREFOX_DEV_ADDON_ID};
    return {FIREFOX_ADDON_ID};
}

std::vector<std::string> firefox_trust_lines(bool development) {
    std::string trust = "firefox trust = ";
    auto admitted = firefox_allowed_extensions(development);
    for (std::size_t i = 0; i < admitted.size(); ++i) {
        if (i > 0) trust.append(", ");
        trust.append(admitted[i]);
    }
    std::vector<std::string> lines{std::move(trust)};
    if (development) {
        lines.emplace_back("DEVELOPMENT registration. Run `register` to restore production trust.");
    }
    return lines;
}

Result<std::string> manifest_json_for(bool firefox, bool development, std::string_view host_path) {
    if (host_path.empty() || host_path.front() != '/') return RegistrationError::RelativeExecutable;

    std::string chrome_origin = chrome_extension_origin();
    std::vector<std::string_view> admitted =
        firefox ? firefox_allowed_extensions(development) : std::vector<std::string_view>{chrome_origin};

    std::string out;
    out.reserve(128);
    out.append("{\n");
    // Browsers read the manifest as UTF-8 JSON: a host path that is not UTF-8 cannot be encoded.
    bool encoded = append_string_member(out, "name", HOST_NAME) &&
                   append_string_member(out, "description", HOST_DESCRIPTION) &&
                   append_string_member(out, "path", host_path) &&
                   append_string_member(out, "type", "stdio") &&
                   append_array_member(out, firefox ? "allowed_extensions" : "allowed_origins", admitted);
    if (!encoded) return RegistrationError::ManifestWrite;
    return out;
}

}  // namespace ondrake::registration
