// From facts to problems: what the examination found, read as the causes that keep a browser
// from reaching the application. Only the report's facts are looked at, so that every rule can
// be tried on facts no test machine produces.
#include "tools/doctor/examine.hpp"

namespace ondrake::doctor {

namespace {

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
        case ManifestState::TooDeep: return report(Problem::ManifestTooDeep, path);
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

// One problem per round trip at most: the first step that failed; the steps after it were not
// tried. A browser without a usable manifest starts nothing, and the manifest's own problem says
// why.
void diagnose_round_trip(const RoundTripFacts& trip, std::vector<Finding>& out) {
    std::string subject = trip.host.value_or(trip.manifest ? trip.manifest->string() : std::string());
    auto report = [&](Problem problem) { out.push_back({problem, trip.browser, subject}); };
    switch (trip.start) {
        case HostStart::NoManifest:
        case HostStart::NoHost:
        case HostStart::NoCaller: return;
        case HostStart::NotExecutable: return report(Problem::RoundTripHostNotExecutable);
        case HostStart::Failed: return report(Problem::RoundTripHostDidNotStart);
        case HostStart::Started: break;
    }
    for (const LegFacts* leg : {&trip.browser_leg, &trip.application_leg}) {
        switch (leg->result) {
            case LegResult::NotTried:
            case LegResult::Passed: break;
            case LegResult::HostEnded: return report(Problem::RoundTripHostEnded);
            case LegResult::NoReply: return report(Problem::RoundTripNoReply);
            case LegResult::WrongReply: return report(Problem::RoundTripWrongReply);
            case LegResult::ApplicationUnavailable: return report(Problem::RoundTripApplicationUnavailable);
            case LegResult::ApplicationSilent: return report(Problem::RoundTripApplicationSilent);
        }
    }
}

}  // namespace

std::vector<Finding> diagnose(const Report& report) {
    std::vector<Finding> findings;
    diagnose_host(report.host, findings);
    // Without a HOME to look in, every file below it looks missing and the socket unreachable;
    // the one problem to name is HOME itself.
    bool home_usable = report.home && report.socket.path && report.home_access == HomeAccess::Usable;
    if (!report.home || !report.socket.path) {
        findings.push_back({Problem::NoHomeDirectory, std::nullopt, std::string()});
    } else if (!home_usable) {
        findings.push_back({Problem::HomeUnreadable, std::nullopt, report.home->string()});
    } else {
        for (const ManifestFacts& manifest : report.manifests) diagnose_manifest(manifest, findings);
        diagnose_record(report.record, findings);
        for (const TemporaryFileFacts& file : report.temporary_files) {
            Problem problem = file.process_running ? Problem::TemporaryFileOfARunningProcess
                                                   : Problem::TemporaryFileLeftOver;
            findings.push_back({problem, std::nullopt, file.path.string()});
        }
    }
    // The host's environment, started by a browser, seldom holds a variable set in a terminal, so
    // a usable override does not excuse a broken record; an unusable one breaks the launch here.
    const auto& overriding = report.override_path.candidate;
    if (overriding && !(overriding->regular_file && overriding->executable)) {
        findings.push_back({Problem::OverrideUnusable, std::nullopt, overriding->value});
    }
    if (home_usable) diagnose_socket(report.socket, findings);
    if (report.round_trip) {
        for (const RoundTripFacts& trip : *report.round_trip) diagnose_round_trip(trip, findings);
    }
    return findings;
}

}  // namespace ondrake::doctor
