#include "tools/doctor/examine.hpp"

#include "browser-native-host/tests/support/fake_bundle.hpp"
#include "tools/doctor/tests/doctor_fixture.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace ondrake::doctor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_setup::Listener;
using testing_setup::UserSetUp;
using testing_setup::write_file;

// A problem as the tests name it: what and, for a manifest, which browser.
struct Expected {
    Problem problem;
    std::optional<SupportedBrowser> browser = std::nullopt;
    bool operator==(const Expected&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Expected& expected) {
    out << key(expected.problem);
    if (expected.browser) out << "(" << registration::display_name(*expected.browser) << ")";
    return out;
}

std::vector<Expected> problems_in(const std::vector<Finding>& findings) {
    std::vector<Expected> problems;
    for (const Finding& finding : findings) problems.push_back({finding.problem, finding.browser});
    return problems;
}

std::vector<Expected> problems_of(const Report& report) { return problems_in(report.findings); }

// Every test gets a HOME of its own and no override, whatever the developer's shell has.
class ExamineTest : public testing::Test {
protected:
    ExamineTest()
        : home_env_("HOME", setup_.home.string()), override_env_("ONDRAKE_DOWNLOAD_EXE", std::nullopt) {}

    Report examine_with_host(const fs::path& host) {
        return examine({host, std::nullopt, std::chrono::milliseconds(5'000), std::nullopt});
    }
    Report run() { return examine_with_host(setup_.host); }

    UserSetUp setup_;
    test::ScopedEnv home_env_;
    test::ScopedEnv override_env_;
};

TEST_F(ExamineTest, HealthySetUpHasNoProblems) {
    setup_.make_healthy();
    Report report = run();

    EXPECT_EQ(problems_of(report), std::vector<Expected>{});
    EXPECT_EQ(report.host.path, setup_.host);
    EXPECT_TRUE(report.host.executable);
    EXPECT_EQ(report.host.bundle, std::nullopt);
    ASSERT_EQ(report.manifests.size(), registration::ALL_BROWSERS.size());
    for (const ManifestFacts& manifest : report.manifests) {
        SCOPED_TRACE(registration::display_name(manifest.browser));
        if (manifest.browser == SupportedBrowser::Vivaldi) {
            EXPECT_EQ(manifest.state, ManifestState::NoDirectory);
            continue;
        }
        EXPECT_EQ(manifest.state, ManifestState::Present);
        EXPECT_EQ(manifest.matches_register, true);
        EXPECT_EQ(manifest.host_path, setup_.host.string());
        EXPECT_TRUE(manifest.host_executable);
        EXPECT_TRUE(manifest.admits_extension);
        EXPECT_EQ(manifest.shares_with.has_value(), manifest.browser == SupportedBrowser::Opera);
    }
    EXPECT_EQ(report.manifests[2].firefox_trust, FirefoxTrust::Production);
    EXPECT_EQ(report.record.state, RecordState::Present);
    ASSERT_TRUE(report.launch_candidate.has_value());
    EXPECT_EQ(report.launch_candidate->value, setup_.app.string());
    EXPECT_EQ(report.socket.path, setup_.endpoint());
    EXPECT_TRUE(report.socket.fits);
    EXPECT_EQ(report.socket.file, SocketFile::Socket);
    EXPECT_EQ(report.socket.connection, ConnectOutcome::Accepted);
}

// The probing connection reaches the listener and ends without a single byte.
TEST_F(ExamineTest, ConnectsAndClosesWithoutWriting) {
    setup_.make_healthy();
    run();

    pollfd ready{setup_.listener->fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 5'000), 1) << "the doctor never connected";
    int connection = ::accept(setup_.listener->fd(), nullptr, nullptr);
    ASSERT_GE(connection, 0);
    char byte = 0;
    EXPECT_EQ(::read(connection, &byte, 1), 0) << "the doctor wrote to the application";
    ::close(connection);
}

struct Planted {
    const char* name;
    std::function<void(UserSetUp&)> plant;
    std::vector<Expected> expected;
};

void PrintTo(const Planted& planted, std::ostream* out) { *out << planted.name; }

class PlantedProblem : public ExamineTest, public testing::WithParamInterface<Planted> {};

TEST_P(PlantedProblem, IsReportedAloneWithItsFix) {
    setup_.make_healthy();
    GetParam().plant(setup_);
    Report report = run();

    EXPECT_EQ(problems_of(report), GetParam().expected);
    for (const Finding& finding : report.findings) {
        EXPECT_FALSE(finding.subject.empty()) << key(finding.problem);
    }
}

void remove_file(const fs::path& path) { ASSERT_TRUE(fs::remove(path)) << path; }

void set_override(const std::string& value) { ::setenv("ONDRAKE_DOWNLOAD_EXE", value.c_str(), 1); }

// The manifest as register writes it for `host`, with `from` replaced by `to`.
std::string edited_manifest(bool firefox, const fs::path& host, std::string_view from, std::string_view to) {
    std::string manifest = *registration::manifest_json_for(firefox, false, host.string());
    std::size_t at = manifest.find(from);
    EXPECT_NE(at, std::string::npos);
    return manifest.replace(at, from.size(), to);
}

const Planted PLANTED[] = {
    {"manifest_missing_for_chrome_and_so_opera",
     [](UserSetUp& s) { remove_file(s.manifest(SupportedBrowser::Chrome)); },
     {{Problem::ManifestMissing, SupportedBrowser::Chrome}}},
    {"manifest_missing_for_firefox",
     [](UserSetUp& s) { remove_file(s.manifest(SupportedBrowser::Firefox)); },
     {{Problem::ManifestMissing, SupportedBrowser::Firefox}}},
    {"manifest_with_a_trailing_line_feed",
     [](UserSetUp& s) {
         auto bytes = *registration::manifest_json_for(false, false, s.host.string());
         write_file(s.manifest(SupportedBrowser::Edge), bytes + "\n");
     },
     {{Problem::ManifestStale, SupportedBrowser::Edge}}},
    {"manifest_for_another_existing_host",
     [](UserSetUp& s) {
         fs::path other = s.root / "other/ondrake-native-host";
         write_file(other, "#!/bin/sh\n", 0755);
         auto bytes = *registration::manifest_json_for(false, false, other.string());
         write_file(s.manifest(SupportedBrowser::Brave), bytes);
     },
     {{Problem::ManifestStale, SupportedBrowser::Brave}}},
    {"manifest_naming_a_removed_host",
     [](UserSetUp& s) {
         fs::path removed = s.root / "removed/ondrake-native-host";
         auto bytes = *registration::manifest_json_for(false, false, removed.string());
         write_file(s.manifest(SupportedBrowser::Chromium), bytes);
     },
     {{Problem::ManifestHostMissing, SupportedBrowser::Chromium}}},
    {"manifest_naming_a_host_that_may_not_run",
     [](UserSetUp& s) {
         fs::path plain = s.root / "plain/ondrake-native-host";
         write_file(plain, "not a program", 0644);
         auto bytes = *registration::manifest_json_for(false, false, plain.string());
         write_file(s.manifest(SupportedBrowser::Chrome), bytes);
     },
     {{Problem::ManifestHostMissing, SupportedBrowser::Chrome}}},
    {"manifest_without_a_path",
     [](UserSetUp& s) {
         write_file(s.manifest(SupportedBrowser::Edge),
                    edited_manifest(false, s.host, "\"path\"", "\"location\""));
     },
     {{Problem::ManifestHostMissing, SupportedBrowser::Edge}}},
    {"firefox_development_trust",
     [](UserSetUp& s) {
         auto bytes = *registration::manifest_json_for(true, true, s.host.string());
         write_file(s.manifest(SupportedBrowser::Firefox), bytes);
     },
     {{Problem::FirefoxDevelopmentTrust, SupportedBrowser::Firefox}}},
    {"firefox_admitting_only_the_development_add_on",
     [](UserSetUp& s) {
         write_file(s.manifest(SupportedBrowser::Firefox),
                    edited_manifest(true, s.host, registration::FIREFOX_ADDON_ID,
                                    registration::FIREFOX_DEV_ADDON_ID));
     },
     {{Problem::ManifestExtensionNotAdmitted, SupportedBrowser::Firefox},
      {Problem::FirefoxDevelopmentTrust, SupportedBrowser::Firefox}}},
    {"chromium_family_manifest_for_another_extension",
     [](UserSetUp& s) {
         write_file(s.manifest(SupportedBrowser::Brave),
                    edited_manifest(false, s.host, registration::CHROME_EXTENSION_ID,
                                    "abcdefghijklmnopabcdefghijklmnop"));
     },
     {{Problem::ManifestExtensionNotAdmitted, SupportedBrowser::Brave}}},
    {"manifest_that_is_not_json",
     [](UserSetUp& s) { write_file(s.manifest(SupportedBrowser::Chromium), "{\"name\": "); },
     {{Problem::ManifestUnreadable, SupportedBrowser::Chromium}}},
    {"manifest_that_is_a_json_array",
     [](UserSetUp& s) { write_file(s.manifest(SupportedBrowser::Chromium), "[]"); },
     {{Problem::ManifestUnreadable, SupportedBrowser::Chromium}}},
    {"manifest_nested_a_thousand_levels_deep",
     [](UserSetUp& s) {
         write_file(s.manifest(SupportedBrowser::Chromium), std::string(1000, '[') + std::string(1000, ']'));
     },
     {{Problem::ManifestTooDeep, SupportedBrowser::Chromium}}},
    {"manifest_nested_deep_and_cut_short",
     [](UserSetUp& s) { write_file(s.manifest(SupportedBrowser::Chromium), std::string(1000, '[')); },
     {{Problem::ManifestUnreadable, SupportedBrowser::Chromium}}},
    {"manifest_that_is_not_utf8",
     [](UserSetUp& s) { write_file(s.manifest(SupportedBrowser::Edge), "{\"name\": \"\xFF\"}"); },
     {{Problem::ManifestUnreadable, SupportedBrowser::Edge}}},
    {"manifest_path_taken_by_a_directory",
     [](UserSetUp& s) {
         remove_file(s.manifest(SupportedBrowser::Edge));
         fs::create_directory(s.manifest(SupportedBrowser::Edge));
     },
     {{Problem::ManifestPathBlocked, SupportedBrowser::Edge}}},
    {"record_missing", [](UserSetUp& s) { remove_file(s.record()); }, {{Problem::RecordMissing}}},
    {"record_relative",
     [](UserSetUp& s) { write_file(s.record(), "app/Ondrake Download"); },
     {{Problem::RecordNotAbsolute}}},
    {"record_blank", [](UserSetUp& s) { write_file(s.record(), " \n\t"); }, {{Problem::RecordNotAbsolute}}},
    {"record_naming_a_removed_application",
     [](UserSetUp& s) { remove_file(s.app); },
     {{Problem::RecordTargetMissing}}},
    {"record_naming_a_directory",
     [](UserSetUp& s) { write_file(s.record(), s.root.string()); },
     {{Problem::RecordTargetMissing}}},
    {"record_naming_a_file_that_may_not_run",
     [](UserSetUp& s) { ::chmod(s.app.c_str(), 0644); },
     {{Problem::RecordTargetNotExecutable}}},
    {"record_not_utf8",
     [](UserSetUp& s) { write_file(s.record(), s.app.string() + "\xFF"); },
     {{Problem::RecordUnreadable}}},
    {"temporary_file_beside_a_manifest",
     [](UserSetUp& s) {
         write_file(s.manifest(SupportedBrowser::Firefox).parent_path() / ".com.ondrake.download.4194304.tmp",
                    "");
     },
     {{Problem::TemporaryFileLeftOver}}},
    {"temporary_file_of_this_process_beside_the_record",
     [](UserSetUp& s) {
         write_file(
             s.record().parent_path() / (".com.ondrake.download." + std::to_string(::getpid()) + ".tmp"), "");
     },
     {{Problem::TemporaryFileOfARunningProcess}}},
    {"override_naming_nothing",
     [](UserSetUp& s) { set_override((s.root / "nothing").string()); },
     {{Problem::OverrideUnusable}}},
    {"override_relative",
     [](UserSetUp&) { set_override("app/Ondrake Download"); },
     {{Problem::OverrideUnusable}}},
    {"socket_file_with_nobody_listening",
     [](UserSetUp& s) { s.listener->close(false); },
     {{Problem::SocketNotListening}}},
    {"socket_file_that_never_listened",
     [](UserSetUp& s) {
         s.listener.reset();
         s.listener = std::make_unique<Listener>(s.endpoint(), false);
     },
     {{Problem::SocketNotListening}}},
    {"application_not_running", [](UserSetUp& s) { s.listener.reset(); }, {{Problem::SocketMissing}}},
    {"regular_file_at_the_socket_path",
     [](UserSetUp& s) {
         s.listener.reset();
         write_file(s.endpoint(), "");
     },
     {{Problem::SocketNotASocket}}},
    {"link_at_the_socket_path_to_a_regular_file",
     [](UserSetUp& s) {
         s.listener.reset();
         write_file(s.root / "file", "");
         fs::create_symlink(s.root / "file", s.endpoint());
     },
     {{Problem::SocketNotASocket}}},
    {"link_at_the_socket_path_to_nothing",
     [](UserSetUp& s) {
         s.listener.reset();
         fs::create_symlink(s.root / "nothing", s.endpoint());
     },
     {{Problem::SocketNotASocket}}},
    {"link_at_the_socket_path_to_a_socket_nobody_listens_on",
     [](UserSetUp& s) {
         s.listener = std::make_unique<Listener>((s.root / "dead.sock").string());
         s.listener->close(false);
         fs::create_symlink(s.root / "dead.sock", s.endpoint());
     },
     {{Problem::SocketNotListening}}},
};

INSTANTIATE_TEST_SUITE_P(OneAtATime, PlantedProblem, testing::ValuesIn(PLANTED),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// Things that look odd but keep every browser working.
struct Harmless {
    const char* name;
    std::function<void(UserSetUp&)> plant;
};

void PrintTo(const Harmless& harmless, std::ostream* out) { *out << harmless.name; }

class HarmlessChange : public ExamineTest, public testing::WithParamInterface<Harmless> {};

TEST_P(HarmlessChange, LeavesTheSetUpHealthy) {
    setup_.make_healthy();
    GetParam().plant(setup_);
    EXPECT_EQ(problems_of(run()), std::vector<Expected>{});
}

const Harmless HARMLESS[] = {
    {"record_padded_with_unicode_white_space",
     [](UserSetUp& s) { write_file(s.record(), "\xE2\x80\x83 " + s.app.string() + "\r\n \xC2\xA0"); }},
    {"record_through_a_symbolic_link",
     [](UserSetUp& s) {
         fs::create_symlink(s.app, s.root / "app-link");
         write_file(s.record(), (s.root / "app-link").string());
     }},
    {"usable_override", [](UserSetUp& s) { set_override(s.app.string()); }},
};

INSTANTIATE_TEST_SUITE_P(Variants, HarmlessChange, testing::ValuesIn(HARMLESS),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(ExamineTest, MissingHostLeavesManifestsUncompared) {
    setup_.make_healthy();
    remove_file(setup_.host);
    Report report = run();

    std::vector<Expected> expected{{Problem::HostMissing}};
    for (auto browser : {SupportedBrowser::Chrome, SupportedBrowser::Edge, SupportedBrowser::Firefox,
                         SupportedBrowser::Brave, SupportedBrowser::Chromium}) {
        expected.push_back({Problem::ManifestHostMissing, browser});
    }
    EXPECT_EQ(problems_of(report), expected);
    for (const ManifestFacts& manifest : report.manifests) EXPECT_EQ(manifest.matches_register, std::nullopt);
}

TEST_F(ExamineTest, NothingRegisteredAndNothingRunning) {
    Report report = run();
    EXPECT_EQ(problems_of(report), (std::vector<Expected>{
                                       {Problem::ManifestMissing, SupportedBrowser::Chrome},
                                       {Problem::ManifestMissing, SupportedBrowser::Edge},
                                       {Problem::ManifestMissing, SupportedBrowser::Firefox},
                                       {Problem::ManifestMissing, SupportedBrowser::Brave},
                                       {Problem::ManifestMissing, SupportedBrowser::Chromium},
                                       {Problem::RecordMissing},
                                       {Problem::SocketMissing},
                                   }));
}

TEST_F(ExamineTest, SocketPathOverTheLimit) {
    // 60 more bytes of HOME put the socket path past any system's socket-address limit.
    UserSetUp deep(std::string(60, 'd'));
    test::ScopedEnv home("HOME", deep.home.string());
    deep.write_manifests(deep.host);
    write_file(deep.record(), deep.app.string());

    Report report = examine_with_host(deep.host);
    EXPECT_EQ(problems_of(report), std::vector<Expected>{{Problem::SocketPathTooLong}});
    EXPECT_EQ(report.socket.length, deep.endpoint().size());
    EXPECT_GT(report.socket.length, report.socket.limit);
    EXPECT_EQ(report.socket.connection, ConnectOutcome::NotAttempted);
}

TEST_F(ExamineTest, SocketPathOfExactlyTheLimitFits) {
    setup_.make_healthy();
    Report report = run();
    std::size_t spare = report.socket.limit - report.socket.length;
    UserSetUp exact(setup_.home.filename().string() + std::string(spare, 'x'));
    test::ScopedEnv home("HOME", exact.home.string());
    exact.make_healthy();

    Report at_limit = examine_with_host(exact.host);
    EXPECT_EQ(at_limit.socket.length, at_limit.socket.limit);
    EXPECT_TRUE(at_limit.socket.fits);
    EXPECT_EQ(at_limit.socket.connection, ConnectOutcome::Accepted);
    EXPECT_EQ(problems_of(at_limit), std::vector<Expected>{});
}

TEST_F(ExamineTest, UnusableHomeIsOneProblem) {
    setup_.make_healthy();
    for (std::optional<std::string> home : {std::optional<std::string>(), std::optional<std::string>(""),
                                            std::optional<std::string>("relative/home")}) {
        SCOPED_TRACE(home.value_or("(unset)"));
        test::ScopedEnv unusable("HOME", home);
        Report report = run();
        EXPECT_EQ(problems_of(report), std::vector<Expected>{{Problem::NoHomeDirectory}});
        EXPECT_EQ(report.home, std::nullopt);
        EXPECT_EQ(report.socket.path, std::nullopt);
        for (const ManifestFacts& manifest : report.manifests) {
            EXPECT_EQ(manifest.state, ManifestState::NoDirectory);
        }
    }
}

// Every file below a HOME that cannot be entered looks missing; only HOME itself is named.
TEST_F(ExamineTest, HomeThatCannotBeEnteredIsOneProblem) {
    setup_.make_healthy();
    write_file(setup_.root / "file", "");
    const std::pair<fs::path, HomeAccess> cases[] = {
        {setup_.root / "nobody", HomeAccess::Missing},
        {setup_.root / "file", HomeAccess::NotADirectory},
        {setup_.root / "file/home", HomeAccess::NotADirectory},
    };
    for (const auto& [home, access] : cases) {
        SCOPED_TRACE(home);
        test::ScopedEnv elsewhere("HOME", home.string());
        Report report = run();
        EXPECT_EQ(report.home_access, access);
        EXPECT_EQ(report.findings,
                  (std::vector<Finding>{{Problem::HomeUnreadable, std::nullopt, home.string()}}));
    }
}

TEST_F(ExamineTest, UnusableOverrideIsReportedWithoutHome) {
    test::ScopedEnv unusable("HOME", std::nullopt);
    set_override("");
    EXPECT_EQ(problems_of(run()),
              (std::vector<Expected>{{Problem::NoHomeDirectory}, {Problem::OverrideUnusable}}));
}

#if defined(__linux__)
// Linux turns a connection away at once when the listener's backlog is full.
TEST_F(ExamineTest, ListenerWithAFullBacklog) {
    setup_.listener = std::make_unique<Listener>(setup_.endpoint(), true, 0);
    setup_.write_manifests(setup_.host);
    write_file(setup_.record(), setup_.app.string());
    std::vector<int> waiting;
    bool full = false;
    for (int i = 0; i < 64 && !full; ++i) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        setup_.endpoint().copy(address.sun_path, setup_.endpoint().size());
        full = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno == EAGAIN;
        waiting.push_back(fd);
    }
    if (!full) GTEST_SKIP() << "the backlog never filled";

    EXPECT_EQ(problems_of(run()), std::vector<Expected>{{Problem::SocketNotAccepting}});
    for (int fd : waiting) ::close(fd);
}
#endif

// ---- Where the host is ----------------------------------------------------------------------

TEST_F(ExamineTest, HostBesideTheDoctor) {
    setup_.make_healthy();
    write_file(setup_.root / "bin/ondrake-doctor", "", 0755);
    fs::create_directories(setup_.root / "links");
    fs::create_symlink(setup_.root / "bin/ondrake-doctor", setup_.root / "links/doctor");

    for (const fs::path& doctor : {setup_.root / "bin/ondrake-doctor", setup_.root / "links/doctor"}) {
        SCOPED_TRACE(doctor);
        Report report = examine({std::nullopt, doctor, std::chrono::milliseconds(5'000), std::nullopt});
        EXPECT_EQ(report.host.source, HostSource::BesideDoctor);
        EXPECT_EQ(report.host.path, setup_.host);
        EXPECT_EQ(problems_of(report), std::vector<Expected>{});
    }
}

TEST_F(ExamineTest, NoHostBesideTheDoctor) {
    setup_.make_healthy();
    fs::path lonely = setup_.root / "elsewhere/ondrake-doctor";
    write_file(lonely, "", 0755);
    Report report = examine({std::nullopt, lonely, std::chrono::milliseconds(5'000), std::nullopt});
    EXPECT_EQ(report.host.path, setup_.root / "elsewhere/ondrake-native-host");
    EXPECT_FALSE(report.host.executable);
    ASSERT_FALSE(report.findings.empty());
    EXPECT_EQ(report.findings.front(),
              (Finding{Problem::HostMissing, std::nullopt, report.host.path->string()}));
}

TEST_F(ExamineTest, UnknownDoctorLocation) {
    setup_.make_healthy();
    Report report = examine({std::nullopt, std::nullopt, std::chrono::milliseconds(5'000), std::nullopt});
    EXPECT_EQ(report.host.source, HostSource::Unknown);
    EXPECT_EQ(report.host.path, std::nullopt);
    EXPECT_EQ(report.register_command(), std::nullopt);
    ASSERT_FALSE(report.findings.empty());
    EXPECT_EQ(report.findings.front(), (Finding{Problem::HostMissing, std::nullopt, ""}));
}

TEST_F(ExamineTest, HostOptionIsResolvedAsRegisterResolvesTheHost) {
    setup_.make_healthy();
    fs::create_symlink(setup_.host, setup_.root / "host-link");
    Report report = examine_with_host(setup_.root / "host-link");
    EXPECT_EQ(report.host.source, HostSource::Option);
    EXPECT_EQ(report.host.path, setup_.host);
    EXPECT_EQ(problems_of(report), std::vector<Expected>{});
}

// ---- The application bundle around the host ---------------------------------------------------

class BundleTest : public ExamineTest {
protected:
    // A bundle in `parent`, registered as register would do it from there.
    test::FakeBundle install(const fs::path& parent) {
        test::FakeBundle bundle(parent, "Ondrake Download", "Ondrake Download");
        ::chmod(bundle.host.c_str(), 0755);
        ::chmod(bundle.app.c_str(), 0755);
        setup_.write_manifests(bundle.host);
        write_file(setup_.record(), bundle.app.string());
        setup_.listener = std::make_unique<Listener>(setup_.endpoint());
        return bundle;
    }
};

TEST_F(BundleTest, OutsideApplications) {
    auto bundle = install(setup_.root / "Applications");
    Report report = examine_with_host(bundle.host);
    EXPECT_EQ(report.host.bundle, bundle.bundle);
    EXPECT_EQ(report.host.application, bundle.app);
    EXPECT_EQ(report.host.location, InstallLocation::Elsewhere);
    EXPECT_EQ(report.record.matches_installation, true);
    EXPECT_EQ(problems_of(report), std::vector<Expected>{{Problem::ApplicationOutsideApplications}});
    EXPECT_EQ(report.findings.front().subject, bundle.bundle.string());
}

TEST_F(BundleTest, Translocated) {
    auto bundle = install(setup_.root / "AppTranslocation/8F1C2A");
    Report report = examine_with_host(bundle.host);
    EXPECT_EQ(report.host.location, InstallLocation::Translocated);
    EXPECT_EQ(problems_of(report), std::vector<Expected>{{Problem::ApplicationTranslocated}});
}

TEST_F(BundleTest, RecordNamingAnotherApplication) {
    auto bundle = install(setup_.root / "Applications");
    write_file(setup_.record(), setup_.app.string());
    Report report = examine_with_host(bundle.host);
    EXPECT_EQ(report.record.matches_installation, false);
    EXPECT_EQ(problems_of(report),
              (std::vector<Expected>{{Problem::ApplicationOutsideApplications}, {Problem::RecordStale}}));
}

TEST_F(BundleTest, UnidentifiedApplication) {
    auto bundle = install(setup_.root / "Applications");
    remove_file(bundle.bundle / "Contents/Info.plist");
    Report report = examine_with_host(bundle.host);
    EXPECT_EQ(report.host.identification_error, RegistrationError::UnidentifiedApplication);
    EXPECT_EQ(report.record.matches_installation, std::nullopt);
    EXPECT_EQ(problems_of(report), std::vector<Expected>{{Problem::ApplicationUnidentified}});
}

// ---- From facts to problems, for facts no test machine can produce ----------------------------

Report healthy_facts() {
    Report report;
    report.home = "/Users/example";
    report.host.source = HostSource::Option;
    report.host.path = "/Applications/Ondrake Download.app/Contents/MacOS/ondrake-native-host";
    report.host.executable = true;
    report.socket.path = "/Users/example/Library/Application Support/OndrakeDownload/ipc/browser.sock";
    report.socket.fits = true;
    report.socket.file = SocketFile::Socket;
    report.socket.connection = ConnectOutcome::Accepted;
    return report;
}

TEST(Diagnose, EveryInstallLocation) {
    const std::pair<InstallLocation, std::vector<Expected>> cases[] = {
        {InstallLocation::Canonical, {}},
        {InstallLocation::MountedVolume, {{Problem::ApplicationOnDiskImage}}},
        {InstallLocation::Translocated, {{Problem::ApplicationTranslocated}}},
        {InstallLocation::Elsewhere, {{Problem::ApplicationOutsideApplications}}},
    };
    for (const auto& [location, expected] : cases) {
        SCOPED_TRACE(key(location));
        Report report = healthy_facts();
        report.host.bundle = "/Volumes/Ondrake Download/Ondrake Download.app";
        report.host.application =
            "/Volumes/Ondrake Download/Ondrake Download.app/Contents/MacOS/Ondrake Download";
        report.host.location = location;
        EXPECT_EQ(problems_in(diagnose(report)), expected);
    }
}

TEST(Diagnose, EveryConnectionOutcome) {
    const std::pair<ConnectOutcome, std::optional<Problem>> cases[] = {
        {ConnectOutcome::Accepted, std::nullopt},
        {ConnectOutcome::NoSocketFile, Problem::SocketMissing},
        {ConnectOutcome::Refused, Problem::SocketNotListening},
        {ConnectOutcome::NotAccepting, Problem::SocketNotAccepting},
        {ConnectOutcome::PermissionDenied, Problem::SocketPermissionDenied},
        {ConnectOutcome::Failed, Problem::SocketUnreachable},
    };
    for (const auto& [connection, problem] : cases) {
        SCOPED_TRACE(key(connection));
        Report report = healthy_facts();
        report.socket.connection = connection;
        std::vector<Finding> expected;
        if (problem) expected.push_back({*problem, std::nullopt, *report.socket.path});
        EXPECT_EQ(diagnose(report), expected);
    }
}

// One problem per round trip, for its first failed step; a browser that has nothing to start
// from has its manifest's problem instead.
TEST(Diagnose, EveryRoundTripOutcome) {
    struct Case {
        HostStart start;
        LegResult browser_leg;
        LegResult application_leg;
        std::optional<Problem> problem;
    };
    const Case cases[] = {
        {HostStart::NoManifest, LegResult::NotTried, LegResult::NotTried, std::nullopt},
        {HostStart::NoHost, LegResult::NotTried, LegResult::NotTried, std::nullopt},
        {HostStart::NoCaller, LegResult::NotTried, LegResult::NotTried, std::nullopt},
        {HostStart::NotExecutable, LegResult::NotTried, LegResult::NotTried,
         Problem::RoundTripHostNotExecutable},
        {HostStart::Failed, LegResult::NotTried, LegResult::NotTried, Problem::RoundTripHostDidNotStart},
        {HostStart::Started, LegResult::Passed, LegResult::Passed, std::nullopt},
        {HostStart::Started, LegResult::HostEnded, LegResult::NotTried, Problem::RoundTripHostEnded},
        {HostStart::Started, LegResult::NoReply, LegResult::NotTried, Problem::RoundTripNoReply},
        {HostStart::Started, LegResult::WrongReply, LegResult::NotTried, Problem::RoundTripWrongReply},
        {HostStart::Started, LegResult::Passed, LegResult::HostEnded, Problem::RoundTripHostEnded},
        {HostStart::Started, LegResult::Passed, LegResult::NoReply, Problem::RoundTripNoReply},
        {HostStart::Started, LegResult::Passed, LegResult::WrongReply, Problem::RoundTripWrongReply},
        {HostStart::Started, LegResult::Passed, LegResult::ApplicationUnavailable,
         Problem::RoundTripApplicationUnavailable},
        {HostStart::Started, LegResult::Passed, LegResult::ApplicationSilent,
         Problem::RoundTripApplicationSilent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(key(c.start)) + " " + std::string(key(c.browser_leg)) + " " +
                     std::string(key(c.application_leg)));
        Report report = healthy_facts();
        RoundTripFacts trip;
        trip.browser = SupportedBrowser::Edge;
        trip.host = "/Applications/Ondrake Download.app/Contents/MacOS/ondrake-native-host";
        trip.start = c.start;
        trip.browser_leg.result = c.browser_leg;
        trip.application_leg.result = c.application_leg;
        report.round_trip = std::vector<RoundTripFacts>{trip};
        std::vector<Finding> expected;
        if (c.problem) expected.push_back({*c.problem, SupportedBrowser::Edge, *trip.host});
        EXPECT_EQ(diagnose(report), expected);
    }
}

TEST(Diagnose, AnythingButASocketAtThePathOutranksTheConnection) {
    Report report = healthy_facts();
    report.socket.file = SocketFile::Other;
    report.socket.connection = ConnectOutcome::Refused;
    EXPECT_EQ(problems_in(diagnose(report)), std::vector<Expected>{{Problem::SocketNotASocket}});
}

}  // namespace
}  // namespace ondrake::doctor
