#include "tools/doctor/render.hpp"

#include "tools/doctor/printable.hpp"

#include <string_view>

namespace ondrake::doctor {

namespace {

std::string_view yes_no(bool value, std::string_view yes, std::string_view no) { return value ? yes : no; }

std::string location_text(InstallLocation location) {
    switch (location) {
        case InstallLocation::Canonical: return "in /Applications";
        case InstallLocation::MountedVolume: return "on a mounted disk image";
        case InstallLocation::Translocated: return "translocated by macOS";
        case InstallLocation::Elsewhere: return "outside /Applications";
    }
    return {};
}

void host_section(const HostFacts& host, Lines& out) {
    out.line("Host");
    if (!host.path) {
        out.line("  unknown: the doctor cannot tell where it runs from; pass --host PATH");
        return;
    }
    std::string_view source = host.source == HostSource::Option ? "given with --host" : "beside the doctor";
    out.line("  ", host.path->string(), " (", source,
             "): ", yes_no(host.executable, "an executable file", "missing or not executable"));
    if (!host.bundle) {
        out.line("  not inside an application bundle (a development build)");
    } else if (host.application) {
        out.line("  application: ", host.application->string(), " (",
                 location_text(host.location.value_or(InstallLocation::Elsewhere)), ")");
    } else if (host.identification_error) {
        out.line("  application: ", registration::message(*host.identification_error));
    }
}

void manifest_lines(const ManifestFacts& manifest, Lines& out) {
    std::string name(registration::display_name(manifest.browser));
    name.resize(10, ' ');
    if (!manifest.path) {
        out.line("  ", name, "no per-user manifest directory");
        return;
    }
    if (manifest.shares_with) {
        out.line("  ", name, "reads ", registration::display_name(*manifest.shares_with), "'s manifest");
        return;
    }
    out.line("  ", name, manifest.path->string());
    std::string indent(12, ' ');
    switch (manifest.state) {
        case ManifestState::NoDirectory: return;
        case ManifestState::Missing: return out.line(indent, "missing");
        case ManifestState::Unreadable: return out.line(indent, "present but not readable UTF-8 text");
        case ManifestState::NotJson: return out.line(indent, "present but not a JSON object");
        case ManifestState::TooDeep:
            return out.line(indent, "present but JSON nested more than ",
                            std::to_string(MANIFEST_DEPTH_LIMIT), " levels deep");
        case ManifestState::Blocked: return out.line(indent, "blocked by ", manifest.blocked_by->string());
        case ManifestState::Present: break;
    }
    std::string facts = "present";
    if (manifest.matches_register) {
        facts += *manifest.matches_register ? "; exactly as register writes it"
                                            : "; differs from what register writes";
    }
    facts += manifest.admits_extension ? "; admits our extension" : "; does not admit our extension";
    out.line(indent, facts);
    if (manifest.host_path) {
        out.line(indent, "host: ", *manifest.host_path, " (",
                 yes_no(manifest.host_executable, "an executable file", "missing or not executable"), ")");
    } else {
        out.line(indent, "host: no \"path\" string");
    }
    if (manifest.firefox_trust) {
        std::string_view trust = *manifest.firefox_trust == FirefoxTrust::Production ? "production"
                                 : *manifest.firefox_trust == FirefoxTrust::Development
                                     ? "development"
                                     : "none of our add-ons";
        out.line(indent, "trust: ", trust);
    }
}

std::string candidate_text(const CandidateFacts& candidate) {
    std::string text = candidate.value + " (";
    if (!candidate.absolute) text += "not an absolute path";
    else if (!candidate.regular_file) text += "no such file";
    else text += candidate.executable ? "an executable file" : "a file that may not be executed";
    return text + ")";
}

void application_section(const Report& report, Lines& out) {
    const RecordFacts& record = report.record;
    out.line("Application");
    if (record.path) {
        out.line("  record: ", record.path->string());
        switch (record.state) {
            case RecordState::NoStateDirectory: break;
            case RecordState::Missing: out.line("    missing"); break;
            case RecordState::Unreadable: out.line("    present but not readable UTF-8 text"); break;
            case RecordState::Blocked: out.line("    blocked by ", record.blocked_by->string()); break;
            case RecordState::Present: out.line("    names ", candidate_text(*record.candidate)); break;
        }
        if (record.matches_installation) {
            out.line("    ", *record.matches_installation ? "the application beside the host"
                                                          : "not the application beside the host");
        }
    }
    if (const auto& overriding = report.override_path.candidate) {
        out.line("  ONDRAKE_DOWNLOAD_EXE: ", candidate_text(*overriding));
        out.line("    set here, it overrides the record; a host started by a browser seldom sees it");
    } else {
        out.line("  ONDRAKE_DOWNLOAD_EXE: not set");
    }
}

void socket_section(const SocketFacts& socket, Lines& out) {
    out.line("Socket");
    if (!socket.path) {
        out.line("  no socket path: HOME is unusable");
        return;
    }
    out.line("  ", *socket.path);
    out.line("  ", std::to_string(socket.length), " bytes, at most ", std::to_string(socket.limit),
             " fit a socket address: ", yes_no(socket.fits, "fits", "too long"));
    std::string file;
    switch (socket.file) {
        case SocketFile::None: file = "no socket file"; break;
        case SocketFile::Socket: file = "a socket file is there"; break;
        case SocketFile::LinkToSocket: file = "a symbolic link to a socket is there"; break;
        case SocketFile::Other: file = "something other than a socket is there"; break;
    }
    if (socket.link_target) out.line("  a symbolic link to ", *socket.link_target);
    std::string_view connection;
    switch (socket.connection) {
        case ConnectOutcome::Accepted: connection = "the application accepted a connection"; break;
        case ConnectOutcome::NoSocketFile: connection = "nothing to connect to"; break;
        case ConnectOutcome::Refused: connection = "connection refused: nobody listens"; break;
        case ConnectOutcome::NotAccepting: connection = "the listener did not accept in time"; break;
        case ConnectOutcome::PermissionDenied: connection = "connection not permitted"; break;
        case ConnectOutcome::Failed: connection = "connection failed"; break;
        case ConnectOutcome::NotAttempted: connection = "no connection attempted"; break;
    }
    out.line("  ", file, "; ", connection);
}

std::string duration_text(std::chrono::milliseconds duration) {
    auto ms = duration.count();
    if (ms < 1000) return std::to_string(ms) + " ms";
    auto tenths = (ms + 50) / 100;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

std::string_view failure_text(LegResult result) {
    switch (result) {
        case LegResult::NotTried:
        case LegResult::Passed: return {};
        case LegResult::HostEnded: return ": the host ended before it answered";
        case LegResult::NoReply: return ": no reply";
        case LegResult::WrongReply: return ": not the reply this message gets";
        case LegResult::ApplicationUnavailable:
            return ": the host could neither reach the application nor start it";
        case LegResult::ApplicationSilent: return ": the application gave no usable answer in time";
    }
    return {};
}

void leg_lines(std::string_view name, std::string_view sent, const LegFacts& leg, Lines& out) {
    if (leg.result == LegResult::NotTried) return out.line("    ", name, ": not tried");
    bool passed = leg.result == LegResult::Passed;
    out.line("    ", name, ": ", passed ? "passed in " : "FAILED after ", duration_text(leg.elapsed),
             " (limit ", duration_text(leg.limit), ")", failure_text(leg.result));
    out.line("      sent:  ", sent);
    if (leg.reply) out.line("      reply: ", *leg.reply);
    if (!leg.note.empty()) out.line("      ", leg.note);
}

std::string exit_text(const HostExit& exit) {
    std::string how =
        exit.signalled ? "signal " + std::to_string(exit.value) : "status " + std::to_string(exit.value);
    if (exit.stopped) return "did not exit when its input ended; the doctor stopped it (" + how + ")";
    return exit.signalled ? "ended by " + how : "exited with " + how;
}

void round_trip_lines(const RoundTripFacts& trip, Lines& out) {
    std::string name(registration::display_name(trip.browser));
    name.resize(10, ' ');
    out.line("  ", name, trip.manifest ? trip.manifest->string() : std::string("no per-user manifest"));
    std::string host = trip.host.value_or("");
    switch (trip.start) {
        case HostStart::NoManifest: return out.line("    not started: there is no manifest to read");
        case HostStart::NoHost: return out.line("    not started: the manifest's \"path\" is no string");
        case HostStart::NoCaller: return out.line("    not started: the manifest admits no extension");
        case HostStart::NotExecutable:
            return out.line("    not started: the system refuses to run ", host, ": ",
                            trip.start_error.value_or(""));
        case HostStart::Failed:
            return out.line("    not started: ", host, ": ", trip.start_error.value_or(""));
        case HostStart::Started: break;
    }
    std::string command = shell_quoted(host);
    for (const std::string& argument : trip.arguments) command += " " + shell_quoted(argument);
    out.line("    started: ", command);
    leg_lines("browser to host", "a download of an ftp: URL, which the host refuses by itself",
              trip.browser_leg, out);
    leg_lines("host to application",
              "capture_status for a capture that no capture has, which only the application answers",
              trip.application_leg, out);
    if (trip.exit) out.line("    the host ", exit_text(*trip.exit));
    if (trip.host_errors.empty()) return out.line("    its standard error: nothing");
    out.line("    its standard error:");
    for (const std::string& line : trip.host_errors) out.line("      ", line);
    if (trip.host_errors_left_out > 0) {
        out.line("      (", std::to_string(trip.host_errors_left_out), " more lines left out)");
    }
}

void round_trip_section(const Report& report, Lines& out) {
    if (!report.round_trip) return;
    out.line("Round trip: each host started as its browser starts it");
    if (report.round_trip->empty()) out.line("  no browser has a manifest of its own: nothing to start");
    for (const RoundTripFacts& trip : *report.round_trip) round_trip_lines(trip, out);
    out.line("");
}

void problems_section(const Report& report, Lines& out) {
    if (report.healthy()) {
        out.line("No problems found: the browsers can reach Ondrake Download.");
        return;
    }
    out.line("Problems (", std::to_string(report.findings.size()), ")");
    std::size_t number = 0;
    for (const Finding& finding : report.findings) {
        std::string head = "  " + std::to_string(++number) + ". ";
        if (finding.browser) head.append(registration::display_name(*finding.browser)).append(": ");
        out.line(head, summary(finding.problem));
        if (!finding.subject.empty()) out.line("     at:  ", finding.subject);
        Fix fix = fix_for(finding.problem);
        out.line("     fix: ", text(fix));
        if (fix == Fix::RunRegister || fix == Fix::ReinstallThenRegister) {
            if (auto command = report.register_command()) out.line("     run: ", *command);
        }
    }
}

}  // namespace

std::string render_text(const Report& report) {
    Lines out;
    out.line("ondrake-doctor: can the browsers reach Ondrake Download?");
    std::string_view access;
    switch (report.home_access) {
        case HomeAccess::Usable: break;
        case HomeAccess::Missing: access = " (missing)"; break;
        case HomeAccess::NotADirectory: access = " (not a directory)"; break;
        case HomeAccess::Unreadable: access = " (cannot be entered: permission denied)"; break;
    }
    out.line("HOME: ", report.home ? report.home->string() : std::string("unset or not absolute"), access);
    out.line("");
    host_section(report.host, out);
    out.line("");
    out.line("Browser manifests");
    for (const ManifestFacts& manifest : report.manifests) manifest_lines(manifest, out);
    out.line("");
    application_section(report, out);
    out.line("");
    if (!report.temporary_files.empty()) {
        out.line("Temporary files of registration");
        for (const TemporaryFileFacts& file : report.temporary_files) {
            out.line("  ", file.path.string(), " (process ", std::to_string(file.pid),
                     yes_no(file.process_running, ", running)", ", no longer running)"));
        }
        out.line("");
    }
    socket_section(report.socket, out);
    out.line("");
    round_trip_section(report, out);
    problems_section(report, out);
    return out.take();
}

}  // namespace ondrake::doctor
