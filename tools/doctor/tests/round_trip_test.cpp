// The round trip of the built doctor: the built host started from a manifest as a browser starts
// it, the reference application started by that host, and every failure on the way made real.
#include "browser-native-host/messages/protocol.hpp"
#include "tools/doctor/options.hpp"
#include "tools/doctor/report.hpp"
#include "tools/doctor/tests/doctor_fixture.hpp"
#include "tools/doctor/tests/doctor_run.hpp"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <future>
#include <map>
#include <sstream>

namespace ondrake::doctor {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;
using namespace std::chrono_literals;
using testing_setup::APP_PEER;
using testing_setup::BUILT_HOST;
using testing_setup::DoctorRun;
using testing_setup::json_of;
using testing_setup::pid_in;
using testing_setup::RecordedApplication;
using testing_setup::run_doctor;
using testing_setup::running;
using testing_setup::snapshot;
using testing_setup::UserSetUp;
using testing_setup::write_file;
using Clock = std::chrono::steady_clock;

void write_manifest(const UserSetUp& setup, SupportedBrowser browser, const fs::path& host) {
    write_file(setup.manifest(browser),
               *registration::manifest_json_for(registration::is_firefox(browser), false, host.string()));
}

// What is below HOME, but for the directory of the application's socket, which the started
// application fills.
std::map<std::string, std::string> home_without_socket(const UserSetUp& setup) {
    fs::create_directories(fs::path(setup.endpoint()).parent_path());
    auto tree = snapshot(setup.home);
    std::erase_if(
        tree, [](const auto& entry) { return entry.first.find("OndrakeDownload/ipc") != std::string::npos; });
    return tree;
}

std::vector<std::string> strings_in(const json::value& array) {
    std::vector<std::string> strings;
    for (const json::value& element : array.as_array()) strings.emplace_back(element.as_string());
    return strings;
}

// With manifests as register writes them for the built host and the application not running,
// every browser's host passes both legs: it answers by itself, and it starts the application,
// which answers. The host's standard error is shown, the host exits at the end of its input, and
// nothing below HOME changes but the socket the application makes.
TEST(RoundTrip, PassesBothLegsInEveryBrowsersHost) {
    UserSetUp setup;
    fs::path host = fs::canonical(BUILT_HOST);
    setup.write_manifests(host);
    RecordedApplication application(setup, {});
    auto before = home_without_socket(setup);

    DoctorRun text = run_doctor({"--host", host.string(), "--round-trip"}, setup.home);
    application.stop();  // the second run must start it again
    DoctorRun as_json = run_doctor({"--host", host.string(), "--round-trip", "--json"}, setup.home);
    EXPECT_EQ(home_without_socket(setup), before);

    EXPECT_EQ(text.status, EXIT_HEALTHY) << text.out << text.err;
    EXPECT_NE(text.out.find("No problems found"), std::string::npos) << text.out;
    const std::string spawn_line =
        "ondrake-native-host: stage=app_spawn in_job=n/a breakaway_ok=n/a silent_breakaway_ok=n/a";
    EXPECT_NE(text.out.find("    browser to host: passed in "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("    its standard error:\n      " + spawn_line + "\n"), std::string::npos)
        << text.out;

    json::object document = json_of(as_json);
    EXPECT_EQ(as_json.status, EXIT_HEALTHY) << as_json.out;
    EXPECT_EQ(document["healthy"], true);
    const std::vector<std::string> browsers = {"chrome", "edge", "firefox", "brave", "chromium"};
    ASSERT_EQ(document["roundTrip"].as_array().size(), browsers.size()) << as_json.out;
    for (std::size_t i = 0; i < browsers.size(); ++i) {
        json::object& trip = document["roundTrip"].as_array()[i].as_object();
        SCOPED_TRACE(browsers[i]);
        EXPECT_EQ(trip["browser"], browsers[i].c_str());
        EXPECT_EQ(trip["host"], host.c_str());
        EXPECT_EQ(trip["start"], "started");
        std::vector<std::string> arguments = {registration::chrome_extension_origin()};
        if (browsers[i] == "firefox") {
            arguments = {std::string(trip["manifest"].as_string()),
                         std::string(registration::FIREFOX_ADDON_ID)};
        }
        EXPECT_EQ(strings_in(trip["arguments"]), arguments);
        EXPECT_EQ(trip["browserToHost"].as_object()["result"], "passed");
        EXPECT_EQ(trip["hostToApplication"].as_object()["result"], "passed");
        auto reply =
            protocol::decode_capture_response(trip["hostToApplication"].as_object()["reply"].as_string());
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->code, protocol::Code::CaptureUnknown);
        EXPECT_EQ(trip["exit"],
                  (json::object{{"signalled", false}, {"value", 0}, {"stoppedByDoctor", false}}));
        // Only the first host found nobody listening and started the application.
        std::vector<std::string> errors = strings_in(trip["hostStandardError"]);
        ASSERT_EQ(errors.size(), i == 0 ? 2u : 1u);
        if (i == 0) {
            EXPECT_EQ(errors[0], spawn_line);
        }
        EXPECT_EQ(errors.back().rfind("ondrake-native-host: capture doctor-", 0), 0u) << errors.back();
    }
    // The application heard one capture_status per host in each run, for a capture it never had;
    // the doctor's own look at the socket sends nothing.
    std::vector<json::object> received = application.received();
    std::erase_if(received, [](json::object& entry) { return entry["kind"] == "frame_error"; });
    ASSERT_EQ(received.size(), 2 * browsers.size());
    for (json::object& entry : received) {
        EXPECT_EQ(entry["kind"], "IpcCaptureRequest");
        EXPECT_EQ(entry["received"].as_object()["action"], "capture_status");
        EXPECT_EQ(entry["reply"].as_object()["code"], "CAPTURE_UNKNOWN");
    }
}

// A manifest a browser would start nothing from starts nothing here either, and the round trip
// says why; the manifest's own problem names the fix. A named browser gets its entry even without
// a manifest.
struct NotStarted {
    const char* browser;
    std::optional<std::string> manifest;  // none: no file
    std::string start;
    std::vector<std::string> problems;
};

TEST(RoundTrip, ManifestsThatStartNothing) {
    const NotStarted cases[] = {
        {"firefox", std::nullopt, "no_manifest", {}},
        {"vivaldi", std::nullopt, "no_manifest", {}},
        {"chromium",
         R"({"name":"com.ondrake.download","type":"stdio"})",
         "no_host",
         {"manifest_host_missing", "manifest_extension_not_admitted"}},
        {"chromium",
         R"({"name":"com.ondrake.download","path":")" + BUILT_HOST.string() + R"(","allowed_origins":[]})",
         "no_caller",
         {"manifest_extension_not_admitted"}},
        {"chromium",
         R"({"path":"bin/ondrake-native-host","allowed_origins":["chrome-extension://a/"]})",
         "not_executable",
         {"manifest_host_missing", "manifest_extension_not_admitted", "round_trip_host_not_executable"}},
    };
    for (const NotStarted& row : cases) {
        SCOPED_TRACE(std::string(row.browser) + " " + row.manifest.value_or("(none)"));
        UserSetUp setup;
        if (row.manifest) write_file(setup.manifest(SupportedBrowser::Chromium), *row.manifest);
        DoctorRun run =
            run_doctor({"--host", BUILT_HOST.string(), "--round-trip", row.browser, "--json"}, setup.home);
        json::object document = json_of(run);
        ASSERT_EQ(document["roundTrip"].as_array().size(), 1u) << run.out;
        json::object& trip = document["roundTrip"].as_array()[0].as_object();
        EXPECT_EQ(trip["browser"], row.browser);
        EXPECT_EQ(trip["start"], row.start.c_str());
        EXPECT_EQ(trip["browserToHost"].as_object()["result"], "not_tried");
        EXPECT_EQ(trip["exit"], nullptr);
        std::vector<std::string> chromium_problems;
        for (const json::value& problem : document["problems"].as_array()) {
            if (problem.as_object().at("browser") == "chromium") {
                chromium_problems.emplace_back(problem.as_object().at("problem").as_string());
            }
        }
        EXPECT_EQ(chromium_problems,
                  row.manifest ? row.problems : std::vector<std::string>{"manifest_missing"});
    }
}

// ---- Every failure, made real -------------------------------------------------------------------

struct Failure {
    const char* name;
    SupportedBrowser browser;
    // The program the manifest names: a planted script (which notes its process id beside
    // itself), or none for the built host.
    std::optional<std::string> planted;
    mode_t mode;
    // The application the record names: app-peer with these arguments, or none for nothing.
    std::optional<std::vector<std::string>> application;
    std::string start;
    std::string browser_leg;
    std::string application_leg;
    std::string problem;
    std::string fix;
    std::string error_line;  // a line of the host's standard error, "%DIR%" for the host's directory
    std::optional<json::object> exit;
    std::chrono::milliseconds at_least;  // how long the doctor takes, at least and at most
    std::chrono::milliseconds at_most;
};

const std::string PLANTED_PID = "echo $$ >\"$0.pid\"\n";

json::object exit_of(bool signalled, int value, bool stopped) {
    return {{"signalled", signalled}, {"value", value}, {"stoppedByDoctor", stopped}};
}

// The limits and the waits they add up to: the browser leg's 10 s, then 2 s for the host to end
// at the end of its input, 1 s after SIGTERM; the host's own 20 s for the application's reply.
const Failure FAILURES[] = {
    {"host_not_executable", SupportedBrowser::Chromium, PLANTED_PID + "exit 0\n", 0644,
     std::vector<std::string>{}, "not_executable", "not_tried", "not_tried", "round_trip_host_not_executable",
     "reinstall_then_register", "", std::nullopt, 0ms, 5s},
    {"host_exits_at_once", SupportedBrowser::Chromium,
     PLANTED_PID + "echo \"dyld: Library not loaded, in $(pwd) for $*\" >&2\nexit 3\n", 0755,
     std::vector<std::string>{}, "started", "host_ended", "not_tried", "round_trip_host_ended",
     "reinstall_application",
     "dyld: Library not loaded, in %DIR% for chrome-extension://kfmhaobnpdcjiegllamnbocfhkpjdgie/",
     exit_of(false, 3, false), 0ms, 5s},
    {"host_never_answers", SupportedBrowser::Chromium,
     PLANTED_PID + "echo never answering >&2\ntrap '' TERM\nexec sleep 600\n", 0755,
     std::vector<std::string>{}, "started", "no_reply", "not_tried", "round_trip_no_reply",
     "reinstall_application", "never answering", exit_of(true, SIGKILL, true), 13s, 18s},
    {"host_speaks_another_protocol", SupportedBrowser::Firefox,
     PLANTED_PID + "printf 'HTTP/1.1 200 OK\\r\\n\\r\\n'\n", 0755, std::vector<std::string>{}, "started",
     "wrong_reply", "not_tried", "round_trip_wrong_reply", "reinstall_then_register", "",
     exit_of(false, 0, false), 0ms, 5s},
    {"application_accepts_and_stays_silent", SupportedBrowser::Firefox, std::nullopt, 0755,
     std::vector<std::string>{"--policy", "silent"}, "started", "passed", "application_silent",
     "round_trip_application_silent", "restart_application",
     "ondrake-native-host: stage=app_spawn in_job=n/a "
     "breakaway_ok=n/a silent_breakaway_ok=n/a",
     exit_of(false, 0, false), 20s, 26s},
    {"no_application_at_all", SupportedBrowser::Chrome, std::nullopt, 0755, std::nullopt, "started", "passed",
     "application_unavailable", "round_trip_application_unavailable", "start_application",
     "ondrake-native-host: stage=app_locate kind=NotFound os_error=none", exit_of(false, 0, false), 0ms, 5s},
};

// One planted failure: its own problem with its fix, within its time, and the planted host gone.
void check_failure(const Failure& row) {
    SCOPED_TRACE(row.name);
    UserSetUp setup;
    fs::path host = fs::canonical(BUILT_HOST);
    if (row.planted) {
        host = setup.root / "planted/host";
        write_file(host, "#!/bin/sh\n" + *row.planted, row.mode);
    }
    write_manifest(setup, row.browser, host);
    std::optional<RecordedApplication> application;
    if (row.application) application.emplace(setup, *row.application);
    else write_file(setup.record(), (setup.root / "no-application").string());

    auto started = Clock::now();
    std::string browser(registration::display_name(row.browser));
    DoctorRun run =
        run_doctor({"--host", BUILT_HOST.string(), "--round-trip", browser, "--json"}, setup.home);
    auto took = Clock::now() - started;
    EXPECT_GE(took, row.at_least);
    EXPECT_LE(took, row.at_most);

    EXPECT_EQ(run.status, EXIT_PROBLEMS);
    json::object document = json_of(run);
    std::vector<json::object> found;
    for (const json::value& problem : document["problems"].as_array()) {
        if (problem.as_object().at("problem").as_string().find("round_trip_") == 0)
            found.push_back(problem.as_object());
    }
    ASSERT_EQ(found.size(), 1u) << run.out;
    EXPECT_EQ(found[0]["problem"], row.problem.c_str());
    EXPECT_EQ(found[0]["fix"], row.fix.c_str());
    EXPECT_EQ(found[0]["browser"], browser.c_str());
    EXPECT_EQ(found[0]["subject"], host.c_str());

    ASSERT_EQ(document["roundTrip"].as_array().size(), 1u);
    json::object& trip = document["roundTrip"].as_array()[0].as_object();
    EXPECT_EQ(trip["start"], row.start.c_str());
    EXPECT_EQ(trip["browserToHost"].as_object()["result"], row.browser_leg.c_str());
    EXPECT_EQ(trip["hostToApplication"].as_object()["result"], row.application_leg.c_str());
    EXPECT_EQ(trip["exit"], row.exit ? json::value(*row.exit) : json::value(nullptr));
    // The leg that failed for want of a reply took its limit, no more.
    for (const char* leg : {"browserToHost", "hostToApplication"}) {
        json::object& facts = trip[leg].as_object();
        if (facts["result"] != "no_reply") continue;
        EXPECT_GE(facts["milliseconds"].as_int64(), facts["limitMilliseconds"].as_int64());
        EXPECT_LE(facts["milliseconds"].as_int64(), facts["limitMilliseconds"].as_int64() + 500);
    }
    if (!row.error_line.empty()) {
        std::string line = row.error_line;
        if (auto at = line.find("%DIR%"); at != std::string::npos)
            line.replace(at, 5, host.parent_path().string());
        std::vector<std::string> errors = strings_in(trip["hostStandardError"]);
        EXPECT_NE(std::find(errors.begin(), errors.end(), line), errors.end()) << line << "\nin\n" << run.out;
    }
    if (row.planted) {
        auto pid = pid_in(host.string() + ".pid");
        if (row.start == "started") {
            ASSERT_TRUE(pid.has_value());
            EXPECT_TRUE(test::wait_until([&] { return !running(*pid); }, 2s)) << "the host was left running";
        } else {
            EXPECT_FALSE(pid.has_value()) << "the host ran";
        }
    }
}

// Each failure, all at once: the waits of some are long, and they do not depend on each other.
TEST(RoundTrip, EachFailureIsItsOwnProblemWithItsFixWithinItsLimit) {
    std::vector<std::future<void>> runs;
    for (const Failure& row : FAILURES) runs.push_back(std::async(std::launch::async, check_failure, row));
    for (auto& run : runs) run.get();
}

}  // namespace
}  // namespace ondrake::doctor
