// ondrake-doctor --report FILE: what the file for a support request holds, what it never holds,
// and how it is written.
#include "browser-native-host/tests/support/fake_bundle.hpp"
#include "browser-native-host/tests/support/hostile_files.hpp"
#include "tools/doctor/options.hpp"
#include "tools/doctor/render.hpp"
#include "tools/doctor/tests/doctor_fixture.hpp"
#include "tools/doctor/tests/doctor_run.hpp"

#include <gtest/gtest.h>

namespace ondrake::doctor {
namespace {

namespace fs = std::filesystem;
using testing_setup::BUILT_DOCTOR;
using testing_setup::BUILT_HOST;
using testing_setup::DoctorRun;
using testing_setup::RecordedApplication;
using testing_setup::run_doctor;
using testing_setup::UserSetUp;
using testing_setup::write_file;

// Every "://" of `text` belongs to an extension origin.
void expect_no_url(const std::string& text) {
    for (std::size_t at = text.find("://"); at != std::string::npos; at = text.find("://", at + 3)) {
        EXPECT_EQ(text.substr(at < 16 ? 0 : at - 16, std::min<std::size_t>(at, 16)), "chrome-extension")
            << text.substr(at < 40 ? 0 : at - 40, 80);
    }
}

// HOME is written as ~ where a path begins with it, whatever spelling of it: as set, or resolved.
// A longer name that merely begins like it stays, and so do extension origins; other URLs go.
TEST(SupportReport, HomeAsTildeAndNoUrl) {
    Report report;
    report.home = "/Users/bob/";
    report.host.path = "/Users/bob/Applications/Ondrake Download.app/Contents/MacOS/ondrake-native-host";
    RoundTripFacts trip;
    trip.start = HostStart::Started;
    trip.host = "/Users/bobby/ondrake-native-host";
    trip.arguments = {registration::chrome_extension_origin()};
    trip.host_errors = {"fetching https://example.test/a?b=c#d failed for /Users/bob",
                        "see file:///Users/bob/log and data:text/plain,hi"};
    report.round_trip = std::vector<RoundTripFacts>{trip};
    SupportFacts facts;
    facts.home_resolved = "/System/Volumes/Data/Users/bob";
    facts.programs = {
        {"application", "/System/Volumes/Data/Users/bob/App/main", true, 7, "2024-05-01T10:00:00Z"}};

    std::string text = render_support_report(report, facts);
    for (std::string_view kept : {
             "~/Applications/Ondrake Download.app/Contents/MacOS/ondrake-native-host",
             "'/Users/bobby/ondrake-native-host' 'chrome-extension://kfmhaobnpdcjiegllamnbocfhkpjdgie/'",
             "fetching <URL left out> failed for ~\n",
             "see <URL left out> and data:text/plain,hi",
             "application: ~/App/main (7 bytes, modified 2024-05-01T10:00:00Z)",
         }) {
        EXPECT_NE(text.find(kept), std::string::npos) << kept << "\nin\n" << text;
    }
    EXPECT_EQ(text.find("/Users/bob/"), std::string::npos) << text;
    EXPECT_EQ(text.find("Data/Users/bob"), std::string::npos) << text;
    expect_no_url(text);
}

// The file of a real set-up: a bundle with a version, register's manifests for its host, and a
// round trip through Firefox's host, whose arguments hold the manifest's path under HOME.
TEST(SupportReport, HoldsWhatSupportNeedsWithHomeAsTilde) {
    UserSetUp setup;
    test::FakeBundle bundle(setup.root, "Ondrake Download", "Ondrake Download", BUILT_HOST);
    ::chmod(bundle.host.c_str(), 0755);
    write_file(bundle.bundle / "Contents/Info.plist",
               "<plist><dict><key>CFBundleExecutable</key><string>Ondrake Download</string>"
               "<key>CFBundleIdentifier</key><string>com.ondrake.download</string>"
               "<key>CFBundleShortVersionString</key><string>2.4.1</string>"
               "<key>CFBundleVersion</key><string>241</string></dict></plist>");
    setup.write_manifests(bundle.host);
    RecordedApplication application(setup, {});
    fs::path file = setup.root / "support/report.txt";

    DoctorRun run = run_doctor(
        {"--host", bundle.host.string(), "--round-trip", "firefox", "--report", file.string()}, setup.home);
    EXPECT_EQ(run.status, EXIT_PROBLEMS) << run.out;  // the bundle lies outside /Applications
    EXPECT_EQ(run.err, "ondrake-doctor: wrote the report for support to " + file.string() + "\n");
    std::string text = test::read_file(file).value_or("");
    EXPECT_EQ(text.rfind("Ondrake Download: a report for support, written by ondrake-doctor at ", 0), 0u)
        << text;

    std::string manifest = *registration::manifest_json_for(false, false, bundle.host.string());
    std::string indented = "    " + manifest;
    for (std::size_t at = 0; (at = indented.find('\n', at)) != std::string::npos; at += 5)
        indented.insert(at + 1, "    ");
    const std::string held_texts[] = {
        "\nSystem\n  ",
        "  version 2.4.1 (build 241), identifier com.ondrake.download, from Contents/Info.plist\n",
        "  host: " + bundle.host.string() + " (" + std::to_string(fs::file_size(bundle.host)) +
            " bytes, modified ",
        "  chrome: ~/Library/Application Support/Google/Chrome/NativeMessagingHosts/com.ondrake.download.json (" +
            std::to_string(manifest.size()) + " bytes, modified ",
        indented + "\n",
        "  edge: ~/",
        std::string("HOME: ~\n"),
        "'~/Library/Application Support/Mozilla/NativeMessagingHosts/com.ondrake.download.json' '" +
            std::string(registration::FIREFOX_ADDON_ID) + "'",
        std::string("    browser to host: passed in "),
        std::string("    host to application: passed in "),
        std::string(summary(Problem::ApplicationOutsideApplications)),
    };
    for (const std::string& held : held_texts) {
        EXPECT_NE(text.find(held), std::string::npos) << held << "\nin\n" << text;
    }
    EXPECT_EQ(text.find(setup.home.string()), std::string::npos) << text;
    expect_no_url(text);
}

// Whatever stands at the file's path, or at the name of its temporary file, is replaced or makes
// the write fail; nothing is written through a link, and a FIFO never blocks.
TEST(SupportReport, WrittenWithoutFollowingWhatIsPlanted) {
    for (bool at_temporary : {false, true}) {
        for (test::Planted kind : test::ALL_PLANTED) {
            SCOPED_TRACE(std::string(test::name(kind)) +
                         (at_temporary ? " at the temporary name" : " at the file"));
            UserSetUp setup;
            fs::path victim = setup.root / "victim";
            write_file(victim, test::VICTIM_CONTENT);
            fs::path file = setup.root / "report.txt";
            fs::path at = at_temporary ? setup.root / ".com.ondrake.download.@PID@.tmp" : file;
            test::ProgramOptions options;
            options.arguments = {"--host", BUILT_HOST.string(), "--report", file.string()};
            options.environment = {{"HOME", setup.home.string()}, {"ONDRAKE_DOWNLOAD_EXE", std::nullopt}};
            options.limit = std::chrono::seconds(20);
            DoctorRun run = test::run_with_planted(kind, at, victim, BUILT_DOCTOR.string(), options);

            // A directory is neither replaced by a rename nor removed to make room.
            bool written = kind != test::Planted::Directory;
            EXPECT_EQ(run.status, written ? EXIT_PROBLEMS : EXIT_FAILED) << run.err;
            EXPECT_EQ(test::read_file(victim), std::string(test::VICTIM_CONTENT));
            struct stat info {};
            if (written) {
                ASSERT_EQ(::lstat(file.c_str(), &info), 0);
                EXPECT_TRUE(S_ISREG(info.st_mode));
                EXPECT_EQ(
                    test::read_file(file).value_or("").rfind("Ondrake Download: a report for support", 0),
                    0u);
            } else {
                EXPECT_EQ(run.err, "ondrake-doctor: could not write the report to " + file.string() + "\n");
            }
        }
    }
}

}  // namespace
}  // namespace ondrake::doctor
