#include "tools/doctor/options.hpp"
#include "tools/doctor/printable.hpp"
#include "tools/doctor/round_trip.hpp"
#include "tools/doctor/render.hpp"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

namespace ondrake::doctor {
namespace {

namespace json = boost::json;

const std::string HOST = "/Applications/Ondrake Download.app/Contents/MacOS/ondrake-native-host";
const std::string APP = "/Applications/Ondrake Download.app/Contents/MacOS/Ondrake Download";

// A report in which every optional fact is present, so that every key has a value to show.
Report full_report() {
    Report report;
    report.home = "/Users/example";
    report.host = {
        HostSource::BesideDoctor,  HOST, true, "/Applications/Ondrake Download.app", APP, std::nullopt,
        InstallLocation::Canonical};
    for (SupportedBrowser browser : registration::ALL_BROWSERS) {
        ManifestFacts manifest;
        manifest.browser = browser;
        manifest.path = "/Users/example/Library/Application Support/x/com.ondrake.download.json";
        manifest.state = ManifestState::Present;
        manifest.matches_register = true;
        manifest.host_path = HOST;
        manifest.host_executable = true;
        manifest.admits_extension = true;
        if (browser == SupportedBrowser::Firefox) manifest.firefox_trust = FirefoxTrust::Development;
        if (browser == SupportedBrowser::Opera) manifest.shares_with = SupportedBrowser::Chrome;
        report.manifests.push_back(manifest);
    }
    report.record = {"/Users/example/Library/Application Support/OndrakeDownload/app-path",
                     RecordState::Present, CandidateFacts{APP, true, true, true}, true, std::nullopt};
    report.temporary_files = {{"/Users/example/.com.ondrake.download.4711.tmp", 4711, false}};
    report.override_path.candidate = CandidateFacts{"relative", false, false, false};
    report.launch_candidate = report.override_path.candidate;
    report.socket = {"/Users/example/Library/Application Support/OndrakeDownload/ipc/browser.sock",
                     75,
                     103,
                     true,
                     SocketFile::LinkToSocket,
                     "/private/tmp/ondrake.sock",
                     ConnectOutcome::Accepted};
    RoundTripFacts trip;
    trip.browser = SupportedBrowser::Chrome;
    trip.manifest = "/Users/example/Library/Application Support/Google/Chrome/NativeMessagingHosts/x.json";
    trip.host = HOST;
    trip.arguments = {registration::chrome_extension_origin()};
    trip.start = HostStart::Started;
    trip.browser_leg = {
        LegResult::Passed, std::chrono::milliseconds(12), std::chrono::milliseconds(10'000),
        R"({"protocolVersion":1,"requestId":"d-1","status":"rejected","code":"UNSUPPORTED_SCHEME"})", ""};
    trip.application_leg = {LegResult::WrongReply, std::chrono::milliseconds(20'400),
                            std::chrono::milliseconds(74'700), "{}", "not the reply to a capture step"};
    trip.exit = HostExit{false, 0, false};
    trip.host_errors = {
        "ondrake-native-host: stage=app_spawn in_job=n/a breakaway_ok=n/a silent_breakaway_ok=n/a"};
    trip.start_error = "Permission denied";
    report.round_trip = std::vector<RoundTripFacts>{trip};
    report.findings = {
        {Problem::FirefoxDevelopmentTrust, SupportedBrowser::Firefox, "/Users/example/firefox.json"},
        {Problem::OverrideUnusable, std::nullopt, "relative"},
    };
    return report;
}

json::object parsed(const std::string& text) {
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::error_code error;
    json::value document = json::parse(text, error);
    EXPECT_FALSE(error) << text;
    EXPECT_TRUE(document.is_object()) << text;
    return document.is_object() ? document.get_object() : json::object();
}

std::set<std::string> keys_of(const json::object& object) {
    std::set<std::string> keys;
    for (const auto& member : object) keys.emplace(member.key());
    return keys;
}

// Support tools depend on these names; changing one breaks them.
TEST(RenderJson, KeysAreTheDocumentedOnes) {
    json::object document = parsed(render_json(full_report()));
    using Keys = std::set<std::string>;
    EXPECT_EQ(keys_of(document), (Keys{"healthy", "home", "homeAccess", "host", "registerCommand",
                                       "manifests", "applicationRecord", "temporaryFiles", "override",
                                       "launchCandidate", "socket", "roundTrip", "problems"}));
    EXPECT_EQ(
        keys_of(document["host"].as_object()),
        (Keys{"path", "source", "executable", "bundle", "application", "identificationError", "location"}));
    ASSERT_EQ(document["manifests"].as_array().size(), registration::ALL_BROWSERS.size());
    for (const json::value& manifest : document["manifests"].as_array()) {
        EXPECT_EQ(keys_of(manifest.as_object()),
                  (Keys{"browser", "path", "sharesWith", "state", "blockedBy", "matchesRegister", "hostPath",
                        "hostExecutable", "admitsExtension", "admitted", "firefoxTrust"}));
    }
    EXPECT_EQ(keys_of(document["applicationRecord"].as_object()),
              (Keys{"path", "state", "blockedBy", "candidate", "matchesInstallation"}));
    EXPECT_EQ(keys_of(document["applicationRecord"].as_object()["candidate"].as_object()),
              (Keys{"value", "absolute", "regularFile", "executable"}));
    EXPECT_EQ(keys_of(document["override"].as_object()), (Keys{"set", "candidate"}));
    EXPECT_EQ(keys_of(document["temporaryFiles"].as_array()[0].as_object()),
              (Keys{"path", "pid", "processRunning"}));
    EXPECT_EQ(keys_of(document["socket"].as_object()),
              (Keys{"path", "length", "limit", "fitsAddress", "file", "linkTarget", "connection"}));
    ASSERT_EQ(document["roundTrip"].as_array().size(), 1u);
    json::object& trip = document["roundTrip"].as_array()[0].as_object();
    EXPECT_EQ(keys_of(trip),
              (Keys{"browser", "manifest", "host", "arguments", "start", "startError", "browserToHost",
                    "hostToApplication", "exit", "hostStandardError", "hostStandardErrorLeftOut"}));
    for (const char* leg : {"browserToHost", "hostToApplication"}) {
        EXPECT_EQ(keys_of(trip[leg].as_object()),
                  (Keys{"result", "milliseconds", "limitMilliseconds", "reply", "note"}));
    }
    EXPECT_EQ(keys_of(trip["exit"].as_object()), (Keys{"signalled", "value", "stoppedByDoctor"}));
    ASSERT_EQ(document["problems"].as_array().size(), 2u);
    for (const json::value& problem : document["problems"].as_array()) {
        EXPECT_EQ(keys_of(problem.as_object()),
                  (Keys{"problem", "browser", "subject", "summary", "fix", "fixText"}));
    }
}

void collect_keys(const json::value& value, std::set<std::string>& keys) {
    if (value.is_object()) {
        for (const auto& member : value.get_object()) {
            keys.emplace(member.key());
            collect_keys(member.value(), keys);
        }
    } else if (value.is_array()) {
        for (const json::value& element : value.get_array()) collect_keys(element, keys);
    }
}

// --help and the README state the round trip's limits in seconds.
static_assert(BROWSER_LEG_LIMIT == std::chrono::milliseconds(10'000));
static_assert(APPLICATION_LEG_LIMIT == std::chrono::milliseconds(74'700));

TEST(RenderJson, HelpDocumentsEveryKey) {
    std::set<std::string> keys;
    collect_keys(parsed(render_json(full_report())), keys);
    for (const std::string& name : keys) {
        EXPECT_NE(usage().find(name), std::string_view::npos) << name << " is not in --help";
    }
}

TEST(RenderJson, ValuesOfFactsAndProblems) {
    json::object document = parsed(render_json(full_report()));
    EXPECT_EQ(document["healthy"], false);
    EXPECT_EQ(document["home"], "/Users/example");
    EXPECT_EQ(document["host"].as_object()["source"], "beside_doctor");
    EXPECT_EQ(document["host"].as_object()["location"], "canonical");
    EXPECT_EQ(document["host"].as_object()["identificationError"], nullptr);
    EXPECT_EQ(document["registerCommand"], json::string("'" + HOST + "' register"));
    auto& firefox = document["manifests"].as_array()[2].as_object();
    EXPECT_EQ(firefox["browser"], "firefox");
    EXPECT_EQ(firefox["firefoxTrust"], "development");
    EXPECT_EQ(firefox["sharesWith"], nullptr);
    auto& chrome = document["manifests"].as_array()[0].as_object();
    EXPECT_EQ(chrome["firefoxTrust"], nullptr);
    EXPECT_EQ(document["manifests"].as_array()[5].as_object()["sharesWith"], "chrome");
    EXPECT_EQ(document["override"].as_object()["set"], true);
    EXPECT_EQ(document["launchCandidate"].as_object()["value"], "relative");
    EXPECT_EQ(document["socket"].as_object()["limit"], 103);
    EXPECT_EQ(document["socket"].as_object()["connection"], "accepted");

    auto& first = document["problems"].as_array()[0].as_object();
    EXPECT_EQ(first["problem"], "firefox_development_trust");
    EXPECT_EQ(first["browser"], "firefox");
    EXPECT_EQ(first["subject"], "/Users/example/firefox.json");
    EXPECT_EQ(first["fix"], "run_register");
    EXPECT_EQ(first["fixText"], json::string(text(Fix::RunRegister)));
    auto& second = document["problems"].as_array()[1].as_object();
    EXPECT_EQ(second["browser"], nullptr);
    EXPECT_EQ(second["fix"], "unset_override");
}

TEST(RenderJson, AbsentFactsAreNull) {
    Report report;  // nothing known: no HOME, no host
    report.manifests.push_back(ManifestFacts{});
    json::object document = parsed(render_json(report));
    EXPECT_EQ(document["healthy"], true);
    EXPECT_EQ(document["home"], nullptr);
    EXPECT_EQ(document["registerCommand"], nullptr);
    EXPECT_EQ(document["launchCandidate"], nullptr);
    EXPECT_EQ(document["host"].as_object()["path"], nullptr);
    EXPECT_EQ(document["host"].as_object()["source"], "unknown");
    auto& manifest = document["manifests"].as_array()[0].as_object();
    EXPECT_EQ(manifest["state"], "no_directory");
    EXPECT_EQ(manifest["path"], nullptr);
    EXPECT_EQ(manifest["hostExecutable"], nullptr);
    EXPECT_EQ(manifest["admitsExtension"], nullptr);
    EXPECT_EQ(document["applicationRecord"].as_object()["candidate"], nullptr);
    EXPECT_EQ(document["override"].as_object()["set"], false);
    EXPECT_EQ(document["socket"].as_object()["path"], nullptr);
    EXPECT_EQ(document["roundTrip"], nullptr);
    EXPECT_EQ(document["socket"].as_object()["connection"], "not_attempted");
    EXPECT_TRUE(document["problems"].as_array().empty());
}

TEST(RenderJson, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    Report report;
    report.home = "/Users/\xE9t\xC3\xA9";  // a Latin-1 byte, then a valid é
    report.findings = {{Problem::RecordTargetMissing, std::nullopt, "/a\xFF\xC3"}};
    json::object document = parsed(render_json(report));
    EXPECT_EQ(document["home"], "/Users/\xEF\xBF\xBDt\xC3\xA9");
    EXPECT_EQ(document["problems"].as_array()[0].as_object()["subject"], "/a\xEF\xBF\xBD\xEF\xBF\xBD");
}

// ---- Text -------------------------------------------------------------------------------------

TEST(RenderText, ProblemsWithTheirFixesAndTheCommand) {
    Report report = full_report();
    std::string out = render_text(report);
    EXPECT_NE(out.find("Problems (2)"), std::string::npos);
    EXPECT_NE(out.find("1. firefox: " + std::string(summary(Problem::FirefoxDevelopmentTrust))),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("at:  /Users/example/firefox.json"), std::string::npos) << out;
    EXPECT_NE(out.find("fix: " + std::string(text(Fix::RunRegister))), std::string::npos) << out;
    EXPECT_NE(out.find("run: '" + HOST + "' register"), std::string::npos) << out;
    EXPECT_NE(out.find("2. " + std::string(summary(Problem::OverrideUnusable))), std::string::npos) << out;
    EXPECT_NE(out.find("fix: " + std::string(text(Fix::UnsetOverride))), std::string::npos) << out;
    EXPECT_EQ(out.find("No problems found"), std::string::npos);
}

TEST(RenderText, HealthyReportSaysSo) {
    Report report = full_report();
    report.findings.clear();
    std::string out = render_text(report);
    EXPECT_NE(out.find("No problems found"), std::string::npos);
    EXPECT_EQ(out.find("Problems ("), std::string::npos);
    EXPECT_NE(out.find("opera     reads chrome's manifest"), std::string::npos) << out;
    EXPECT_NE(out.find("trust: development"), std::string::npos) << out;
}

TEST(RenderText, RoundTripSection) {
    std::string out = render_text(full_report());
    for (const std::string& line : {
             std::string("Round trip: each host started as its browser starts it\n"),
             "    started: '" + HOST + "' '" + registration::chrome_extension_origin() + "'\n",
             std::string("    browser to host: passed in 12 ms (limit 10.0 s)\n"),
             std::string(
                 "    host to application: FAILED after 20.4 s (limit 74.7 s): not the reply this message "
                 "gets\n      sent:  capture_status for a capture that no capture has, which only the "
                 "application answers\n      reply: {}\n      not the reply to a capture step\n"),
             std::string(
                 "    the host exited with status 0\n    its standard error:\n      ondrake-native-host: "
                 "stage=app_spawn"),
         }) {
        EXPECT_NE(out.find(line), std::string::npos) << line << "\nin\n" << out;
    }
}

// Whatever the files hold, the text for people carries no control character but its own line
// feeds, and an escape in it always stands for a byte of the input.
TEST(Printable, EscapesEveryControlCharacterAndNothingElse) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"/Applications/Ondrake Download.app", "/Applications/Ondrake Download.app"},
        {"\x1B[2J\x1B]0;title\x07\rFAKE LINE\n", "\\x1B[2J\\x1B]0;title\\x07\\x0DFAKE LINE\\x0A"},
        {std::string_view("a\0b\x7F", 4), "a\\x00b\\x7F"},
        {"C1 \xC2\x9B CSI, \xC2\x85 NEL", "C1 \\u009B CSI, \\u0085 NEL"},
        {"\xC2\xA0 \xC3\xA9 \xE2\x80\x83 \xF0\x9F\x93\x81",
         "\xC2\xA0 \xC3\xA9 \xE2\x80\x83 \xF0\x9F\x93\x81"},
        {"bad \xFF\x9B \xC3", "bad \\xFF\\x9B \\xC3"},
        {"back\\slash \\x41", "back\\\\slash \\\\x41"},
    };
    for (const auto& [input, shown] : cases) {
        SCOPED_TRACE(std::string(shown));
        EXPECT_EQ(printable(input), shown);
    }
}

TEST(RenderText, NothingFromAFileReachesTheTerminalRaw) {
    Report report = full_report();
    const std::string hostile = "/x\x1B[2J\x1B]0;owned\x07\rFAKE LINE\xC2\x9B\xFF";
    report.home = hostile;
    report.manifests[0].host_path = hostile;
    report.findings.push_back({Problem::ManifestHostMissing, SupportedBrowser::Chrome, hostile});
    std::string out = render_text(report);
    for (char c : out) {
        auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(byte == '\n' || (byte >= 0x20 && byte != 0x7F)) << "raw byte " << int(byte);
    }
    EXPECT_EQ(out.find("\xC2\x9B"), std::string::npos);
    EXPECT_EQ(out.find("\xFF"), std::string::npos);
    EXPECT_NE(out.find("/x\\x1B[2J\\x1B]0;owned\\x07\\x0DFAKE LINE\\u009B\\xFF"), std::string::npos) << out;
}

// ---- The tables ---------------------------------------------------------------------------------

TEST(ProblemTable, NamesAreDistinctAndEveryFixIsUsed) {
    std::set<std::string_view> problem_keys;
    std::set<std::string_view> fix_keys;
    std::set<Fix> used;
    constexpr auto last_problem = static_cast<int>(Problem::RoundTripApplicationSilent);
    for (int i = 0; i <= last_problem; ++i) {
        auto problem = static_cast<Problem>(i);
        SCOPED_TRACE(key(problem));
        EXPECT_TRUE(problem_keys.insert(key(problem)).second);
        EXPECT_FALSE(summary(problem).empty());
        used.insert(fix_for(problem));
    }
    constexpr auto last_fix = static_cast<int>(Fix::ReinstallThenRegister);
    for (int i = 0; i <= last_fix; ++i) {
        auto fix = static_cast<Fix>(i);
        SCOPED_TRACE(key(fix));
        EXPECT_TRUE(fix_keys.insert(key(fix)).second);
        EXPECT_FALSE(text(fix).empty());
        EXPECT_TRUE(used.count(fix)) << "no problem is fixed this way";
    }
}

// The command must survive a POSIX shell: spaces and quotes in the bundle's path.
TEST(RegisterCommand, QuotedForTheShell) {
    for (std::string path : {HOST, std::string("/Users/o'neil/Ondrake $HOME `x`.app/ondrake-native-host")}) {
        SCOPED_TRACE(path);
        Report report;
        report.host.path = path;
        std::string command = *report.register_command();
        std::string script = "set -- " + command + "; printf '%s|%s|%s' \"$#\" \"$1\" \"$2\"";
        std::string shell = "/bin/sh -c '";
        for (char c : script) {
            if (c == '\'') shell += "'\\''";
            else shell += c;
        }
        shell += "'";
        std::FILE* pipe = ::popen(shell.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        char buffer[512];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
        ::pclose(pipe);
        EXPECT_EQ(out, "2|" + path + "|register");
    }
}

// ---- The command line ---------------------------------------------------------------------------

struct ArgumentCase {
    const char* name;
    std::vector<std::string_view> arguments;
    std::optional<Options> options;  // none: help or a usage error, as `help` says
    bool help = false;
};

Options parsed_as(std::optional<std::filesystem::path> host, bool json, bool round_trip = false,
                  std::optional<SupportedBrowser> browser = std::nullopt,
                  std::optional<std::filesystem::path> report = std::nullopt) {
    Options options;
    options.host = std::move(host);
    options.json = json;
    options.round_trip = round_trip;
    options.round_trip_browser = browser;
    options.report_file = std::move(report);
    return options;
}

TEST(ParseArguments, Table) {
    const ArgumentCase cases[] = {
        {"nothing", {}, Options{}},
        {"json", {"--json"}, parsed_as(std::nullopt, true)},
        {"host", {"--host", "/a/b"}, parsed_as("/a/b", false)},
        {"host_and_json", {"--json", "--host", "rel/h"}, parsed_as("rel/h", true)},
        {"json_twice", {"--json", "--json"}, parsed_as(std::nullopt, true)},
        {"round_trip", {"--round-trip"}, parsed_as(std::nullopt, false, true)},
        {"round_trip_then_option", {"--round-trip", "--json"}, parsed_as(std::nullopt, true, true)},
        {"round_trip_firefox",
         {"--round-trip", "firefox", "--json"},
         parsed_as(std::nullopt, true, true, SupportedBrowser::Firefox)},
        {"round_trip_opera",
         {"--round-trip", "opera"},
         parsed_as(std::nullopt, false, true, SupportedBrowser::Opera)},
        {"round_trip_unknown_browser", {"--round-trip", "safari"}, std::nullopt},
        {"round_trip_twice", {"--round-trip", "--round-trip"}, std::nullopt},
        {"browser_without_round_trip", {"firefox"}, std::nullopt},
        {"report",
         {"--report", "r.txt", "--round-trip"},
         parsed_as(std::nullopt, false, true, std::nullopt, "r.txt")},
        {"report_without_file", {"--report"}, std::nullopt},
        {"report_empty", {"--report", ""}, std::nullopt},
        {"report_twice", {"--report", "a", "--report", "b"}, std::nullopt},
        {"help", {"--help"}, std::nullopt, true},
        {"help_beats_errors", {"--bogus", "--help"}, std::nullopt, true},
        {"unknown_option", {"--bogus"}, std::nullopt},
        {"single_dash", {"-j"}, std::nullopt},
        {"host_without_value", {"--host"}, std::nullopt},
        {"host_empty", {"--host", ""}, std::nullopt},
        {"host_twice", {"--host", "/a", "--host", "/b"}, std::nullopt},
        {"positional", {"register"}, std::nullopt},
        {"json_equals", {"--json=1"}, std::nullopt},
    };
    for (const ArgumentCase& c : cases) {
        SCOPED_TRACE(c.name);
        ParsedArguments parsed = parse_arguments(c.arguments);
        if (c.options) {
            const Options* options = std::get_if<Options>(&parsed);
            ASSERT_NE(options, nullptr);
            EXPECT_EQ(options->host, c.options->host);
            EXPECT_EQ(options->json, c.options->json);
            EXPECT_EQ(options->round_trip, c.options->round_trip);
            EXPECT_EQ(options->round_trip_browser, c.options->round_trip_browser);
            EXPECT_EQ(options->report_file, c.options->report_file);
        } else if (c.help) {
            EXPECT_TRUE(std::holds_alternative<ShowHelp>(parsed));
        } else {
            const UsageError* error = std::get_if<UsageError>(&parsed);
            ASSERT_NE(error, nullptr);
            EXPECT_FALSE(error->message.empty());
        }
    }
}

}  // namespace
}  // namespace ondrake::doctor
