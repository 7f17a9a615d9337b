// The tables behind the report's words: every problem's name, summary and fix, every fix's text,
// and the names of the facts' values. Support tools match on the names, so they never change.
#include "tools/doctor/report.hpp"

#include <array>

#include "browser-native-host/common/enum_table.hpp"

namespace ondrake::doctor {

namespace {

struct ProblemEntry {
    Problem problem;
    std::string_view key;
    std::string_view summary;
    Fix fix;
};

// Indexed by Problem; the first column ties each row to its enumerator.
constexpr std::array PROBLEMS = {
    ProblemEntry{Problem::NoHomeDirectory, "no_home_directory",
                 "HOME is not an absolute UTF-8 path, so the host finds neither the record nor "
                 "the socket, and the browsers find no manifest",
                 Fix::SetHome},
    ProblemEntry{Problem::HomeUnreadable, "home_unreadable",
                 "HOME names no directory that can be entered (it is missing, not a directory, or "
                 "permission is denied), so the browsers find no manifest, the host neither the "
                 "record nor the socket, and register cannot write there",
                 Fix::RepairHome},
    ProblemEntry{Problem::HostMissing, "host_missing",
                 "there is no executable ondrake-native-host where it should be", Fix::ReinstallApplication},
    ProblemEntry{Problem::ApplicationUnidentified, "application_unidentified",
                 "the application bundle around the host does not name its main executable, or "
                 "that executable is missing",
                 Fix::ReinstallApplication},
    ProblemEntry{Problem::ApplicationOnDiskImage, "application_on_disk_image",
                 "the application runs from a mounted disk image, where register refuses to work",
                 Fix::CopyFromDiskImage},
    ProblemEntry{Problem::ApplicationTranslocated, "application_translocated",
                 "macOS runs the application from a temporary read-only copy (App Translocation), "
                 "where register refuses to work",
                 Fix::MoveWithFinder},
    ProblemEntry{Problem::ApplicationOutsideApplications, "application_outside_applications",
                 "the application is not directly in /Applications, where register expects it",
                 Fix::MoveIntoApplications},
    ProblemEntry{Problem::ManifestMissing, "manifest_missing",
                 "the native-messaging manifest is missing, so the browser reports the native host "
                 "as not found",
                 Fix::RunRegister},
    ProblemEntry{Problem::ManifestUnreadable, "manifest_unreadable",
                 "the native-messaging manifest is not a readable JSON object", Fix::RunRegister},
    ProblemEntry{Problem::ManifestTooDeep, "manifest_too_deep",
                 "the native-messaging manifest is JSON nested more than 32 levels deep, which no "
                 "manifest is",
                 Fix::RunRegister},
    ProblemEntry{Problem::ManifestHostMissing, "manifest_host_missing",
                 "the manifest's \"path\" does not name an existing executable file (the host was "
                 "moved or removed)",
                 Fix::RunRegister},
    ProblemEntry{Problem::ManifestExtensionNotAdmitted, "manifest_extension_not_admitted",
                 "the manifest does not admit our browser extension", Fix::RunRegister},
    ProblemEntry{Problem::FirefoxDevelopmentTrust, "firefox_development_trust",
                 "the Firefox manifest also admits the development build of the add-on", Fix::RunRegister},
    ProblemEntry{Problem::ManifestStale, "manifest_stale",
                 "the manifest differs from the one register writes for this host", Fix::RunRegister},
    ProblemEntry{Problem::ManifestPathBlocked, "manifest_path_blocked",
                 "register cannot write the manifest: a directory stands at its path, or a file "
                 "where one of the directories above it belongs",
                 Fix::RemoveBlockingPath},
    ProblemEntry{Problem::RecordMissing, "record_missing",
                 "the application-path record is missing, so the host cannot start the application",
                 Fix::RunRegister},
    ProblemEntry{Problem::RecordUnreadable, "record_unreadable",
                 "the application-path record cannot be read as UTF-8 text", Fix::RunRegister},
    ProblemEntry{Problem::RecordNotAbsolute, "record_not_absolute",
                 "the application-path record does not hold an absolute path", Fix::RunRegister},
    ProblemEntry{Problem::RecordTargetMissing, "record_target_missing",
                 "the application-path record names no existing file (the application was moved "
                 "or removed)",
                 Fix::RunRegister},
    ProblemEntry{Problem::RecordTargetNotExecutable, "record_target_not_executable",
                 "the recorded application executable may not be executed", Fix::ReinstallApplication},
    ProblemEntry{Problem::RecordStale, "record_stale",
                 "the application-path record names another application than the one beside this "
                 "host",
                 Fix::RunRegister},
    ProblemEntry{Problem::RecordPathBlocked, "record_path_blocked",
                 "register cannot write the application-path record: a directory stands at its "
                 "path, or a file where one of the directories above it belongs",
                 Fix::RemoveBlockingPath},
    ProblemEntry{Problem::TemporaryFileLeftOver, "temporary_file_left_over",
                 "a registration that ended before it finished left its temporary file behind",
                 Fix::RemoveTemporaryFile},
    ProblemEntry{Problem::TemporaryFileOfARunningProcess, "temporary_file_of_a_running_process",
                 "a temporary file of registration is there, and a process with the id in its "
                 "name is running: a registration may be writing it right now",
                 Fix::WaitForRegistration},
    ProblemEntry{Problem::OverrideUnusable, "override_unusable",
                 "ONDRAKE_DOWNLOAD_EXE is set but does not name an executable file by an absolute "
                 "path, and it takes precedence over the record",
                 Fix::UnsetOverride},
    ProblemEntry{Problem::SocketPathTooLong, "socket_path_too_long",
                 "the socket path is too long for a Unix socket address, so no connection can ever "
                 "be made",
                 Fix::ShortenHome},
    ProblemEntry{Problem::SocketMissing, "socket_missing",
                 "the application is not running: its socket does not exist", Fix::StartApplication},
    ProblemEntry{Problem::SocketNotASocket, "socket_not_a_socket",
                 "something other than a socket occupies the socket path", Fix::RemoveStrayFile},
    ProblemEntry{Problem::SocketNotListening, "socket_not_listening",
                 "nobody listens on the socket (the application quit or stopped listening)",
                 Fix::RestartApplication},
    ProblemEntry{Problem::SocketNotAccepting, "socket_not_accepting",
                 "the application's socket did not accept a connection in time", Fix::RestartApplication},
    ProblemEntry{Problem::SocketPermissionDenied, "socket_permission_denied",
                 "connecting to the socket is not permitted", Fix::RunAsSameUser},
    ProblemEntry{Problem::SocketUnreachable, "socket_unreachable", "connecting to the socket failed",
                 Fix::RestartApplication},
    ProblemEntry{Problem::RoundTripHostNotExecutable, "round_trip_host_not_executable",
                 "the system refuses to run the host the manifest names: it is missing, or no "
                 "program that may be executed",
                 Fix::ReinstallThenRegister},
    ProblemEntry{Problem::RoundTripHostDidNotStart, "round_trip_host_did_not_start",
                 "the host the manifest names could not be started", Fix::ReinstallApplication},
    ProblemEntry{Problem::RoundTripHostEnded, "round_trip_host_ended",
                 "the host ended before it answered; its standard error, shown above, may tell why",
                 Fix::ReinstallApplication},
    ProblemEntry{Problem::RoundTripNoReply, "round_trip_no_reply",
                 "the host did not answer within the time limit, and was stopped", Fix::ReinstallApplication},
    ProblemEntry{Problem::RoundTripWrongReply, "round_trip_wrong_reply",
                 "the host answered, but not as ondrake-native-host answers: the manifest names "
                 "another program, or an outdated host",
                 Fix::ReinstallThenRegister},
    ProblemEntry{Problem::RoundTripApplicationUnavailable, "round_trip_application_unavailable",
                 "the host could neither reach the application nor start it (APP_UNAVAILABLE); the "
                 "host's standard error, shown above, tells how far the start got",
                 Fix::StartApplication},
    ProblemEntry{Problem::RoundTripApplicationSilent, "round_trip_application_silent",
                 "the application took the host's connection but gave no usable answer in time "
                 "(DELIVERY_INDETERMINATE)",
                 Fix::RestartApplication},
};

struct FixEntry {
    Fix fix;
    std::string_view key;
    std::string_view text;
};

constexpr std::array FIXES = {
    FixEntry{Fix::SetHome, "set_home",
             "run the doctor (and the browser) with HOME set to your home directory"},
    FixEntry{Fix::RepairHome, "repair_home",
             "make HOME name your own home directory, one you may enter: ls -ld \"$HOME\" must "
             "show a directory owned by you with rwx for its owner"},
    FixEntry{Fix::ReinstallApplication, "reinstall_application",
             "reinstall Ondrake Download: copy it afresh from its disk image into /Applications"},
    FixEntry{Fix::MoveIntoApplications, "move_into_applications",
             "move Ondrake Download into /Applications, then run register from there"},
    FixEntry{Fix::CopyFromDiskImage, "copy_from_disk_image",
             "copy Ondrake Download from the disk image into /Applications, eject the disk image, "
             "then run register from /Applications"},
    FixEntry{Fix::MoveWithFinder, "move_with_finder",
             "move Ondrake Download into /Applications with the Finder, open it once from there, "
             "then run register"},
    FixEntry{Fix::RunRegister, "run_register",
             "run \"ondrake-native-host register\" from Contents/MacOS of Ondrake Download in "
             "/Applications"},
    FixEntry{Fix::UnsetOverride, "unset_override",
             "unset ONDRAKE_DOWNLOAD_EXE, or set it to the absolute path of the application's "
             "executable"},
    FixEntry{Fix::ShortenHome, "shorten_home",
             "use a home directory with a shorter path: the socket path must fit a Unix socket "
             "address"},
    FixEntry{Fix::StartApplication, "start_application",
             "start Ondrake Download (the host also starts it when the browser sends a download, "
             "once the application-path record is right)"},
    FixEntry{Fix::RemoveStrayFile, "remove_stray_file",
             "remove the file at the socket path, then start Ondrake Download"},
    FixEntry{Fix::RestartApplication, "restart_application",
             "quit Ondrake Download if it runs, then start it again"},
    FixEntry{Fix::RunAsSameUser, "run_as_same_user",
             "run Ondrake Download as the same user as the browser, and check the permissions of "
             "its ipc directory"},
    FixEntry{Fix::RemoveBlockingPath, "remove_blocking_path",
             "move away what stands at the path named, then run \"ondrake-native-host register\" "
             "from Contents/MacOS of Ondrake Download in /Applications"},
    FixEntry{Fix::RemoveTemporaryFile, "remove_temporary_file",
             "remove the temporary file named; nothing reads it"},
    FixEntry{Fix::WaitForRegistration, "wait_for_registration",
             "run the doctor again once the registration has finished; remove the file named if "
             "it is still there then"},
    FixEntry{Fix::ReinstallThenRegister, "reinstall_then_register",
             "reinstall Ondrake Download (copy it afresh from its disk image into /Applications), "
             "then run \"ondrake-native-host register\" from Contents/MacOS of Ondrake Download in "
             "/Applications"},
};

static_assert(enum_table::in_enum_order<Problem::RoundTripApplicationSilent>(PROBLEMS,
                                                                             &ProblemEntry::problem),
              "one row per Problem, in the enumeration's order");
static_assert(enum_table::in_enum_order<Fix::ReinstallThenRegister>(FIXES, &FixEntry::fix),
              "one row per Fix, in the enumeration's order");

const ProblemEntry& entry(Problem problem) { return PROBLEMS[static_cast<std::size_t>(problem)]; }
const FixEntry& entry(Fix fix) { return FIXES[static_cast<std::size_t>(fix)]; }

using enum_table::Named;

template <class Enum, std::size_t N>
std::string_view name_in(const Named<Enum> (&names)[N], Enum value) {
    return names[static_cast<std::size_t>(value)].text;
}

constexpr Named<HostSource> HOST_SOURCES[] = {
    {HostSource::BesideDoctor, "beside_doctor"},
    {HostSource::Option, "option"},
    {HostSource::Unknown, "unknown"},
};
constexpr Named<InstallLocation> LOCATIONS[] = {
    {InstallLocation::Canonical, "canonical"},
    {InstallLocation::MountedVolume, "mounted_volume"},
    {InstallLocation::Translocated, "translocated"},
    {InstallLocation::Elsewhere, "elsewhere"},
};
constexpr Named<ManifestState> MANIFEST_STATES[] = {
    {ManifestState::NoDirectory, "no_directory"}, {ManifestState::Missing, "missing"},
    {ManifestState::Unreadable, "unreadable"},    {ManifestState::NotJson, "not_json"},
    {ManifestState::TooDeep, "too_deep"},         {ManifestState::Present, "present"},
    {ManifestState::Blocked, "blocked"},
};
constexpr Named<HomeAccess> HOME_ACCESSES[] = {
    {HomeAccess::Usable, "usable"},
    {HomeAccess::Missing, "missing"},
    {HomeAccess::NotADirectory, "not_a_directory"},
    {HomeAccess::Unreadable, "unreadable"},
};
constexpr Named<FirefoxTrust> FIREFOX_TRUSTS[] = {
    {FirefoxTrust::Production, "production"},
    {FirefoxTrust::Development, "development"},
    {FirefoxTrust::Neither, "neither"},
};
constexpr Named<RecordState> RECORD_STATES[] = {
    {RecordState::NoStateDirectory, "no_state_directory"},
    {RecordState::Missing, "missing"},
    {RecordState::Unreadable, "unreadable"},
    {RecordState::Present, "present"},
    {RecordState::Blocked, "blocked"},
};
constexpr Named<SocketFile> SOCKET_FILES[] = {
    {SocketFile::None, "none"},
    {SocketFile::Socket, "socket"},
    {SocketFile::LinkToSocket, "link_to_socket"},
    {SocketFile::Other, "other"},
};
constexpr Named<ConnectOutcome> CONNECTIONS[] = {
    {ConnectOutcome::Accepted, "accepted"},
    {ConnectOutcome::NoSocketFile, "no_socket_file"},
    {ConnectOutcome::Refused, "refused"},
    {ConnectOutcome::NotAccepting, "not_accepting"},
    {ConnectOutcome::PermissionDenied, "permission_denied"},
    {ConnectOutcome::Failed, "failed"},
    {ConnectOutcome::NotAttempted, "not_attempted"},
};
constexpr Named<HostStart> HOST_STARTS[] = {
    {HostStart::NoManifest, "no_manifest"}, {HostStart::NoHost, "no_host"},
    {HostStart::NoCaller, "no_caller"},     {HostStart::NotExecutable, "not_executable"},
    {HostStart::Failed, "failed"},          {HostStart::Started, "started"},
};
constexpr Named<LegResult> LEG_RESULTS[] = {
    {LegResult::NotTried, "not_tried"},
    {LegResult::Passed, "passed"},
    {LegResult::HostEnded, "host_ended"},
    {LegResult::NoReply, "no_reply"},
    {LegResult::WrongReply, "wrong_reply"},
    {LegResult::ApplicationUnavailable, "application_unavailable"},
    {LegResult::ApplicationSilent, "application_silent"},
};

using enum_table::in_enum_order;
static_assert(in_enum_order<HostSource::Unknown>(HOST_SOURCES));
static_assert(in_enum_order<InstallLocation::Elsewhere>(LOCATIONS));
static_assert(in_enum_order<ManifestState::Blocked>(MANIFEST_STATES));
static_assert(in_enum_order<HomeAccess::Unreadable>(HOME_ACCESSES));
static_assert(in_enum_order<FirefoxTrust::Neither>(FIREFOX_TRUSTS));
static_assert(in_enum_order<RecordState::Blocked>(RECORD_STATES));
static_assert(in_enum_order<SocketFile::Other>(SOCKET_FILES));
static_assert(in_enum_order<ConnectOutcome::NotAttempted>(CONNECTIONS));
static_assert(in_enum_order<HostStart::Started>(HOST_STARTS));
static_assert(in_enum_order<LegResult::ApplicationSilent>(LEG_RESULTS));

}  // namespace

std::string_view key(Problem problem) { return entry(problem).key; }
std::string_view summary(Problem problem) { return entry(problem).summary; }
Fix fix_for(Problem problem) { return entry(problem).fix; }
std::string_view key(Fix fix) { return entry(fix).key; }
std::string_view text(Fix fix) { return entry(fix).text; }

std::string_view key(HostSource source) { return name_in(HOST_SOURCES, source); }
std::string_view key(InstallLocation location) { return name_in(LOCATIONS, location); }
std::string_view key(HomeAccess access) { return name_in(HOME_ACCESSES, access); }
std::string_view key(ManifestState state) { return name_in(MANIFEST_STATES, state); }
std::string_view key(FirefoxTrust trust) { return name_in(FIREFOX_TRUSTS, trust); }
std::string_view key(RecordState state) { return name_in(RECORD_STATES, state); }
std::string_view key(SocketFile file) { return name_in(SOCKET_FILES, file); }
std::string_view key(ConnectOutcome connection) { return name_in(CONNECTIONS, connection); }
std::string_view key(HostStart start) { return name_in(HOST_STARTS, start); }
std::string_view key(LegResult result) { return name_in(LEG_RESULTS, result); }

std::string shell_quoted(std::string_view word) {
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'') quoted.append("'\\''");
        else quoted.push_back(c);
    }
    return quoted + "'";
}

std::optional<std::string> Report::register_command() const {
    if (!host.path) return std::nullopt;
    // Quoted for a POSIX shell: the bundle's name holds a space.
    return shell_quoted(host.path->native()) + " register";
}

}  // namespace ondrake::doctor
