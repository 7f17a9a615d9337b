#include "tools/doctor/options.hpp"

#include <algorithm>

namespace ondrake::doctor {

namespace {

constexpr std::string_view USAGE =
    R"(usage: ondrake-doctor [--host PATH] [--round-trip [BROWSER]] [--json] [--report FILE]

Tells why a browser cannot reach Ondrake Download: checks every browser's native-messaging
manifest, the application-path record, ONDRAKE_DOWNLOAD_EXE and the application's socket, and
names for each problem the one action that fixes it. By default it changes nothing, starts
nothing and sends nothing to the application (it only connects to the socket and closes again).

options:
  --host PATH   compare the manifests with those register writes for the host at PATH
                (default: the ondrake-native-host beside the doctor)
  --round-trip [BROWSER]
                also start the host each browser's manifest names (or only BROWSER's: chrome,
                edge, firefox, brave, chromium, opera, vivaldi) as that browser starts it: the
                manifest's path, in its own directory, with the browser's arguments (a
                Chromium-family browser passes the extension's origin from allowed_origins,
                Firefox the manifest's path and an add-on id from allowed_extensions), pipes on
                its standard streams and the environment a browser started from the Dock gives
                it (HOME, USER, LOGNAME, SHELL, TMPDIR, LANG and the system's PATH; no
                ONDRAKE_DOWNLOAD_EXE). Two messages then prove one leg each: a download of an
                ftp: URL, which the host refuses by itself (browser to host, 10 s limit from the
                start), and capture_status for a capture that no capture has, which only the
                application answers (host to application, 74.7 s limit: the host's own worst
                case for launching the application and waiting for it). The host starts the
                application when nobody listens, as it does for a browser. This is the one option
                that starts processes; the host is always stopped, and nothing is written.
  --json        print one JSON document instead of the report for people
  --report FILE also write FILE: a plain-text report to attach to a support request, with the
                findings (and the round trip, when asked for), the manifests' contents, the
                host's and the application bundle's identity (paths, sizes, modification times,
                the bundle's version) and the system's version; HOME is written as ~, and it
                holds no message of yours, no URL (but the extension origins the manifests
                admit) and no cookie. A link or anything else at FILE is replaced, never
                written through.
  --help        this text

exit status: 0 nothing is wrong, 1 at least one problem was found, 2 bad usage, 3 the
examination itself failed or the report could not be written (the reason is printed on standard
error).

The JSON document (keys are stable; a value that does not apply is null):
  healthy              true when "problems" is empty
  home                 HOME, or null when it is unset or not absolute
  homeAccess           "usable", "missing", "not_a_directory", "unreadable" (it may not be
                       entered), or null without a HOME
  host                 path, source ("beside_doctor", "option", "unknown"), executable,
                       bundle, application, identificationError (the reason register could not
                       identify the application), location ("canonical", "mounted_volume",
                       "translocated", "elsewhere")
  registerCommand      the shell command that registers this host
  manifests[]          one per browser: browser, path, sharesWith (the browser whose manifest
                       file this one reads), state ("no_directory", "missing", "unreadable",
                       "not_json", "too_deep": JSON nested more than 32 levels, "present",
                       "blocked"), blockedBy (what keeps register from writing the file),
                       matchesRegister, hostPath, hostExecutable, admitsExtension, admitted (the
                       strings of allowed_origins, or of allowed_extensions for Firefox),
                       firefoxTrust ("production", "development", "neither")
  applicationRecord    path, state ("no_state_directory", "missing", "unreadable", "present",
                       "blocked"), blockedBy, candidate, matchesInstallation
  temporaryFiles[]     temporary files that a registration left beside a manifest or the
                       record: path, pid (the registration's process id, from the name),
                       processRunning (a process with that id runs now)
  override             set, candidate: ONDRAKE_DOWNLOAD_EXE
  launchCandidate      what the host's launcher would start: the override, else the record
                       (a candidate is value, absolute, regularFile, executable)
  socket               path, length, limit (bytes a socket address holds), fitsAddress, file
                       ("none", "socket", "link_to_socket": a symbolic link that leads to a
                       socket, which serves like the socket itself, "other"), linkTarget (what a
                       symbolic link at the path names), connection ("accepted",
                       "no_socket_file", "refused", "not_accepting", "permission_denied",
                       "failed", "not_attempted"), as it is after the round trip
  roundTrip[]          null without --round-trip; else one per browser tried: browser, manifest,
                       host (the manifest's path), arguments, start ("started", "no_manifest",
                       "no_host", "no_caller", "not_executable", "failed"), startError (the
                       system's words), browserToHost and hostToApplication (each: result
                       ("passed", "not_tried", "host_ended", "no_reply", "wrong_reply",
                       "application_unavailable", "application_silent"), milliseconds,
                       limitMilliseconds, reply (the body as it came), note (what is wrong with
                       it)), exit (how the host ended: signalled, value (exit status or signal),
                       stoppedByDoctor), hostStandardError (its lines, verbatim),
                       hostStandardErrorLeftOut (lines past the first 100)
  problems[]           problem, browser, subject (the path concerned), summary, fix, fixText
)";

std::optional<registration::SupportedBrowser> browser_named(std::string_view name) {
    for (registration::SupportedBrowser browser : registration::ALL_BROWSERS) {
        if (registration::display_name(browser) == name) return browser;
    }
    return std::nullopt;
}

}  // namespace

std::string_view usage() { return USAGE; }

ParsedArguments parse_arguments(const std::vector<std::string_view>& arguments) {
    if (std::find(arguments.begin(), arguments.end(), "--help") != arguments.end()) return ShowHelp{};
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        if (argument == "--json") {
            options.json = true;
        } else if (argument == "--round-trip") {
            if (options.round_trip) return UsageError{"--round-trip is given twice"};
            options.round_trip = true;
            // The browser is optional: a following word that is no option names it.
            if (i + 1 < arguments.size() && arguments[i + 1].substr(0, 1) != "-") {
                std::string_view name = arguments[++i];
                options.round_trip_browser = browser_named(name);
                if (!options.round_trip_browser) {
                    return UsageError{"--round-trip: no browser is called " + std::string(name) +
                                      " (chrome, edge, firefox, brave, chromium, opera, vivaldi)"};
                }
            }
        } else if (argument == "--report") {
            if (options.report_file) return UsageError{"--report is given twice"};
            if (i + 1 == arguments.size() || arguments[i + 1].empty()) {
                return UsageError{"--report needs the path of the file to write"};
            }
            options.report_file = std::filesystem::path(std::string(arguments[++i]));
        } else if (argument == "--host") {
            if (options.host) return UsageError{"--host is given twice"};
            if (i + 1 == arguments.size() || arguments[i + 1].empty()) {
                return UsageError{"--host needs the path of ondrake-native-host"};
            }
            options.host = std::filesystem::path(std::string(arguments[++i]));
        } else if (argument.substr(0, 1) == "-") {
            return UsageError{"unknown option " + std::string(argument)};
        } else {
            return UsageError{"unexpected argument " + std::string(argument)};
        }
    }
    return options;
}

}  // namespace ondrake::doctor
