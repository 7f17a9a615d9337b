// The built ondrake-doctor, run as its own process with a chosen environment.
#include "browser-native-host/tests/support/fake_bundle.hpp"
#include "browser-native-host/tests/support/hostile_files.hpp"
#include "tools/app-peer/peer_process.hpp"
#include "tools/doctor/options.hpp"
#include "tools/doctor/report.hpp"
#include "tools/doctor/tests/doctor_fixture.hpp"
#include "tools/doctor/tests/doctor_run.hpp"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <functional>
#include <sys/wait.h>

namespace ondrake::doctor {
namespace {

namespace fs = std::filesystem;
namespace json = boost::json;
using testing_setup::APP_PEER;
using testing_setup::BUILT_DOCTOR;
using testing_setup::BUILT_HOST;
using testing_setup::DoctorRun;
using testing_setup::json_of;
using testing_setup::Listener;
using testing_setup::problem_keys;
using testing_setup::run_doctor;
using testing_setup::snapshot;
using testing_setup::UserSetUp;
using testing_setup::write_file;

// Manifests as register writes them for the built host, a record naming a stand-in application
// and the reference application listening: the doctor finds nothing wrong, changes nothing, and
// the application sees connections that end before any request.
TEST(DoctorProcess, HealthyWithTheReferenceApplication) {
    UserSetUp setup;
    fs::path host = fs::canonical(BUILT_HOST);
    setup.write_manifests(host);
    write_file(setup.record(), setup.app.string());
    fs::path scratch = setup.root / "peer";
    fs::create_directories(scratch);
    auto peer = app_peer::PeerProcess::start(APP_PEER, {setup.endpoint()}, {}, scratch.string());
    ASSERT_TRUE(peer.has_value());

    auto before = snapshot(setup.home);
    DoctorRun text = run_doctor({"--host", host.string()}, setup.home);
    DoctorRun as_json = run_doctor({"--json", "--host", host.string()}, setup.home);
    EXPECT_EQ(snapshot(setup.home), before);

    EXPECT_EQ(text.status, 0) << text.out;
    EXPECT_NE(text.out.find("No problems found"), std::string::npos) << text.out;
    EXPECT_EQ(text.err, "");
    EXPECT_EQ(as_json.status, 0) << as_json.out;
    json::object document = json_of(as_json);
    EXPECT_EQ(document["healthy"], true);
    EXPECT_EQ(problem_keys(document), std::vector<std::string>{});
    EXPECT_EQ(document["socket"].as_object()["connection"], "accepted");

    ASSERT_TRUE(test::wait_until([&] { return peer->log_lines().size() >= 2; })) << "no connection seen";
    for (const std::string& line : peer->log_lines()) {
        json::object entry = json::parse(line).as_object();
        EXPECT_EQ(entry["kind"], "frame_error") << line;
        EXPECT_EQ(entry["received"], nullptr) << line;
        EXPECT_EQ(entry["error"], "the stream ended between frames") << line;
    }
}

// A broken set-up: exit 1, every problem named with its fix, and still nothing changed.
TEST(DoctorProcess, ProblemsExitOneAndChangeNothing) {
    UserSetUp setup;
    setup.make_healthy();
    fs::remove(setup.manifest(registration::SupportedBrowser::Edge));
    write_file(setup.manifest(registration::SupportedBrowser::Firefox),
               *registration::manifest_json_for(true, true, setup.host.string()));
    write_file(setup.record(), "relative/app");
    setup.listener->close(false);  // the socket file stays, nobody listens

    auto before = snapshot(setup.root);
    DoctorRun text = run_doctor({"--host", setup.host.string()}, setup.home);
    DoctorRun as_json = run_doctor({"--host", setup.host.string(), "--json"}, setup.home);
    EXPECT_EQ(snapshot(setup.root), before);

    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.out.find("Problems (4)"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("fix: " + std::string(doctor::text(Fix::RestartApplication))), std::string::npos);
    EXPECT_EQ(as_json.status, 1);
    json::object document = json_of(as_json);
    EXPECT_EQ(document["healthy"], false);
    EXPECT_EQ(problem_keys(document),
              (std::vector<std::string>{"manifest_missing", "firefox_development_trust",
                                        "record_not_absolute", "socket_not_listening"}));
    for (const json::value& problem : document["problems"].as_array()) {
        EXPECT_FALSE(problem.as_object().at("fixText").as_string().empty());
    }
}

// Without --host the doctor looks beside itself, as it does inside the bundle's Contents/MacOS.
TEST(DoctorProcess, FindsTheHostBesideItself) {
    UserSetUp setup;
    setup.make_healthy();
    fs::path doctor = setup.host.parent_path() / "ondrake-doctor";
    fs::copy_file(BUILT_DOCTOR, doctor);

    DoctorRun run = run_doctor({"--json"}, setup.home, doctor);
    EXPECT_EQ(run.status, 0) << run.out;
    json::object document = json_of(run);
    EXPECT_EQ(document["host"].as_object()["path"], setup.host.c_str());
    EXPECT_EQ(document["host"].as_object()["source"], "beside_doctor");
    EXPECT_EQ(document["healthy"], true);
}

TEST(DoctorProcess, WithoutHomeOnlyThatIsReported) {
    DoctorRun run = run_doctor({"--json", "--host", BUILT_HOST.string()}, std::nullopt);
    EXPECT_EQ(run.status, 1);
    json::object document = json_of(run);
    EXPECT_EQ(problem_keys(document), std::vector<std::string>{"no_home_directory"});
    EXPECT_EQ(document["home"], nullptr);
}

TEST(DoctorProcess, BadUsageExitsTwoAndPrintsNothingOnStandardOutput) {
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"}, {"--host"}, {"--host", "/a", "--host", "/b"}, {"register"}, {"--json", "extra"},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments.front());
        DoctorRun run = run_doctor(arguments, std::nullopt);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("ondrake-doctor: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
    }
}

TEST(DoctorProcess, HelpExitsZero) {
    DoctorRun run = run_doctor({"--help"}, std::nullopt);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("usage: ondrake-doctor", 0), 0u) << run.out;
    EXPECT_EQ(run.err, "");
}

// ---- States the doctor once misread ----------------------------------------------------------

// The id of a process that has ended and been collected.
pid_t ended_process() {
    char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
    auto spawned = platform::SpawnSetup().spawn(argv[0], argv);
    EXPECT_TRUE(spawned.has_value());
    if (!spawned) return 0;
    int status = 0;
    ::waitpid(*spawned, &status, 0);
    return *spawned;
}

// The name registration gives its temporary file.
std::string temporary_name(pid_t pid) { return ".com.ondrake.download." + std::to_string(pid) + ".tmp"; }

struct StateCase {
    const char* name;
    std::function<void(UserSetUp&)> plant;
    std::vector<std::string> problems;
    std::vector<std::string> said;  // what the text for people says, each somewhere
};

const StateCase STATE_CASES[] = {
    {"control_characters_in_a_manifest_path",
     [](UserSetUp& s) {
         write_file(s.manifest(SupportedBrowser::Edge),
                    *registration::manifest_json_for(false, false, "/\x1B[2J\x1B]0;owned\x07\rFAKE LINE"));
     },
     {"manifest_host_missing"},
     {"host: /\\x1B[2J\\x1B]0;owned\\x07\\x0DFAKE LINE (missing or not executable)"}},
    {"socket_path_linked_to_a_listening_socket",
     [](UserSetUp& s) {
         s.listener = std::make_unique<Listener>((s.root / "live.sock").string());
         fs::create_symlink(s.root / "live.sock", s.endpoint());
     },
     {},
     {"/live.sock\n", "a symbolic link to a socket is there; the application accepted a connection",
      "No problems found"}},
    {"manifest_nested_a_thousand_levels_deep",
     [](UserSetUp& s) {
         write_file(s.manifest(SupportedBrowser::Firefox), std::string(1000, '[') + std::string(1000, ']'));
     },
     {"manifest_too_deep"},
     {"present but JSON nested more than 32 levels deep"}},

    {"temporary_files_of_registrations",
     [](UserSetUp& s) {
         write_file(s.manifest(SupportedBrowser::Chrome).parent_path() / temporary_name(ended_process()),
                    "{");
         write_file(s.record().parent_path() / temporary_name(::getpid()), "/App");
     },
     {"temporary_file_left_over", "temporary_file_of_a_running_process"},
     {"Temporary files of registration", "(process " + std::to_string(::getpid()) + ", running)",
      ", no longer running)"}},
};

void PrintTo(const StateCase& row, std::ostream* out) { *out << row.name; }

class State : public testing::TestWithParam<StateCase> {};

// A healthy set-up but for the one thing planted: the problems named, the text saying what the
// state is, and no raw control byte in it.
TEST_P(State, IsReadForWhatItIs) {
    const StateCase& row = GetParam();
    UserSetUp setup;
    setup.make_healthy();
    row.plant(setup);
    DoctorRun text = run_doctor({"--host", setup.host.string()}, setup.home);
    DoctorRun as_json = run_doctor({"--host", setup.host.string(), "--json"}, setup.home);

    json::object document = json_of(as_json);
    EXPECT_EQ(problem_keys(document), row.problems);
    EXPECT_EQ(text.status, row.problems.empty() ? EXIT_HEALTHY : EXIT_PROBLEMS) << text.out;
    for (const std::string& words : row.said) EXPECT_NE(text.out.find(words), std::string::npos) << text.out;
    for (char c : text.out) {
        auto byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(byte == '\n' || (byte >= 0x20 && byte != 0x7F)) << "raw byte " << int(byte);
    }
}

INSTANTIATE_TEST_SUITE_P(Planted, State, testing::ValuesIn(STATE_CASES),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// A HOME that cannot be entered: one problem, not a missing manifest for every browser with the
// advice to run register, which would fail there too. Root enters every directory, so as root the
// doctor runs as nobody, from a copy that nobody may run.
TEST(DoctorProcess, HomeThatCannotBeEnteredIsOneProblem) {
    UserSetUp setup;
    setup.make_healthy();
    fs::path doctor = setup.root / "tools/ondrake-doctor";
    fs::create_directories(doctor.parent_path());
    fs::copy_file(BUILT_DOCTOR, doctor);
    ::chmod(setup.root.c_str(), 0755);
    std::vector<std::string> command;
    if (::geteuid() == 0) {
        ASSERT_TRUE(fs::exists("/usr/bin/setpriv")) << "as root this test needs setpriv (util-linux)";
        command = {"--reuid=65534", "--regid=65534", "--clear-groups", doctor.string()};
    }
    const fs::path program = ::geteuid() == 0 ? fs::path("/usr/bin/setpriv") : doctor;
    write_file(setup.root / "file", "");
    const std::pair<fs::path, std::string> cases[] = {
        {setup.home, "(cannot be entered: permission denied)"},
        {setup.root / "nobody", "(missing)"},
        {setup.root / "file/home", "(not a directory)"},
    };
    ::chmod(setup.home.c_str(), 0);
    for (const auto& [home, said] : cases) {
        SCOPED_TRACE(home);
        std::vector<std::string> arguments = command;
        arguments.insert(arguments.end(), {"--host", setup.host.string()});
        DoctorRun text = run_doctor(arguments, home, program);
        arguments.push_back("--json");
        DoctorRun as_json = run_doctor(arguments, home, program);
        EXPECT_EQ(text.status, EXIT_PROBLEMS) << text.out << text.err;
        EXPECT_NE(text.out.find("HOME: " + home.string() + " " + said), std::string::npos) << text.out;
        json::object document = json_of(as_json);
        EXPECT_EQ(problem_keys(document), std::vector<std::string>{"home_unreadable"});
        EXPECT_EQ(document["problems"].as_array()[0].as_object()["fix"], "repair_home");
    }
    ::chmod(setup.home.c_str(), 0755);
}

// ---- Hostile files: each reported as a problem with its fix, never an abort or a hang ---------

enum class HostilePlace { Manifest, ManifestDirectory, Record, StateDirectory, InfoPlist };

struct HostileCase {
    HostilePlace place;
    test::Planted kind;
    std::vector<std::string> problems;
};

const HostileCase HOSTILE_CASES[] = {
    {HostilePlace::Manifest, test::Planted::SparseHuge, {"manifest_unreadable"}},
    {HostilePlace::Manifest, test::Planted::Fifo, {"manifest_unreadable"}},
    {HostilePlace::Manifest, test::Planted::Directory, {"manifest_path_blocked"}},
    {HostilePlace::Manifest, test::Planted::HardLink, {"manifest_unreadable"}},  // the victim is no JSON
    {HostilePlace::Manifest, test::Planted::SymbolicLink, {"manifest_unreadable"}},
    {HostilePlace::ManifestDirectory, test::Planted::SparseHuge, {"manifest_path_blocked"}},
    {HostilePlace::ManifestDirectory, test::Planted::Fifo, {"manifest_path_blocked"}},
    {HostilePlace::ManifestDirectory, test::Planted::HardLink, {"manifest_path_blocked"}},
    {HostilePlace::ManifestDirectory, test::Planted::SymbolicLink, {"manifest_path_blocked"}},
    {HostilePlace::Record, test::Planted::SparseHuge, {"record_unreadable"}},
    {HostilePlace::Record, test::Planted::Fifo, {"record_unreadable"}},
    {HostilePlace::Record, test::Planted::Directory, {"record_path_blocked"}},
    {HostilePlace::Record, test::Planted::HardLink, {"record_not_absolute"}},  // the victim's text
    {HostilePlace::Record, test::Planted::SymbolicLink, {"record_not_absolute"}},
    // The socket lies inside the state directory too.
    {HostilePlace::StateDirectory, test::Planted::SparseHuge, {"record_path_blocked", "socket_unreachable"}},
    {HostilePlace::StateDirectory, test::Planted::Fifo, {"record_path_blocked", "socket_unreachable"}},
    {HostilePlace::StateDirectory, test::Planted::HardLink, {"record_path_blocked", "socket_unreachable"}},
    {HostilePlace::StateDirectory,
     test::Planted::SymbolicLink,
     {"record_path_blocked", "socket_unreachable"}},
    {HostilePlace::InfoPlist, test::Planted::SparseHuge, {"application_unidentified"}},
    {HostilePlace::InfoPlist, test::Planted::Fifo, {"application_unidentified"}},
    {HostilePlace::InfoPlist, test::Planted::Directory, {"application_unidentified"}},
    {HostilePlace::InfoPlist, test::Planted::HardLink, {"application_unidentified"}},
    {HostilePlace::InfoPlist, test::Planted::SymbolicLink, {"application_unidentified"}},
};

std::string_view name(HostilePlace place) {
    switch (place) {
        case HostilePlace::Manifest: return "manifest";
        case HostilePlace::ManifestDirectory: return "manifest_directory";
        case HostilePlace::Record: return "record";
        case HostilePlace::StateDirectory: return "state_directory";
        case HostilePlace::InfoPlist: return "info_plist";
    }
    return "?";
}

class HostileFile : public testing::TestWithParam<HostileCase> {};

// A healthy set-up but for the one planted thing; the Info.plist cases examine a host inside a
// bundle, whose application is then identified from it.
TEST_P(HostileFile, IsOneProblemWithItsFix) {
    const HostileCase& row = GetParam();
    bool per_browser = row.place == HostilePlace::Manifest || row.place == HostilePlace::ManifestDirectory;
    std::vector<SupportedBrowser> browsers = {SupportedBrowser::Chrome};
    if (per_browser) {
        browsers = {SupportedBrowser::Chrome, SupportedBrowser::Edge, SupportedBrowser::Firefox,
                    SupportedBrowser::Brave, SupportedBrowser::Chromium};
    }
    for (SupportedBrowser browser : browsers) {
        SCOPED_TRACE(registration::display_name(browser));
        UserSetUp setup;
        setup.make_healthy();
        fs::path host = setup.host;
        std::optional<test::FakeBundle> bundle;
        if (row.place == HostilePlace::InfoPlist) {
            bundle.emplace(setup.root, "Ondrake", "Ondrake", BUILT_HOST);
            ::chmod(bundle->app.c_str(), 0755);
            host = bundle->host;
            setup.write_manifests(host);
            write_file(setup.record(), bundle->app.string(), 0644);
        }
        fs::path victim = setup.root / "victim";
        write_file(victim, test::VICTIM_CONTENT);
        fs::path at;
        switch (row.place) {
            case HostilePlace::Manifest: at = setup.manifest(browser); break;
            case HostilePlace::ManifestDirectory: at = setup.manifest(browser).parent_path(); break;
            case HostilePlace::Record: at = setup.record(); break;
            case HostilePlace::StateDirectory: at = setup.record().parent_path(); break;
            case HostilePlace::InfoPlist: at = bundle->bundle / "Contents/Info.plist"; break;
        }

        test::ProgramOptions options;
        options.arguments = {"--json", "--host", host.string()};
        options.environment = {{"HOME", setup.home.string()}, {"ONDRAKE_DOWNLOAD_EXE", std::nullopt}};
        options.limit = std::chrono::seconds(20);
        DoctorRun run = test::run_with_planted(row.kind, at, victim, BUILT_DOCTOR.string(), options);
        EXPECT_EQ(run.status, EXIT_PROBLEMS);
        EXPECT_EQ(run.err, "");
        json::object document = json_of(run);
        EXPECT_EQ(problem_keys(document), row.problems);
        // What blocks a write is named itself, so that the fix can say what to move away.
        for (const json::value& problem : document["problems"].as_array()) {
            std::string_view key = problem.as_object().at("problem").as_string();
            if (key.find("_path_blocked") != std::string_view::npos) {
                EXPECT_EQ(problem.as_object().at("subject"), at.c_str());
                EXPECT_EQ(problem.as_object().at("fix"), "remove_blocking_path");
            }
        }
        EXPECT_EQ(test::read_file(victim), std::string(test::VICTIM_CONTENT));
    }
}

INSTANTIATE_TEST_SUITE_P(Planted, HostileFile, testing::ValuesIn(HOSTILE_CASES), [](const auto& param_info) {
    return std::string(name(param_info.param.place)) + "_" + std::string(test::name(param_info.param.kind));
});

}  // namespace
}  // namespace ondrake::doctor
