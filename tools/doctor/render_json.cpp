#include "tools/doctor/render.hpp"

#include "platform/utf8.hpp"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

namespace ondrake::doctor {

namespace json = boost::json;

namespace {

// Paths are bytes; a JSON text is UTF-8. Each byte that does not start a valid sequence becomes
// U+FFFD, so that a support tool still sees where the path went wrong.
std::string as_utf8(std::string_view bytes) {
    if (platform::is_valid_utf8(bytes)) return std::string(bytes);
    std::string out;
    std::size_t at = 0;
    while (at < bytes.size()) {
        auto lead = static_cast<unsigned char>(bytes[at]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        std::string_view sequence = bytes.substr(at, length);
        if (sequence.size() == length && platform::is_valid_utf8(sequence)) {
            out.append(sequence);
            at += length;
        } else {
            out.append("\xEF\xBF\xBD");
            at += 1;
        }
    }
    return out;
}

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
        {"connection", key(facts.connection)},
    };
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
    json::array problems;
    for (const Finding& finding : report.findings) problems.push_back(problem(finding));

    json::object document{
        {"healthy", report.healthy()},
        {"home", path_or_null(report.home)},
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
        {"override",
         json::object{
             {"set", report.override_path.candidate.has_value()},
             {"candidate", candidate(report.override_path.candidate)},
         }},
        {"launchCandidate", candidate(report.launch_candidate)},
        {"socket", socket(report.socket)},
        {"problems", std::move(problems)},
    };
    return json::serialize(document) + "\n";
}

}  // namespace ondrake::doctor
