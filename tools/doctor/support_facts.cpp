#include "tools/doctor/support_facts.hpp"

#include "browser-native-host/common/whole_file.hpp"
#include "browser-native-host/installation/install_location.hpp"

#include <algorithm>
#include <ctime>
#include <sys/stat.h>
#include <sys/utsname.h>

namespace ondrake::doctor {

namespace fs = std::filesystem;

namespace {

// macOS names its version in this property list; other systems in os-release.
constexpr const char* MACOS_VERSION_FILE = "/System/Library/CoreServices/SystemVersion.plist";
constexpr const char* OS_RELEASE_FILE = "/etc/os-release";
constexpr std::size_t OS_RELEASE_CEILING = 64 * 1024;

std::string utc_text(std::time_t when) {
    std::tm parts{};
    char text[32] = "";
    if (::gmtime_r(&when, &parts) == nullptr) return {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

FileIdentity identify(std::string role, const fs::path& path) {
    FileIdentity file{std::move(role), path, false, 0, {}};
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return file;
    file.exists = true;
    file.size = static_cast<std::uintmax_t>(info.st_size);
    file.modified = utc_text(info.st_mtime);
    return file;
}

// The value of `name` in an os-release text, without its quotes.
std::optional<std::string> os_release_value(std::string_view text, std::string_view name) {
    std::string prefix = std::string(name) + "=";
    while (!text.empty()) {
        std::string_view line = text.substr(0, text.find('\n'));
        text.remove_prefix(std::min(text.size(), line.size() + 1));
        if (line.substr(0, prefix.size()) != prefix) continue;
        std::string_view value = line.substr(prefix.size());
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return std::string(value);
    }
    return std::nullopt;
}

std::vector<std::string> system_version() {
    std::vector<std::string> lines;
    if (auto plist = whole_file::read_utf8(MACOS_VERSION_FILE, whole_file::PROPERTY_LIST_CEILING)) {
        using install_location::property_list_string;
        lines.push_back(property_list_string(*plist, "ProductName").value_or("macOS") + " " +
                        property_list_string(*plist, "ProductVersion").value_or("?") + " (" +
                        property_list_string(*plist, "ProductBuildVersion").value_or("?") + ")");
    } else if (auto release = whole_file::read_utf8(OS_RELEASE_FILE, OS_RELEASE_CEILING)) {
        if (auto name = os_release_value(*release, "PRETTY_NAME")) lines.push_back(*name);
    }
    // The machine's name (nodename) is left out: it often names its owner.
    struct utsname system {};
    if (::uname(&system) == 0) {
        lines.push_back(std::string(system.sysname) + " " + system.release + " " + system.machine);
    }
    return lines;
}

BundleFacts bundle_facts(const fs::path& bundle) {
    BundleFacts facts;
    facts.path = bundle;
    auto plist = whole_file::read_utf8(bundle / "Contents/Info.plist", whole_file::PROPERTY_LIST_CEILING);
    if (!plist) return facts;
    facts.readable = true;
    facts.identifier = install_location::property_list_string(*plist, "CFBundleIdentifier");
    facts.short_version = install_location::property_list_string(*plist, "CFBundleShortVersionString");
    facts.version = install_location::property_list_string(*plist, "CFBundleVersion");
    return facts;
}

// Each program once, under the first role it has.
void add_program(std::vector<FileIdentity>& programs, std::string role, const fs::path& path) {
    bool known = std::any_of(programs.begin(), programs.end(), [&](const FileIdentity& file) {
        return install_location::same_path(file.path, path);
    });
    if (!known) programs.push_back(identify(std::move(role), path));
}

}  // namespace

SupportFacts gather_support_facts(const Report& report, const std::optional<fs::path>& doctor) {
    SupportFacts facts;
    facts.written_at = utc_text(std::time(nullptr));
    facts.system = system_version();
    if (report.home) {
        std::error_code error;
        fs::path resolved = fs::canonical(*report.home, error);
        if (!error && !install_location::same_path(resolved, *report.home)) facts.home_resolved = resolved;
    }

    if (report.host.path) add_program(facts.programs, "host", *report.host.path);
    for (const ManifestFacts& manifest : report.manifests) {
        if (manifest.host_path && !manifest.shares_with) {
            add_program(
                facts.programs,
                "host in " + std::string(registration::display_name(manifest.browser)) + "'s manifest",
                *manifest.host_path);
        }
    }
    if (report.host.application) add_program(facts.programs, "application", *report.host.application);
    if (report.launch_candidate) {
        add_program(facts.programs, "application the host would start", report.launch_candidate->value);
    }
    if (doctor) add_program(facts.programs, "doctor", *doctor);
    if (report.host.bundle) facts.bundle = bundle_facts(*report.host.bundle);

    for (const ManifestFacts& manifest : report.manifests) {
        if (!manifest.path || manifest.shares_with) continue;
        ManifestContent content;
        content.browser = manifest.browser;
        content.file = identify("manifest", *manifest.path);
        // Bytes as they are, UTF-8 or not; a FIFO or an oversized file is never read.
        if (auto bytes = whole_file::read(*manifest.path, whole_file::MANIFEST_CEILING))
            content.bytes = *bytes;
        facts.manifests.push_back(std::move(content));
    }
    return facts;
}

}  // namespace ondrake::doctor
