#include "tools/doctor/examine.hpp"

#include "platform/platform.hpp"
#include "browser-native-host/installation/install_location.hpp"
#include "browser-native-host/link/ipc.hpp"
#include "browser-native-host/link/launcher.hpp"
#include "browser-native-host/installation/registration.hpp"
#include "browser-native-host/installation/registration_macos.hpp"
#include "browser-native-host/common/user_dirs.hpp"
#include "browser-native-host/common/whole_file.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/json/error.hpp>
#include <boost/json/monotonic_resource.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/parse_options.hpp>
#include <boost/json/value.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace ondrake::doctor {

namespace fs = std::filesystem;
namespace asio = boost::asio;
namespace json = boost::json;
using install_location::same_path;

namespace {

// ---- Files ---------------------------------------------------------------------------------

bool is_executable_file(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Something is at `path`, even a dangling symbolic link.
bool anything_at(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// What keeps register from writing a file at `path`: a directory standing at the path itself,
// which no rename replaces, or something other than a directory where one of the directories
// above it belongs, where creating the directories fails. None when nothing does.
std::optional<fs::path> blocking_path(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return path;
    for (fs::path dir = path.parent_path(); dir.has_relative_path(); dir = dir.parent_path()) {
        // Followed like the creation of directories follows them: a link to a directory serves.
        if (::stat(dir.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) return dir;
    }
    return std::nullopt;
}

// The path with symbolic links resolved, as register resolves the running host; as given when
// it cannot be resolved (it does not exist, then).
fs::path resolved(const fs::path& path) {
    std::error_code error;
    fs::path canonical = fs::canonical(path, error);
    if (!error) return canonical;
    fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute;
}

CandidateFacts check_candidate(std::string value) {
    CandidateFacts facts;
    facts.absolute = !value.empty() && value.front() == '/';
    facts.regular_file = launcher::is_usable_candidate(value);
    facts.executable = facts.regular_file && is_executable_file(value);
    facts.value = std::move(value);
    return facts;
}

// ---- The host ------------------------------------------------------------------------------

HostFacts examine_host(const ExamineInputs& inputs) {
    HostFacts host;
    if (inputs.host_option) {
        host.source = HostSource::Option;
        host.path = resolved(*inputs.host_option);
    } else if (inputs.doctor_executable) {
        host.source = HostSource::BesideDoctor;
        fs::path doctor_dir = resolved(*inputs.doctor_executable).parent_path();
        host.path = resolved(doctor_dir / install_location::HOST_EXECUTABLE_NAME);
    } else {
        return host;
    }
    host.executable = is_executable_file(*host.path);

    host.bundle = install_location::bundle_of(*host.path);
    if (!host.bundle) return host;  // a development build: no application to identify
    auto installed = install_location::installed_paths_for(*host.path);
    if (!installed) {
        host.identification_error = installed.error();
        return host;
    }
    host.application = installed->app;
    host.location = installed->location();
    return host;
}

// The host path as register would put it into a manifest, or none when register would refuse it.
std::optional<std::string> manifest_host(const HostFacts& host) {
    if (!host.path) return std::nullopt;
    auto checked = registration_macos::manifest_host_path(*host.path);
    if (!checked) return std::nullopt;
    return *checked;
}

// ---- HOME ----------------------------------------------------------------------------------

// Only entering HOME matters: the browsers, the host and register open paths below it and never
// list it, so a HOME that may be entered but not read (mode 711) serves them all.
HomeAccess examine_home(const std::optional<fs::path>& home) {
    if (!home) return HomeAccess::Usable;
    struct stat info {};
    if (::stat(home->c_str(), &info) != 0) {
        return errno == ENOENT    ? HomeAccess::Missing
               : errno == ENOTDIR ? HomeAccess::NotADirectory
                                  : HomeAccess::Unreadable;
    }
    if (!S_ISDIR(info.st_mode)) return HomeAccess::NotADirectory;
    return ::access(home->c_str(), X_OK) == 0 ? HomeAccess::Usable : HomeAccess::Unreadable;
}

// ---- Manifests -----------------------------------------------------------------------------

// The strings of an array member, in order; whatever else the array holds is passed over.
std::vector<std::string> strings_of(const json::object& manifest, std::string_view member) {
    std::vector<std::string> strings;
    const json::value* list = manifest.if_contains(member);
    if (list == nullptr || !list->is_array()) return strings;
    for (const json::value& element : list->get_array()) {
        if (element.is_string()) strings.emplace_back(element.get_string());
    }
    return strings;
}

bool holds(const std::vector<std::string>& strings, std::string_view wanted) {
    return std::find(strings.begin(), strings.end(), wanted) != strings.end();
}

// Whether `text` is JSON however deeply it nests. The parser keeps its own stack, and a value
// held in a monotonic buffer is released in one piece rather than element by element, so that
// neither the parse nor the release recurses as deep as the text nests.
bool is_json_at_any_depth(std::string_view text) {
    json::monotonic_resource memory;
    json::parse_options options;
    options.max_depth = text.size() + 1;
    std::error_code error;
    (void)json::parse(text, error, &memory, options);
    return !error;
}

// What a lenient read of a manifest's members tells; the file may have been edited by hand.
void read_members(const json::object& manifest, ManifestFacts& facts) {
    if (const json::value* path = manifest.if_contains("path"); path && path->is_string()) {
        facts.host_path = std::string(path->get_string());
        facts.host_executable =
            launcher::is_usable_candidate(*facts.host_path) && is_executable_file(*facts.host_path);
    }
    if (registration::is_firefox(facts.browser)) {
        facts.admitted = strings_of(manifest, "allowed_extensions");
        bool production = holds(facts.admitted, registration::FIREFOX_ADDON_ID);
        bool development = holds(facts.admitted, registration::FIREFOX_DEV_ADDON_ID);
        facts.admits_extension = production;
        facts.firefox_trust = development  ? FirefoxTrust::Development
                              : production ? FirefoxTrust::Production
                                           : FirefoxTrust::Neither;
    } else {
        facts.admitted = strings_of(manifest, "allowed_origins");
        facts.admits_extension = holds(facts.admitted, registration::chrome_extension_origin());
    }
}

ManifestFacts examine_manifest(SupportedBrowser browser, const std::optional<std::string>& host) {
    ManifestFacts facts;
    facts.browser = browser;
    auto dir = registration_macos::manifest_dir(browser);
    if (!dir) return facts;
    facts.path = *dir / registration::manifest_file_name();

    auto content = whole_file::read_utf8(*facts.path, whole_file::MANIFEST_CEILING);
    if (!content) {
        facts.blocked_by = blocking_path(*facts.path);
        facts.state = facts.blocked_by           ? ManifestState::Blocked
                      : anything_at(*facts.path) ? ManifestState::Unreadable
                                                 : ManifestState::Missing;
        return facts;
    }
    if (host) {
        // The production manifest: what a plain register leaves behind.
        auto expected = registration::manifest_json_for(registration::is_firefox(browser), false, *host);
        if (expected) facts.matches_register = *content == *expected;
    }
    std::error_code error;
    json::parse_options options;
    options.max_depth = MANIFEST_DEPTH_LIMIT;
    json::value document = json::parse(*content, error, {}, options);
    if (error == json::error::too_deep && is_json_at_any_depth(*content)) {
        facts.state = ManifestState::TooDeep;
        return facts;
    }
    if (error || !document.is_object()) {
        facts.state = ManifestState::NotJson;
        return facts;
    }
    facts.state = ManifestState::Present;
    read_members(document.get_object(), facts);
    return facts;
}

std::vector<ManifestFacts> examine_manifests(const std::optional<std::string>& host) {
    std::vector<ManifestFacts> manifests;
    for (SupportedBrowser browser : registration::ALL_BROWSERS) {
        ManifestFacts facts = examine_manifest(browser, host);
        for (const ManifestFacts& earlier : manifests) {
            if (facts.path && earlier.path && same_path(*facts.path, *earlier.path)) {
                facts.shares_with = earlier.browser;
                break;
            }
        }
        manifests.push_back(std::move(facts));
    }
    return manifests;
}

// ---- The application ------------------------------------------------------------------------

RecordFacts examine_record(const std::optional<fs::path>& application) {
    RecordFacts record;
    auto state_dir = user_dirs::user_state_dir();
    if (!state_dir) return record;
    record.path = *state_dir / registration_macos::APP_PATH_RECORD_NAME;
    auto value = launcher::recorded_application();
    if (!value) {
        record.blocked_by = blocking_path(*record.path);
        record.state = record.blocked_by           ? RecordState::Blocked
                       : anything_at(*record.path) ? RecordState::Unreadable
                                                   : RecordState::Missing;
        return record;
    }
    record.state = RecordState::Present;
    record.candidate = check_candidate(std::move(*value));
    if (application) record.matches_installation = same_path(*application, record.candidate->value);
    return record;
}

// The temporary files registration left in `directories`, which may repeat.
std::vector<TemporaryFileFacts> examine_temporary_files(const std::vector<fs::path>& directories) {
    std::vector<TemporaryFileFacts> found;
    std::vector<fs::path> seen;
    for (const fs::path& directory : directories) {
        if (std::any_of(seen.begin(), seen.end(),
                        [&](const fs::path& d) { return same_path(d, directory); })) {
            continue;
        }
        seen.push_back(directory);
        std::error_code error;
        for (fs::directory_iterator entry(directory, error), end; !error && entry != end;
             entry.increment(error)) {
            auto pid = registration_macos::temporary_file_process(entry->path().filename().native());
            if (!pid) continue;
            found.push_back({entry->path(), *pid, platform::process_exists(*pid)});
        }
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    return found;
}

OverrideFacts examine_override() {
    OverrideFacts facts;
    if (const char* value = std::getenv(launcher::APP_OVERRIDE_ENV)) facts.candidate = check_candidate(value);
    return facts;
}

// ---- The socket ----------------------------------------------------------------------------

ConnectOutcome classify_connect_error(const boost::system::error_code& error) {
    namespace errc = boost::system::errc;
    if (error == errc::no_such_file_or_directory) return ConnectOutcome::NoSocketFile;
    if (error == errc::connection_refused) return ConnectOutcome::Refused;
    if (error == errc::permission_denied || error == errc::operation_not_permitted) {
        return ConnectOutcome::PermissionDenied;
    }
    // Linux turns down a connection to a listener whose backlog is full at once instead of
    // letting it wait.
    if (error == errc::resource_unavailable_try_again || error == errc::not_connected) {
        return ConnectOutcome::NotAccepting;
    }
    return ConnectOutcome::Failed;
}

// Connects with the host's own connect and closes again at once, writing nothing: whatever
// listens sees a connection that ends without a request.
asio::awaitable<ConnectOutcome> connect_and_close(std::string endpoint) {
    ipc::ConnectResult result = co_await ipc::connect(std::move(endpoint));
    if (result) {
        result->close();
        co_return ConnectOutcome::Accepted;
    }
    co_return classify_connect_error(result.error());
}

ConnectOutcome probe(const std::string& endpoint, std::chrono::milliseconds limit) {
    asio::io_context io;
    std::optional<ConnectOutcome> outcome;
    asio::co_spawn(io, connect_and_close(endpoint),
                   [&](std::exception_ptr failure, ConnectOutcome connection) {
                       outcome = failure ? ConnectOutcome::Failed : connection;
                   });
    // A connect still pending at the limit is abandoned, and its socket closed, with the io_context.
    io.run_for(limit);
    return outcome.value_or(ConnectOutcome::NotAccepting);
}

SocketFacts examine_socket(std::chrono::milliseconds limit) {
    SocketFacts facts;
    facts.limit = ipc::max_endpoint_length();
    facts.path = ipc::user_endpoint();
    if (!facts.path) return facts;
    facts.length = facts.path->size();
    facts.fits = facts.length <= facts.limit;

    struct stat info {};
    if (::lstat(facts.path->c_str(), &info) == 0) {
        facts.file = S_ISSOCK(info.st_mode) ? SocketFile::Socket : SocketFile::Other;
        if (S_ISLNK(info.st_mode)) {
            std::error_code error;
            fs::path target = fs::read_symlink(*facts.path, error);
            if (!error) facts.link_target = target.string();
            // The host's connect follows the link: one that leads to a socket serves like the
            // socket itself.
            if (::stat(facts.path->c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
                facts.file = SocketFile::LinkToSocket;
            }
        }
    }
    if (facts.fits) facts.connection = probe(*facts.path, limit);
    return facts;
}

}  // namespace

Report examine(const ExamineInputs& inputs) {
    Report report;
    report.home = user_dirs::home_directory();
    report.home_access = examine_home(report.home);
    report.host = examine_host(inputs);
    report.manifests = examine_manifests(manifest_host(report.host));
    report.record = examine_record(report.host.application);
    std::vector<fs::path> directories;
    for (const ManifestFacts& manifest : report.manifests) {
        if (manifest.path) directories.push_back(manifest.path->parent_path());
    }
    if (report.record.path) directories.push_back(report.record.path->parent_path());
    report.temporary_files = examine_temporary_files(directories);
    report.override_path = examine_override();
    if (auto candidate = launcher::application_candidate()) {
        report.launch_candidate = check_candidate(std::move(*candidate));
    }
    if (inputs.round_trip) report.round_trip = round_trip(report.manifests, *inputs.round_trip);
    report.socket = examine_socket(inputs.connect_limit);
    report.findings = diagnose(report);
    return report;
}

}  // namespace ondrake::doctor
