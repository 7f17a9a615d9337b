#include "tools/doctor/render.hpp"

#include "tools/doctor/printable.hpp"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

namespace ondrake::doctor {

namespace json = boost::json;

namespace {

json::value string_or_null(const std::optional<std::string>& value) {
    if (!value) return nullptr;
    return json::string(as_utf8(*value));
}

json::value path_or_null(const std::optional<std::filesystem::path>& path) {
    if (!path) return nullptr;
    return json::string(as_utf8(path->native()));
}

json::value bool_or_null(const std::optional<bool>& value) {
    if (!value) return nullptr;
    return *value;
}

template <class Enum>
json::value key_or_null(const std::optional<Enum>& value) {
    if (!value) return nullptr;
    return json::string(key(*value));
}

json::value browser_or_null(const std::optional<SupportedBrowser>& browser) {
    if (!browser) return nullptr;
    return json::string(registration::display_name(*browser));
}

json::value candidate(const std::optional<CandidateFacts>& facts) {
    if (!facts) return nullptr;
    return json::object{
        {"value", as_utf8(facts->value)},
        {"absolute", facts->absolute},
        {"regularFile", facts->regular_file},
        {"executable", facts->executable},
    };
}

json::object host(const HostFacts& facts) {
    json::value error = nullptr;
    if (facts.identification_error) error = json::string(registration::message(*facts.identification_error));
    return {
        {"path", path_or_null(facts.path)},
        {"source", key(facts.source)},
        {"executable", facts.executable},
        {"bundle", path_or_null(facts.bundle)},
        {"application", path_or_null(facts.application)},
        {"identificationError", std::move(error)},
        {"location", key_or_null(facts.location)},
    };
}

json::array strings(const std::vector<std::string>& values) {
    json::array array;
    for (const std::string& value : values) array.push_back(json::string(as_utf8(value)));
    return array;
}

json::object manifest(const ManifestFacts& facts) {
    bool present = facts.state == ManifestState::Present;
    return {
        {"browser", registration::display_name(facts.browser)},
        {"path", path_or_null(facts.path)},
        {"sharesWith", browser_or_null(facts.shares_with)},
        {"state", key(facts.state)},
        {"blockedBy", path_or_null(facts.blocked_by)},
        {"matchesRegister", bool_or_null(facts.matches_register)},
        {"hostPath", string_or_null(facts.host_path)},
        {"hostExecutable", present ? json::value(facts.host_executable) : json::value(nullptr)},
        {"admitsExtension", present ? json::value(facts.admits_extension) : json::value(nullptr)},
        {"admitted", present ? json::value(strings(facts.admitted)) : json::value(nullptr)},
        {"firefoxTrust", key_or_null(facts.firefox_trust)},
    };
}

json::object socket(const SocketFacts& facts) {
    return {
        {"path", string_or_null(facts.path)},
        {"length", facts.length},
        {"limit", facts.limit},
        {"fitsAddress", facts.fits},
        {"file", key(facts.file)},
        {"linkTarget", string_or_null(facts.link_target)},
        {"connection", key(facts.connection)},
    };
}

json::object leg(const LegFacts& facts) {
    bool tried = facts.result != LegResult::NotTried;
    return {
        {"result", key(facts.result)},
        {"milliseconds", tried ? json::value(facts.elapsed.count()) : json::value(nullptr)},
        {"limitMilliseconds", tried ? json::value(facts.limit.count()) : json::value(nullptr)},
        {"reply", string_or_null(facts.reply)},
        {"note", facts.note.empty() ? json::value(nullptr) : json::value(as_utf8(facts.note))},
    };
}

json::value round_trip(const std::optional<std::vector<RoundTripFacts>>& trips) {
    if (!trips) return nullptr;
    json::array entries;
    for (const RoundTripFacts& trip : *trips) {
        json::value exit = nullptr;
        if (trip.exit) {
            exit = json::object{
                {"signalled", trip.exit->signalled},
                {"value", trip.exit->value},
                {"stoppedByDoctor", trip.exit->stopped},
            };
        }
        entries.push_back(json::object{
            {"browser", registration::display_name(trip.browser)},
            {"manifest", path_or_null(trip.manifest)},
            {"host", string_or_null(trip.host)},
            {"arguments", strings(trip.arguments)},
            {"start", key(trip.start)},
            {"startError", string_or_null(trip.start_error)},
            {"browserToHost", leg(trip.browser_leg)},
            {"hostToApplication", leg(trip.application_leg)},
            {"exit", std::move(exit)},
            {"hostStandardError", strings(trip.host_errors)},
            {"hostStandardErrorLeftOut", trip.host_errors_left_out},
        });
    }
    return entries;
}

json::object problem(const Finding& finding) {
    Fix fix = fix_for(finding.problem);
    return {
        {"problem", key(finding.problem)},
        {"browser", browser_or_null(finding.browser)},
        {"subject", as_utf8(finding.subject)},
        {"summary", summary(finding.problem)},
        {"fix", key(fix)},
        {"fixText", text(fix)},
    };
}

}  // namespace

std::string render_json(const Report& report) {
    json::array manifests;
    for (const ManifestFacts& facts : report.manifests) manifests.push_back(manifest(facts));
    json::array temporary_files;
    for (const TemporaryFileFacts& file : report.temporary_files) {
        temporary_files.push_back(json::object{
            {"path", as_utf8(file.path.native())},
            {"pid", file.pid},
            {"processRunning", file.process_running},
        });
    }
    json::array problems;
    for (const Finding& finding : report.findings) problems.push_back(problem(finding));

    json::object document{
        {"healthy", report.healthy()},
        {"home", path_or_null(report.home)},
        {"homeAccess", report.home ? json::value(key(report.home_access)) : json::value(nullptr)},
        {"host", host(report.host)},
        {"registerCommand", string_or_null(report.register_command())},
        {"manifests", std::move(manifests)},
        {"applicationRecord",
         json::object{
             {"path", path_or_null(report.record.path)},
             {"state", key(report.record.state)},
             {"blockedBy", path_or_null(report.record.blocked_by)},
             {"candidate", candidate(report.record.candidate)},
             {"matchesInstallation", bool_or_null(report.record.matches_installation)},
         }},
        {"temporaryFiles", std::move(temporary_files)},
        {"override",
         json::object{
             {"set", report.override_path.candidate.has_value()},
             {"candidate", candidate(report.override_path.candidate)},
         }},
        {"launchCandidate", candidate(report.launch_candidate)},
        {"socket", socket(report.socket)},
        {"roundTrip", round_trip(report.round_trip)},
        {"problems", std::move(problems)},
    };
    return json::serialize(document) + "\n";
}

}  // namespace ondrake::doctor
