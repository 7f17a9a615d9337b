#include "browser-native-host/registration.hpp"

#include "browser-native-host/json_codec.hpp"

#include <cstddef>

namespace ondrake::registration {

namespace {

struct BrowserEntry {
    std::string_view display_name;
    std::string_view subdirectory;  // empty: no manifest directory
};

// Indexed by SupportedBrowser. Opera reads Chrome's manifests, so it shares Chrome's directory.
constexpr std::array<BrowserEntry, ALL_BROWSERS.size()> BROWSER_TABLE = {{
    {"chrome", "Google/Chrome"},
    {"edge", "Microsoft Edge"},
    {"firefox", "Mozilla"},
    {"brave", "BraveSoftware/Brave-Browser"},
    {"chromium", "Chromium"},
    {"opera", "Google/Chrome"},
    {"vivaldi", ""},
}};

constexpr std::array<std::string_view, 5> OUTCOME_NAMES = {
    "Written", "AlreadyCurrent", "Repaired", "SharesDestination", "Unavailable",
};

constexpr std::array<std::string_view, 7> ERROR_MESSAGES = {
    "the executable path must be absolute",
    "the application is not installed in its canonical location",
    "the executable does not exist",
    "no per-user directory is available",
    "the application could not be identified from the host's location",
    "the native messaging manifest could not be written",
    "the browser registration could not be written",
};

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
    return OUTCOME_NAMES[static_cast<std::size_t>(outcome)];
}

std::string_view message(RegistrationError error) {
    return ERROR_MESSAGES[static_cast<std::size_t>(error)];
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
        lines.emplace_back(
            "DEVELOPMENT registration. Run `register` to restore production trust.");
    }
    return lines;
}

Result<std::string> manifest_json_for(bool firefox, bool development, std::string_view host_path) {
    if (host_path.empty() || host_path.front() != '/') return RegistrationError::RelativeExecutable;

    std::string chrome_origin = chrome_extension_origin();
    std::vector<std::string_view> admitted =
        firefox ? firefox_allowed_extensions(development)
                : std::vector<std::string_view>{chrome_origin};

    std::string out;
    out.reserve(128);
    out.append("{\n");
    // Browsers read the manifest as UTF-8 JSON: a host path that is not UTF-8 cannot be encoded.
    bool encoded = append_string_member(out, "name", HOST_NAME) &&
                   append_string_member(out, "description", HOST_DESCRIPTION) &&
                   append_string_member(out, "path", host_path) &&
                   append_string_member(out, "type", "stdio") &&
                   append_array_member(out, firefox ? "allowed_extensions" : "allowed_origins",
                                       admitted);
    if (!encoded) return RegistrationError::ManifestWrite;
    return out;
}

}  // namespace ondrake::registration
