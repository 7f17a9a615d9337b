#include "tools/doctor/options.hpp"

#include <algorithm>

namespace ondrake::doctor {

namespace {

constexpr std::string_view USAGE = R"(usage: ondrake-doctor [--host PATH] [--json]

Tells why a browser cannot reach Ondrake Download: checks every browser's native-messaging
manifest, the application-path record, ONDRAKE_DOWNLOAD_EXE and the application's socket, and
names for each problem the one action that fixes it. It changes nothing, starts nothing and sends
nothing to the application (it only connects to the socket and closes again).

options:
  --host PATH   compare the manifests with those register writes for the host at PATH
                (default: the ondrake-native-host beside the doctor)
  --json        print one JSON document instead of the report for people
  --help        this text

exit status: 0 nothing is wrong, 1 at least one problem was found, 2 bad usage, 3 the
examination itself failed (the reason is printed on standard error).

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
                       "blocked"), blockedBy (what keeps register from
                       writing the file), matchesRegister, hostPath, hostExecutable,
                       admitsExtension, firefoxTrust ("production", "development", "neither")
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
                       "failed", "not_attempted")
  problems[]           problem, browser, subject (the path concerned), summary, fix, fixText
)";

}  // namespace

std::string_view usage() { return USAGE; }

ParsedArguments parse_arguments(const std::vector<std::string_view>& arguments) {
    if (std::find(arguments.begin(), arguments.end(), "--help") != arguments.end()) return ShowHelp{};
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        if (argument == "--json") {
            options.json = true;
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
