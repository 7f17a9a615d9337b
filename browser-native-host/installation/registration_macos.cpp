#include "browser-native-host/installation/registration_macos.hpp"

#include "platform/utf8.hpp"
#include "browser-native-host/common/user_dirs.hpp"
#include "browser-native-host/common/whole_file.hpp"
#include "platform/platform.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace ondrake::registration_macos {

namespace fs = std::filesystem;
using install_location::same_path;

namespace {

// The temporary file's name carries the process id, so two registrations running at once never
// write into the same temporary file, and a later one can tell whose a leftover was.
std::string temporary_file_head() { return "." + std::string(registration::HOST_NAME) + "."; }
constexpr std::string_view TEMPORARY_FILE_TAIL = ".tmp";

std::string temporary_file_name() {
    return temporary_file_head() + std::to_string(::getpid()) + std::string(TEMPORARY_FILE_TAIL);
}

// Removes what registrations that were killed before their rename left in `directory`: only
// names of our pattern, only regular files (a link is removed as nothing and followed nowhere: it
// stays), only those whose process no longer exists. A live process's file is its own business,
// and ours the write's.
void remove_leftovers(const fs::path& directory) {
    std::error_code error;
    for (fs::directory_iterator entry(directory, error), end; !error && entry != end;
         entry.increment(error)) {
        auto pid = temporary_file_process(entry->path().filename().native());
        if (!pid || *pid == ::getpid()) continue;
        if (platform::process_exists(*pid)) continue;
        struct stat info {};
        if (::lstat(entry->path().c_str(), &info) == 0 && S_ISREG(info.st_mode))
            ::unlink(entry->path().c_str());
    }
}

// Writes into the open temporary file and moves it over the destination; false on any failure,
// with the temporary file possibly still present.
bool fill_and_rename(int fd, const fs::path& temporary, const fs::path& destination, std::string_view bytes) {
    bool flushed = !platform::write_all(fd, bytes) && platform::full_sync(fd) == 0;
    bool closed = ::close(fd) == 0;
    return flushed && closed && ::rename(temporary.c_str(), destination.c_str()) == 0;
}

// Writes the manifest unless the file already holds exactly these bytes. Anything else that stood
// at the path is repaired: a different manifest, and a file that cannot be one (not UTF-8, over
// the ceiling of a manifest, unreadable, a dangling link).
ManifestOutcome install_manifest(const fs::path& target, const std::string& manifest) {
    auto existing = whole_file::read_utf8(target, whole_file::MANIFEST_CEILING);
    if (existing && *existing == manifest) return ManifestOutcome::AlreadyCurrent;
    std::error_code ignored;
    bool something_there = fs::symlink_status(target, ignored).type() != fs::file_type::not_found;
    if (!write_atomically(target, manifest)) return ManifestOutcome::Unavailable;
    return something_there ? ManifestOutcome::Repaired : ManifestOutcome::Written;
}

// The user's name, or "uid N" when the user database has none.
std::string user_name(uid_t uid) {
    std::vector<char> buffer(16 * 1024);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr && found->pw_name[0] != '\0') {
        return found->pw_name;
    }
    return "uid " + std::to_string(uid);
}

bool contains_path(const std::vector<fs::path>& paths, const fs::path& path) {
    return std::any_of(paths.begin(), paths.end(),
                       [&](const fs::path& seen) { return same_path(seen, path); });
}

}  // namespace

bool MacInstallReport::any_registered() const {
    // A shared destination is only as good as the earlier browser's manifest at that path, which
    // has an entry of its own; counting it as well would report success when nothing was written.
    return std::any_of(browsers.begin(), browsers.end(), [](const MacBrowserReport& entry) {
        return entry.outcome != ManifestOutcome::Unavailable &&
               entry.outcome != ManifestOutcome::SharesDestination;
    });
}

std::optional<fs::path> manifest_dir(SupportedBrowser browser) {
    auto subdirectory = registration::application_support_subdirectory(browser);
    if (!subdirectory) return std::nullopt;
    auto home = user_dirs::home_directory();
    if (!home) return std::nullopt;
    return *home / "Library/Application Support" / *subdirectory / "NativeMessagingHosts";
}

std::optional<pid_t> temporary_file_process(std::string_view name) {
    std::string head = temporary_file_head();
    if (name.size() <= head.size() + TEMPORARY_FILE_TAIL.size() || name.substr(0, head.size()) != head ||
        name.substr(name.size() - TEMPORARY_FILE_TAIL.size()) != TEMPORARY_FILE_TAIL) {
        return std::nullopt;
    }
    std::string_view digits =
        name.substr(head.size(), name.size() - head.size() - TEMPORARY_FILE_TAIL.size());
    pid_t pid = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    // Written by std::to_string: no sign, no leading zero.
    if (error != std::errc() || end != digits.data() + digits.size() || pid <= 0 || digits.front() == '0') {
        return std::nullopt;
    }
    return pid;
}

std::optional<std::string> foreign_home_refusal(std::string_view verb) {
    auto home = user_dirs::home_directory();
    if (!home) return std::nullopt;
    struct stat info {};
    if (::stat(home->c_str(), &info) != 0) {
        // A HOME that does not exist yet belongs to nobody else: `unregister` finds nothing to
        // remove there and succeeds, `register` makes it, as they always have.
        if (errno == ENOENT) return std::nullopt;
        return "HOME " + home->string() + " cannot be examined (" +
               std::error_code(errno, std::generic_category()).message() + "): nothing was changed";
    }
    uid_t self = ::geteuid();
    if (info.st_uid == self) return std::nullopt;
    std::string owner = user_name(info.st_uid);
    return "HOME " + home->string() + " belongs to " + owner + ", not to " + user_name(self) +
           ", who runs this: nothing was changed. Run `" + std::string(verb) + "` as " + owner + " instead";
}

Result<std::string> manifest_host_path(const fs::path& host) {
    if (!host.is_absolute()) return RegistrationError::RelativeExecutable;
    std::error_code ignored;
    if (!fs::is_regular_file(host, ignored)) return RegistrationError::MissingExecutable;
    if (!platform::is_valid_utf8(host.native())) return RegistrationError::ManifestWrite;
    return host.native();
}

Result<void> write_atomically(const fs::path& destination, std::string_view bytes) {
    fs::path parent = destination.parent_path();
    if (parent.empty()) return RegistrationError::ManifestWrite;
    std::error_code error;
    fs::create_directories(parent, error);
    if (error) return RegistrationError::ManifestWrite;

    remove_leftovers(parent);
    fs::path temporary = parent / temporary_file_name();
    // Whatever stands at the temporary name (a crashed run's leftover, or something planted) is
    // removed, and the file is then created afresh and exclusively: opening an existing name could
    // write through a planted hard link into a file elsewhere, or block on a planted FIFO. Should
    // something reappear in between, the exclusive creation fails and so does the write.
    ::remove(temporary.c_str());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return RegistrationError::ManifestWrite;
    if (!fill_and_rename(fd, temporary, destination, bytes)) {
        ::unlink(temporary.c_str());
        return RegistrationError::ManifestWrite;
    }
    // The new name must survive a crash too. The file is already in place at this point, so a
    // failure here is not reported: the manifest is there and readable.
    platform::sync_directory(parent.native());
    return {};
}

Result<MacInstallReport> register_host(const InstalledPaths& paths, InstallLocation location,
                                       bool development) {
    if (location != InstallLocation::Canonical) return RegistrationError::NotCanonical;

    std::vector<MacBrowserReport> browsers;
    std::vector<fs::path> handled;
    for (SupportedBrowser browser : registration::ALL_BROWSERS) {
        auto dir = manifest_dir(browser);
        if (!dir) {
            browsers.push_back({ManifestOutcome::Unavailable, browser});
            continue;
        }
        fs::path target = *dir / registration::manifest_file_name();
        if (contains_path(handled, target)) {
            browsers.push_back({ManifestOutcome::SharesDestination, browser});
            continue;
        }
        handled.push_back(target);

        auto host = manifest_host_path(paths.host);
        if (!host) return host.error();
        auto manifest =
            registration::manifest_json_for(registration::is_firefox(browser), development, *host);
        if (!manifest) return manifest.error();
        browsers.push_back({install_manifest(target, *manifest), browser});
    }

    auto state_dir = user_dirs::user_state_dir();
    if (!state_dir) return RegistrationError::NoUserDirectory;
    fs::path record = *state_dir / APP_PATH_RECORD_NAME;
    // The launcher reads the record as UTF-8 text.
    if (!platform::is_valid_utf8(paths.app.native())) return RegistrationError::ManifestWrite;
    if (!write_atomically(record, paths.app.native())) return RegistrationError::ManifestWrite;

    return MacInstallReport{paths.host, paths.app, std::move(browsers), std::move(record)};
}

Result<std::vector<SupportedBrowser>> unregister() {
    std::vector<SupportedBrowser> removed;
    std::vector<fs::path> removed_paths;
    for (SupportedBrowser browser : registration::ALL_BROWSERS) {
        auto dir = manifest_dir(browser);
        if (!dir) continue;
        fs::path target = *dir / registration::manifest_file_name();
        if (contains_path(removed_paths, target)) {
            removed.push_back(browser);
            continue;
        }
        if (::unlink(target.c_str()) == 0) {
            removed_paths.push_back(target);
            removed.push_back(browser);
        } else if (errno != ENOENT && errno != ENOTDIR) {
            // ENOTDIR: a file stands where a directory of the path should be, so there is no
            // manifest either.
            return RegistrationError::ManifestWrite;
        }
    }
    if (auto state_dir = user_dirs::user_state_dir()) {
        fs::path record = *state_dir / APP_PATH_RECORD_NAME;
        ::unlink(record.c_str());  // an absent or stuck record does not fail the verb
    }
    return removed;
}

std::vector<std::string> register_report_lines(const MacInstallReport& report, bool development) {
    std::vector<std::string> lines = registration::firefox_trust_lines(development);
    for (const MacBrowserReport& entry : report.browsers) {
        lines.push_back(std::string(registration::display_name(entry.browser)) + " -> " +
                        std::string(registration::name(entry.outcome)));
    }
    return lines;
}

int run_register(bool development, Diagnostics& out) {
    auto paths = install_location::installed_paths();
    if (!paths) {
        out.line(registration::message(paths.error()));
        out.line(RUN_FROM_BUNDLE_HINT);
        return 1;
    }
    return run_register_with(*paths, paths->location(), development, out);
}

int run_register_with(const InstalledPaths& paths, InstallLocation location, bool development,
                      Diagnostics& out) {
    auto report = register_host(paths, location, development);
    if (!report) {
        out.line(registration::message(report.error()));
        return 1;
    }
    for (const std::string& line : register_report_lines(*report, development)) {
        out.line(line);
    }
    return report->any_registered() ? 0 : 1;
}

int run_unregister(Diagnostics& out) {
    auto removed = unregister();
    if (!removed) {
        out.line(registration::message(removed.error()));
        return 1;
    }
    for (SupportedBrowser browser : *removed) {
        out.line("removed " + std::string(registration::display_name(browser)));
    }
    return 0;
}

}  // namespace ondrake::registration_macos
