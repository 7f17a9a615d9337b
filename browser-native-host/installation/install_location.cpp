#include "browser-native-host/installation/install_location.hpp"

#include "browser-native-host/common/text.hpp"
#include "browser-native-host/common/whole_file.hpp"
#include "platform/platform.hpp"

#include <cstdlib>
#include <system_error>
#include <vector>

namespace ondrake::install_location {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view KEY_OPEN = "<key>";
constexpr std::string_view KEY_CLOSE = "</key>";
constexpr std::string_view EXECUTABLE_KEY = "CFBundleExecutable";
constexpr std::string_view STRING_OPEN = "<string>";
constexpr std::string_view STRING_CLOSE = "</string>";

using Components = std::vector<std::string>;

// The path's components with the root directory as "/" and without the empty and "." elements
// that separators leave behind.
Components components(const fs::path& path) {
    Components parts;
    for (const fs::path& element : path) {
        const std::string& part = element.native();
        if (part.empty() || part == ".") continue;
        parts.push_back(part);
    }
    return parts;
}

fs::path join(Components::const_iterator begin, Components::const_iterator end) {
    fs::path path;
    for (auto it = begin; it != end; ++it) path /= *it;
    return path;
}

bool names_regular_file(const fs::path& path) {
    std::error_code ignored;
    return fs::is_regular_file(path, ignored);
}

}  // namespace

bool same_path(const fs::path& a, const fs::path& b) { return components(a) == components(b); }

InstallLocation InstalledPaths::location() const {
    auto bundle = bundle_of(app);
    return bundle ? classify_bundle(*bundle) : InstallLocation::Elsewhere;
}

std::optional<fs::path> bundle_of(const fs::path& executable) {
    Components parts = components(executable);
    std::size_t n = parts.size();
    if (n < 4 || parts[n - 2] != "MacOS" || parts[n - 3] != "Contents") return std::nullopt;
    return join(parts.begin(), parts.end() - 3);
}

InstallLocation classify_bundle(const fs::path& bundle) {
    Components parts = components(bundle);
    for (const std::string& part : parts) {
        if (part == "AppTranslocation") return InstallLocation::Translocated;
    }
    bool from_root = !parts.empty() && parts[0] == "/";
    if (from_root && parts.size() == 3 && parts[1] == "Applications") {
        return InstallLocation::Canonical;
    }
    if (from_root && parts.size() >= 2 && parts[1] == "Volumes") return InstallLocation::MountedVolume;
    return InstallLocation::Elsewhere;
}

std::optional<std::string> property_list_string(std::string_view info_plist, std::string_view key) {
    std::string tagged = std::string(KEY_OPEN) + std::string(key) + std::string(KEY_CLOSE);
    std::size_t at = info_plist.find(tagged);
    if (at == std::string_view::npos) return std::nullopt;
    // Only the text up to a repeated key belongs to the first one.
    std::string_view section = info_plist.substr(at + tagged.size());
    section = section.substr(0, section.find(tagged));

    std::size_t open = section.find(STRING_OPEN);
    if (open == std::string_view::npos) return std::nullopt;
    std::string_view rest = section.substr(open + STRING_OPEN.size());
    std::size_t close = rest.find(STRING_CLOSE);
    if (close == std::string_view::npos) return std::nullopt;
    return std::string(text::trim_white_space(rest.substr(0, close)));
}

std::optional<std::string> bundle_executable_name(std::string_view info_plist) {
    auto value = property_list_string(info_plist, EXECUTABLE_KEY);
    // The value names a file beside the host: a "/" would lead elsewhere, and a NUL byte would
    // silently cut the name short at the system call.
    if (!value || value->empty() || value->find('/') != std::string::npos ||
        value->find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return value;
}

Result<InstalledPaths> installed_paths() { return installed_paths_at(platform::running_executable_path()); }

Result<InstalledPaths> installed_paths_at(const std::optional<std::string>& reported_executable) {
    if (!reported_executable) return RegistrationError::MissingExecutable;
    fs::path executable = *reported_executable;
    if (char* resolved = ::realpath(reported_executable->c_str(), nullptr)) {
        executable = resolved;
        std::free(resolved);
    }
    return installed_paths_for(executable);
}

Result<InstalledPaths> installed_paths_for(const fs::path& executable) {
    Components parts = components(executable);
    if (parts.size() < 2) return RegistrationError::MissingExecutable;
    Components dir_parts(parts.begin(), parts.end() - 1);
    fs::path dir = join(dir_parts.begin(), dir_parts.end());

    fs::path host = dir / HOST_EXECUTABLE_NAME;
    if (!names_regular_file(host)) return RegistrationError::MissingExecutable;
    // Started as the application's main executable, the running program is the application.
    if (!same_path(executable, host)) return InstalledPaths{host, executable};

    if (dir_parts.size() < 2 || dir_parts[dir_parts.size() - 2] != "Contents") {
        return RegistrationError::UnidentifiedApplication;
    }
    fs::path contents = join(dir_parts.begin(), dir_parts.end() - 1);
    auto info_plist = whole_file::read_utf8(contents / "Info.plist", whole_file::PROPERTY_LIST_CEILING);
    if (!info_plist) return RegistrationError::UnidentifiedApplication;
    auto main_executable = bundle_executable_name(*info_plist);
    if (!main_executable) return RegistrationError::UnidentifiedApplication;

    fs::path app = dir / *main_executable;
    if (!names_regular_file(app)) return RegistrationError::UnidentifiedApplication;
    return InstalledPaths{host, app};
}

}  // namespace ondrake::install_location
