// What ondrake-doctor found out about one user's set-up: plain facts about the host, each
// browser's manifest, the application-path record, the override and the socket, and the problems
// read from those facts, each with the one action that fixes it. Examining fills it in; the
// renderers only read it.
#pragma once

#include "browser-native-host/installation/install_location.hpp"
#include "browser-native-host/installation/registration.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace ondrake::doctor {

using install_location::InstallLocation;
using registration::RegistrationError;
using registration::SupportedBrowser;

// Where the host that the manifests should name was found.
enum class HostSource : std::uint8_t {
    BesideDoctor,  // "ondrake-native-host" in the doctor's own directory
    Option,        // given with --host
    Unknown,       // the system could not tell where the doctor itself runs from
};

struct HostFacts {
    HostSource source = HostSource::Unknown;
    std::optional<std::filesystem::path> path;  // resolved as register resolves the running host
    bool executable = false;                    // an existing regular file we may execute
    // The installation around the host, as register would see it when run from there.
    std::optional<std::filesystem::path> bundle;       // none: not inside <x>.app/Contents/MacOS
    std::optional<std::filesystem::path> application;  // the main executable beside the host
    std::optional<RegistrationError> identification_error;
    std::optional<InstallLocation> location;  // only when the application is known
};

// Whether HOME leads anywhere: the browsers, the host and register all look below it.
enum class HomeAccess : std::uint8_t {
    Usable,
    Missing,        // nothing is there
    NotADirectory,  // HOME, or one of the directories above it, is something else
    Unreadable,     // it may not be entered (permission denied), or looking at it failed
};

enum class ManifestState : std::uint8_t {
    NoDirectory,  // the browser reads no per-user manifest we write, or HOME is unusable
    Missing,
    Unreadable,  // something is there, but not a readable UTF-8 file of a manifest's size
    NotJson,     // readable, but not a JSON object
    TooDeep,     // JSON, but nested deeper than MANIFEST_DEPTH_LIMIT levels
    Present,
    Blocked,  // register cannot write there: see ManifestFacts::blocked_by
};

enum class FirefoxTrust : std::uint8_t {
    Production,   // the production add-on only
    Development,  // the development build is admitted
    Neither,      // none of our add-ons
};

// The deepest nesting the doctor reads in a manifest, whose members nest two levels deep.
inline constexpr std::size_t MANIFEST_DEPTH_LIMIT = 32;

struct ManifestFacts {
    SupportedBrowser browser = SupportedBrowser::Chrome;
    std::optional<std::filesystem::path> path;
    std::optional<SupportedBrowser> shares_with;  // an earlier browser reads the same file
    ManifestState state = ManifestState::NoDirectory;
    // Whether the bytes are exactly what register would write for the host; none when that
    // cannot be known (no usable host, or no file).
    std::optional<bool> matches_register;
    // From a lenient read of a Present manifest:
    std::optional<std::string> host_path;  // the "path" member, when it is a string
    bool host_executable = false;          // host_path names an executable regular file
    bool admits_extension = false;         // our extension's origin, or our production add-on
    std::vector<std::string> admitted;     // the strings of allowed_origins (allowed_extensions for Firefox)
    std::optional<FirefoxTrust> firefox_trust;        // Firefox only
    std::optional<std::filesystem::path> blocked_by;  // set with ManifestState::Blocked
};

// A path that is to be started as the application, and what the launcher would make of it.
struct CandidateFacts {
    std::string value;
    bool absolute = false;
    bool regular_file = false;  // the launcher's own test: absolute and a regular file
    bool executable = false;    // and we may execute it
};

enum class RecordState : std::uint8_t {
    NoStateDirectory,  // HOME is unusable
    Missing,
    Unreadable,  // there, but not readable as UTF-8 text of a path's size
    Present,
    Blocked,  // register cannot write there: see RecordFacts::blocked_by
};

struct RecordFacts {
    std::optional<std::filesystem::path> path;
    RecordState state = RecordState::NoStateDirectory;
    std::optional<CandidateFacts> candidate;  // the trimmed content of a Present record
    // Whether it names the application identified beside the host; none when either is unknown.
    std::optional<bool> matches_installation;
    std::optional<std::filesystem::path> blocked_by;  // set with RecordState::Blocked
};

// A temporary file that registration writes beside a manifest or the record and renames into
// place; one that is still there was left by a registration that did not finish.
struct TemporaryFileFacts {
    std::filesystem::path path;
    pid_t pid = 0;                 // the registration's process id, from the file's name
    bool process_running = false;  // some process has that id now (it may be another one)

    bool operator==(const TemporaryFileFacts&) const = default;
};

struct OverrideFacts {
    std::optional<CandidateFacts> candidate;  // none: ONDRAKE_DOWNLOAD_EXE is not set
};

enum class SocketFile : std::uint8_t {
    None,
    Socket,
    LinkToSocket,  // a symbolic link that leads to a socket, which connecting follows
    Other,
};

enum class ConnectOutcome : std::uint8_t {
    Accepted,
    NoSocketFile,
    Refused,       // a socket file nobody listens on
    NotAccepting,  // a listener that did not take the connection in time
    PermissionDenied,
    Failed,        // any other error
    NotAttempted,  // no endpoint, or one too long for a socket address
};

struct SocketFacts {
    std::optional<std::string> path;
    std::size_t length = 0;
    std::size_t limit = 0;  // the longest path a socket address holds on this system
    bool fits = false;
    SocketFile file = SocketFile::None;
    std::optional<std::string> link_target;  // what a symbolic link at the path names
    ConnectOutcome connection = ConnectOutcome::NotAttempted;
};

// ---- The round trip: a host started as a browser starts it, and two messages -------------------

// How far starting the host got.
enum class HostStart : std::uint8_t {
    NoManifest,     // the browser has no manifest to read, so it would start nothing
    NoHost,         // the manifest's "path" is no string
    NoCaller,       // the manifest admits no extension that could ask for the host
    NotExecutable,  // the system refuses to run the file the manifest names
    Failed,         // the start failed otherwise
    Started,
};

// What became of one of the two messages.
enum class LegResult : std::uint8_t {
    NotTried,                // an earlier step failed
    Passed,                  // the expected kind of reply came
    HostEnded,               // the host's output ended before the reply
    NoReply,                 // no reply within the leg's limit
    WrongReply,              // a reply, but not the one this message gets, or a broken frame
    ApplicationUnavailable,  // the host could neither reach nor start the application
    ApplicationSilent,       // the application took the request and gave no usable answer in time
};

struct LegFacts {
    LegResult result = LegResult::NotTried;
    std::chrono::milliseconds elapsed{0};
    std::chrono::milliseconds limit{0};
    std::optional<std::string> reply;  // the reply's body, as it came
    std::string note;                  // what was wrong with a reply that is not the expected one
};

// How a host started by the round trip ended.
struct HostExit {
    bool signalled = false;  // ended by a signal rather than by exiting
    int value = 0;           // the exit status, or the signal's number
    bool stopped = false;    // it did not exit when its input ended: the doctor signalled it

    bool operator==(const HostExit&) const = default;
};

struct RoundTripFacts {
    SupportedBrowser browser = SupportedBrowser::Chrome;
    std::optional<std::filesystem::path> manifest;
    std::optional<std::string> host;     // the manifest's "path"
    std::vector<std::string> arguments;  // what the browser passes after the program's name
    HostStart start = HostStart::NoManifest;
    std::optional<std::string> start_error;  // the system's words for a failed start
    // Browser to host: a message the host refuses by itself. Counted from the start.
    LegFacts browser_leg;
    // Host to application: a message only the application answers, which changes nothing there.
    LegFacts application_leg;
    std::optional<HostExit> exit;
    std::vector<std::string> host_errors;  // the host's standard error, line by line, verbatim
    std::size_t host_errors_left_out = 0;
};

// Everything that keeps a browser from reaching the application, one value per cause.
enum class Problem : std::uint8_t {
    NoHomeDirectory,
    HomeUnreadable,
    HostMissing,
    ApplicationUnidentified,
    ApplicationOnDiskImage,
    ApplicationTranslocated,
    ApplicationOutsideApplications,
    ManifestMissing,
    ManifestUnreadable,
    ManifestTooDeep,
    ManifestHostMissing,
    ManifestExtensionNotAdmitted,
    FirefoxDevelopmentTrust,
    ManifestStale,
    ManifestPathBlocked,
    RecordMissing,
    RecordUnreadable,
    RecordNotAbsolute,
    RecordTargetMissing,
    RecordTargetNotExecutable,
    RecordStale,
    RecordPathBlocked,
    TemporaryFileLeftOver,
    TemporaryFileOfARunningProcess,
    OverrideUnusable,
    SocketPathTooLong,
    SocketMissing,
    SocketNotASocket,
    SocketNotListening,
    SocketNotAccepting,
    SocketPermissionDenied,
    SocketUnreachable,
    RoundTripHostNotExecutable,
    RoundTripHostDidNotStart,
    RoundTripHostEnded,
    RoundTripNoReply,
    RoundTripWrongReply,
    RoundTripApplicationUnavailable,
    RoundTripApplicationSilent,
};

// The actions that fix problems; several problems share one.
enum class Fix : std::uint8_t {
    SetHome,
    RepairHome,
    ReinstallApplication,
    MoveIntoApplications,
    CopyFromDiskImage,
    MoveWithFinder,
    RunRegister,
    UnsetOverride,
    ShortenHome,
    StartApplication,
    RemoveStrayFile,
    RestartApplication,
    RunAsSameUser,
    RemoveBlockingPath,
    RemoveTemporaryFile,
    WaitForRegistration,
    ReinstallThenRegister,
};

struct Finding {
    Problem problem;
    std::optional<SupportedBrowser> browser;
    std::string subject;  // the path (or value) the problem is about; may be empty

    bool operator==(const Finding&) const = default;
};

struct Report {
    std::optional<std::filesystem::path> home;
    HomeAccess home_access = HomeAccess::Usable;  // of a HOME that is set
    HostFacts host;
    std::vector<ManifestFacts> manifests;  // one per browser, in registration order
    RecordFacts record;
    std::vector<TemporaryFileFacts> temporary_files;  // beside the manifests and the record
    OverrideFacts override_path;
    // What the host's launcher would try to start: the override when set, else the record.
    std::optional<CandidateFacts> launch_candidate;
    SocketFacts socket;
    std::optional<std::vector<RoundTripFacts>> round_trip;  // none: not asked for
    std::vector<Finding> findings;

    bool healthy() const { return findings.empty(); }
    // The command that registers the host examined, when it is known.
    std::optional<std::string> register_command() const;
};

// `word` as one word of a POSIX shell's command line.
std::string shell_quoted(std::string_view word);

// ---- The problem and fix tables ------------------------------------------------------------

// Stable names for support tools: lower case with underscores.
std::string_view key(Problem problem);
std::string_view key(Fix fix);
// One line saying what is wrong, without the browser or subject.
std::string_view summary(Problem problem);
Fix fix_for(Problem problem);
// The action, as a person reads it.
std::string_view text(Fix fix);

std::string_view key(HostSource source);
std::string_view key(InstallLocation location);
std::string_view key(HomeAccess access);
std::string_view key(ManifestState state);
std::string_view key(FirefoxTrust trust);
std::string_view key(RecordState state);
std::string_view key(SocketFile file);
std::string_view key(ConnectOutcome connection);
std::string_view key(HostStart start);
std::string_view key(LegResult result);

}  // namespace ondrake::doctor
