#include "tools/doctor/examine.hpp"

#include "browser-native-host/installation/install_location.hpp"
#include "browser-native-host/link/ipc.hpp"
#include "browser-native-host/link/launcher.hpp"
#include "browser-native-host/installation/registration.hpp"
#include "browser-native-host/installation/registration_macos.hpp"
#include "browser-native-host/common/user_dirs.hpp"
#include "browser-native-host/common/whole_file.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include <algorithm>
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

// ---- Manifests -----------------------------------------------------------------------------

bool array_holds(const json::object& manifest, std::string_view member, std::string_view wanted) {
    const json::value* list = manifest.if_contains(member);
    if (list == nullptr || !list->is_array()) return false;
    const json::array& elements = list->get_array();
    return std::any_of(elements.begin(), elements.end(), [&](const json::value& element) {
        return element.is_string() && std::string_view(element.get_string()) == wanted;
    });
}

// What a lenient read of a manifest's members tells; the file may have been edited by hand.
void read_members(const json::object& manifest, ManifestFacts& facts) {
    if (const json::value* path = manifest.if_contains("path"); path && path->is_string()) {
        facts.host_path = std::string(path->get_string());
        facts.host_executable =
            launcher::is_usable_candidate(*facts.host_path) && is_executable_file(*facts.host_path);
    }
    if (registration::is_firefox(facts.browser)) {
        bool production = array_holds(manifest, "allowed_extensions", registration::FIREFOX_ADDON_ID);
        bool development = array_holds(manifest, "allowed_extensions", registration::FIREFOX_DEV_ADDON_ID);
        facts.admits_extension = production;
        facts.firefox_trust = development  ? FirefoxTrust::Development
                              : production ? FirefoxTrust::Production
                                           : FirefoxTrust::Neither;
    } else {
        facts.admits_extension =
            array_holds(manifest, "allowed_origins", registration::chrome_extension_origin());
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
    json::value document = json::parse(*content, error);
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
    }
    if (facts.fits) facts.connection = probe(*facts.path, limit);
    return facts;
}

// ---- From facts to problems ----------------------------------------------------------------

void diagnose_host(const HostFacts& host, std::vector<Finding>& out) {
    std::string host_path = host.path ? host.path->string() : std::string();
    if (!host.executable) out.push_back({Problem::HostMissing, std::nullopt, host_path});
    if (!host.bundle) return;
    std::string bundle = host.bundle->string();
    if (host.identification_error == RegistrationError::UnidentifiedApplication) {
        out.push_back({Problem::ApplicationUnidentified, std::nullopt, bundle});
    }
    if (!host.location) return;
    switch (*host.location) {
        case InstallLocation::Canonical: break;
        case InstallLocation::MountedVolume:
            out.push_back({Problem::ApplicationOnDiskImage, std::nullopt, bundle});
            break;
        case InstallLocation::Translocated:
            out.push_back({Problem::ApplicationTranslocated, std::nullopt, bundle});
            break;
        case InstallLocation::Elsewhere:
            out.push_back({Problem::ApplicationOutsideApplications, std::nullopt, bundle});
            break;
    }
}

void diagnose_manifest(const ManifestFacts& manifest, std::vector<Finding>& out) {
    // A browser that reads an earlier browser's file has its problems reported there.
    if (manifest.shares_with || !manifest.path) return;
    std::string path = manifest.path->string();
    auto report = [&](Problem problem, std::string subject) {
        out.push_back({problem, manifest.browser, std::move(subject)});
    };
    switch (manifest.state) {
        case ManifestState::NoDirectory: return;
        case ManifestState::Missing: return report(Problem::ManifestMissing, path);
        case ManifestState::Unreadable:
        case ManifestState::NotJson: return report(Problem::ManifestUnreadable, path);
        case ManifestState::Blocked:
            return report(Problem::ManifestPathBlocked, manifest.blocked_by.value_or(path).string());
        case ManifestState::Present: break;
    }
    std::size_t before = out.size();
    if (!manifest.host_executable) report(Problem::ManifestHostMissing, manifest.host_path.value_or(path));
    if (!manifest.admits_extension) report(Problem::ManifestExtensionNotAdmitted, path);
    if (manifest.firefox_trust == FirefoxTrust::Development) {
        report(Problem::FirefoxDevelopmentTrust, path);
    }
    if (out.size() == before && manifest.matches_register == false) report(Problem::ManifestStale, path);
}

void diagnose_record(const RecordFacts& record, std::vector<Finding>& out) {
    std::string path = record.path ? record.path->string() : std::string();
    switch (record.state) {
        case RecordState::NoStateDirectory: return;
        case RecordState::Missing: out.push_back({Problem::RecordMissing, std::nullopt, path}); return;
        case RecordState::Unreadable: out.push_back({Problem::RecordUnreadable, std::nullopt, path}); return;
        case RecordState::Blocked:
            out.push_back(
                {Problem::RecordPathBlocked, std::nullopt, record.blocked_by.value_or(path).string()});
            return;
        case RecordState::Present: break;
    }
    const CandidateFacts& candidate = *record.candidate;
    std::optional<Problem> problem;
    if (!candidate.absolute) problem = Problem::RecordNotAbsolute;
    else if (!candidate.regular_file) problem = Problem::RecordTargetMissing;
    else if (!candidate.executable) problem = Problem::RecordTargetNotExecutable;
    else if (record.matches_installation == false) problem = Problem::RecordStale;
    // A blank record names nothing; then the record itself is what to look at.
    if (problem) out.push_back({*problem, std::nullopt, candidate.value.empty() ? path : candidate.value});
}

void diagnose_socket(const SocketFacts& socket, std::vector<Finding>& out) {
    if (!socket.path) return;
    const std::string& path = *socket.path;
    if (!socket.fits) {
        out.push_back({Problem::SocketPathTooLong, std::nullopt, path});
        return;
    }
    if (socket.file == SocketFile::Other) {
        out.push_back({Problem::SocketNotASocket, std::nullopt, path});
        return;
    }
    std::optional<Problem> problem;
    switch (socket.connection) {
        case ConnectOutcome::Accepted:
        case ConnectOutcome::NotAttempted: break;
        case ConnectOutcome::NoSocketFile: problem = Problem::SocketMissing; break;
        case ConnectOutcome::Refused: problem = Problem::SocketNotListening; break;
        case ConnectOutcome::NotAccepting: problem = Problem::SocketNotAccepting; break;
        case ConnectOutcome::PermissionDenied: problem = Problem::SocketPermissionDenied; break;
        case ConnectOutcome::Failed: problem = Problem::SocketUnreachable; break;
    }
    if (problem) out.push_back({*problem, std::nullopt, path});
}

}  // namespace

std::vector<Finding> diagnose(const Report& report) {
    std::vector<Finding> findings;
    diagnose_host(report.host, findings);
    if (!report.home || !report.socket.path) {
        findings.push_back({Problem::NoHomeDirectory, std::nullopt, std::string()});
    } else {
        for (const ManifestFacts& manifest : report.manifests) diagnose_manifest(manifest, findings);
        diagnose_record(report.record, findings);
    }
    // The host's environment, started by a browser, seldom holds a variable set in a terminal, so
    // a usable override does not excuse a broken record; an unusable one breaks the launch here.
    const auto& overriding = report.override_path.candidate;
    if (overriding && !(overriding->regular_file && overriding->executable)) {
        findings.push_back({Problem::OverrideUnusable, std::nullopt, overriding->value});
    }
    diagnose_socket(report.socket, findings);
    return findings;
}

Report examine(const ExamineInputs& inputs) {
    Report report;
    report.home = user_dirs::home_directory();
    report.host = examine_host(inputs);
    report.manifests = examine_manifests(manifest_host(report.host));
    report.record = examine_record(report.host.application);
    report.override_path = examine_override();
    if (auto candidate = launcher::application_candidate()) {
        report.launch_candidate = check_candidate(std::move(*candidate));
    }
    report.socket = examine_socket(inputs.connect_limit);
    report.findings = diagnose(report);
    return report;
}

}  // namespace ondrake::doctor
