// Hostile files in every place the host reads or writes one: a sparse file claiming a terabyte, a
// FIFO, a directory, a hard link and a symbolic link to a file outside HOME. The built host runs
// as its own process, as a browser or an installer runs it, and each case checks its exact
// outcome: status, log lines, the files left behind, the victim untouched, and no hang.
#include "browser-native-host/installation/registration.hpp"
#include "browser-native-host/common/whole_file.hpp"
#include "browser-native-host/tests/support/fake_bundle.hpp"
#include "browser-native-host/tests/support/hostile_files.hpp"
#include "browser-native-host/tests/support/session_messages.hpp"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace ondrake {
namespace {

namespace fs = std::filesystem;
using registration::SupportedBrowser;
using test::host_log;
using test::Planted;
using test::ProgramRun;

const fs::path BUILT_HOST = fs::path(ONDRAKE_BIN_DIR) / "ondrake-native-host";

// Generous, for loaded machines; only a host that blocks ever reaches it.
constexpr std::chrono::seconds RUN_LIMIT{20};

// The browsers with a manifest file of their own (opera reads chrome's, vivaldi has none).
constexpr std::array MANIFEST_BROWSERS = {SupportedBrowser::Chrome, SupportedBrowser::Edge,
                                          SupportedBrowser::Firefox, SupportedBrowser::Brave,
                                          SupportedBrowser::Chromium};

enum class Place {
    Manifest,           // a browser's manifest file
    ManifestTemporary,  // the atomic write's temporary file beside it
    ManifestDirectory,  // the browser's NativeMessagingHosts directory
    Record,             // the application-path record
    RecordTemporary,    // the temporary file beside the record
    StateDirectory,     // the per-user state directory holding the record and the socket
};

std::string_view name(Place place) {
    switch (place) {
        case Place::Manifest: return "manifest";
        case Place::ManifestTemporary: return "manifest_temporary";
        case Place::ManifestDirectory: return "manifest_directory";
        case Place::Record: return "record";
        case Place::RecordTemporary: return "record_temporary";
        case Place::StateDirectory: return "state_directory";
    }
    return "?";
}

bool is_per_browser(Place place) {
    return place == Place::Manifest || place == Place::ManifestTemporary || place == Place::ManifestDirectory;
}

// A home for one run, and the victim: a file outside it that links may point at.
struct Home {
    test::TempDir root;
    fs::path home = root.path() / "h";
    fs::path victim = root.path() / "victim";

    Home() {
        fs::create_directories(home);
        test::write_file(victim, test::VICTIM_CONTENT);
    }

    fs::path manifest_dir(SupportedBrowser browser) const {
        return home / "Library/Application Support" /
               std::string(*registration::application_support_subdirectory(browser)) / "NativeMessagingHosts";
    }
    fs::path manifest(SupportedBrowser browser) const {
        return manifest_dir(browser) / registration::manifest_file_name();
    }
    fs::path state_dir() const { return home / "Library/Application Support/OndrakeDownload"; }
    fs::path record() const { return state_dir() / "app-path"; }

    static std::string temporary_name() {
        return "." + std::string(registration::HOST_NAME) + "." + std::string(test::PID_PLACEHOLDER) + ".tmp";
    }

    fs::path at(Place place, SupportedBrowser browser) const {
        switch (place) {
            case Place::Manifest: return manifest(browser);
            case Place::ManifestTemporary: return manifest_dir(browser) / temporary_name();
            case Place::ManifestDirectory: return manifest_dir(browser);
            case Place::Record: return record();
            case Place::RecordTemporary: return state_dir() / temporary_name();
            case Place::StateDirectory: return state_dir();
        }
        return {};
    }

    ProgramRun run(Planted kind, Place place, SupportedBrowser browser, const fs::path& host,
                   std::vector<std::string> arguments, std::string input = {}) const {
        test::ProgramOptions options;
        options.arguments = std::move(arguments);
        options.input = std::move(input);
        options.environment = {{"HOME", home.string()}, {"ONDRAKE_DOWNLOAD_EXE", std::nullopt}};
        options.limit = RUN_LIMIT;
        return test::run_with_planted(kind, at(place, browser), victim, host.string(), options);
    }

    void expect_victim_untouched() const {
        struct stat info {};
        ASSERT_EQ(::lstat(victim.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(test::read_file(victim), std::string(test::VICTIM_CONTENT));
    }

    // Temporary files of atomic writes left in `dir`.
    static std::size_t temporaries_in(const fs::path& dir) {
        std::error_code error;
        std::size_t count = 0;
        for (const auto& entry : fs::directory_iterator(dir, error)) {
            std::string file = entry.path().filename().string();
            count += file.rfind("." + std::string(registration::HOST_NAME) + ".", 0) == 0 ? 1u : 0u;
        }
        return count;
    }
};

// ---- The bounded read itself, at its edges ---------------------------------------------------

struct ReadCase {
    const char* name;
    std::function<void(const fs::path&)> make;         // puts something at the path
    std::optional<boost::system::errc::errc_t> error;  // none: read whole
};

constexpr std::size_t CEILING = 100;

const ReadCase READ_CASES[] = {
    {"empty", [](const fs::path& at) { test::write_file(at, ""); }, std::nullopt},
    {"exactly_the_ceiling", [](const fs::path& at) { test::write_file(at, std::string(CEILING, 'a')); },
     std::nullopt},
    {"one_byte_over", [](const fs::path& at) { test::write_file(at, std::string(CEILING + 1, 'a')); },
     boost::system::errc::file_too_large},
    {"sparse_terabyte",
     [](const fs::path& at) {
         test::write_file(at, "");
         fs::resize_file(at, std::uintmax_t{1} << 40);
     },
     boost::system::errc::file_too_large},
    {"not_utf8", [](const fs::path& at) { test::write_file(at, "\xFF"); },
     boost::system::errc::illegal_byte_sequence},
    {"fifo", [](const fs::path& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); },
     boost::system::errc::invalid_argument},
    {"directory", [](const fs::path& at) { fs::create_directory(at); }, boost::system::errc::is_a_directory},
    {"missing", [](const fs::path&) {}, boost::system::errc::no_such_file_or_directory},
};

class BoundedRead : public testing::TestWithParam<ReadCase> {};

TEST_P(BoundedRead, GivesTheContentOrTheReason) {
    test::TempDir dir;
    fs::path at = dir.path() / "file";
    GetParam().make(at);
    auto content = whole_file::read_utf8(at, CEILING);
    if (GetParam().error) {
        ASSERT_FALSE(content.has_value());
        EXPECT_EQ(content.error(), boost::system::errc::make_error_code(*GetParam().error));
    } else {
        ASSERT_TRUE(content.has_value()) << content.error().message();
        EXPECT_EQ(*content, test::read_file(at));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, BoundedRead, testing::ValuesIn(READ_CASES),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// ---- The launcher: a record that cannot be read counts as absent ----------------------------

struct LocateCase {
    Place place;
    Planted kind;
};

class HostileRecordRead : public testing::TestWithParam<LocateCase> {};

// Nobody listens, so the host starts the application: the record must then give the locate line
// and the answer APP_UNAVAILABLE, whatever stands in its place.
TEST_P(HostileRecordRead, CountsAsAbsent) {
    ASSERT_TRUE(fs::is_regular_file(BUILT_HOST)) << BUILT_HOST;
    Home home;
    ProgramRun run = home.run(GetParam().kind, GetParam().place, SupportedBrowser::Chrome, BUILT_HOST, {},
                              test::framed(test::simple("r-1", "https://example.test/file.zip")));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, test::framed(test::host_reply("r-1", "unavailable", "APP_UNAVAILABLE")));
    EXPECT_EQ(run.err,
              host_log({"stage=app_locate kind=NotFound os_error=none", "request r-1 -> AppUnavailable"}));
    home.expect_victim_untouched();
}

// A directory is what belongs at the state directory's place, so it is not planted there.
INSTANTIATE_TEST_SUITE_P(Planted, HostileRecordRead,
                         testing::Values(LocateCase{Place::Record, Planted::SparseHuge},
                                         LocateCase{Place::Record, Planted::Fifo},
                                         LocateCase{Place::Record, Planted::Directory},
                                         LocateCase{Place::Record, Planted::HardLink},
                                         LocateCase{Place::Record, Planted::SymbolicLink},
                                         LocateCase{Place::StateDirectory, Planted::SparseHuge},
                                         LocateCase{Place::StateDirectory, Planted::Fifo},
                                         LocateCase{Place::StateDirectory, Planted::HardLink},
                                         LocateCase{Place::StateDirectory, Planted::SymbolicLink}),
                         [](const auto& param_info) {
                             return std::string(name(param_info.param.place)) + "_" +
                                    std::string(test::name(param_info.param.kind));
                         });

// ---- register: replaced, refused or failed, never redirected and never blocked ---------------

struct RegisterCase {
    Place place;
    Planted kind;
    std::string_view outcome;  // the report's word for the browser concerned (places per browser)
    bool record_written;       // false: register fails with the write error, status 1
};

const RegisterCase REGISTER_CASES[] = {
    // Not a manifest, or one that differs (a link's target): something stood there and is replaced.
    {Place::Manifest, Planted::SparseHuge, "Repaired", true},
    {Place::Manifest, Planted::Fifo, "Repaired", true},
    {Place::Manifest, Planted::Directory, "Unavailable", true},
    {Place::Manifest, Planted::HardLink, "Repaired", true},
    {Place::Manifest, Planted::SymbolicLink, "Repaired", true},
    // Removed before the temporary file is created afresh; only a directory with content stays.
    {Place::ManifestTemporary, Planted::SparseHuge, "Written", true},
    {Place::ManifestTemporary, Planted::Fifo, "Written", true},
    {Place::ManifestTemporary, Planted::Directory, "Unavailable", true},
    {Place::ManifestTemporary, Planted::HardLink, "Written", true},
    {Place::ManifestTemporary, Planted::SymbolicLink, "Written", true},
    {Place::ManifestDirectory, Planted::SparseHuge, "Unavailable", true},
    {Place::ManifestDirectory, Planted::Fifo, "Unavailable", true},
    {Place::ManifestDirectory, Planted::HardLink, "Unavailable", true},
    {Place::ManifestDirectory, Planted::SymbolicLink, "Unavailable", true},
    {Place::Record, Planted::SparseHuge, "Written", true},
    {Place::Record, Planted::Fifo, "Written", true},
    {Place::Record, Planted::Directory, "Written", false},
    {Place::Record, Planted::HardLink, "Written", true},
    {Place::Record, Planted::SymbolicLink, "Written", true},
    {Place::RecordTemporary, Planted::SparseHuge, "Written", true},
    {Place::RecordTemporary, Planted::Fifo, "Written", true},
    {Place::RecordTemporary, Planted::Directory, "Written", false},
    {Place::RecordTemporary, Planted::HardLink, "Written", true},
    {Place::RecordTemporary, Planted::SymbolicLink, "Written", true},
    {Place::StateDirectory, Planted::SparseHuge, "Written", false},
    {Place::StateDirectory, Planted::Fifo, "Written", false},
    {Place::StateDirectory, Planted::HardLink, "Written", false},
    {Place::StateDirectory, Planted::SymbolicLink, "Written", false},
};

std::string expected_register_log(const RegisterCase& row, std::optional<SupportedBrowser> planted) {
    if (!row.record_written) return host_log({"the native messaging manifest could not be written"});
    std::string log = host_log({"firefox trust = " + std::string(registration::FIREFOX_ADDON_ID)});
    for (SupportedBrowser browser : registration::ALL_BROWSERS) {
        std::string_view outcome = browser == planted                     ? row.outcome
                                   : browser == SupportedBrowser::Opera   ? "SharesDestination"
                                   : browser == SupportedBrowser::Vivaldi ? "Unavailable"
                                                                          : "Written";
        log += host_log({std::string(registration::display_name(browser)) + " -> " + std::string(outcome)});
    }
    return log;
}

class HostileRegister : public testing::TestWithParam<RegisterCase> {};

TEST_P(HostileRegister, ExactOutcome) {
    const RegisterCase& row = GetParam();
    test::ApplicationsBundle made(BUILT_HOST);
    if (made.get() == nullptr)
        GTEST_SKIP() << "needs root: register runs only from a bundle in /Applications";
    const test::FakeBundle& bundle = *made.get();

    std::vector<SupportedBrowser> browsers(MANIFEST_BROWSERS.begin(), MANIFEST_BROWSERS.end());
    if (!is_per_browser(row.place)) browsers.resize(1);
    for (SupportedBrowser browser : browsers) {
        SCOPED_TRACE(registration::display_name(browser));
        std::optional<SupportedBrowser> planted;
        if (is_per_browser(row.place)) planted = browser;
        Home home;
        ProgramRun run = home.run(row.kind, row.place, browser, bundle.host, {"register"});
        EXPECT_EQ(run.status, row.record_written ? 0 : 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, expected_register_log(row, planted));
        home.expect_victim_untouched();

        if (row.outcome == "Written" || row.outcome == "Repaired") {
            EXPECT_EQ(test::read_file(home.manifest(browser)),
                      *registration::manifest_json_for(registration::is_firefox(browser), false,
                                                       bundle.host.string()));
        }
        if (row.record_written) {
            EXPECT_EQ(test::read_file(home.record()), bundle.app.string());
        }
        // Nothing of ours is left behind; a planted directory with content stays where it was.
        std::size_t planted_temporaries =
            row.kind == Planted::Directory &&
                    (row.place == Place::ManifestTemporary || row.place == Place::RecordTemporary)
                ? 1
                : 0;
        EXPECT_EQ(Home::temporaries_in(home.manifest_dir(browser)) + Home::temporaries_in(home.state_dir()),
                  planted_temporaries);
    }
}

INSTANTIATE_TEST_SUITE_P(Planted, HostileRegister, testing::ValuesIn(REGISTER_CASES),
                         [](const auto& param_info) {
                             return std::string(name(param_info.param.place)) + "_" +
                                    std::string(test::name(param_info.param.kind));
                         });

// ---- unregister: removes what is there, never what a link points at ---------------------------

struct UnregisterCase {
    Place place;
    Planted kind;
    int status;
    bool manifest_removed;  // the browser concerned is reported removed
};

const UnregisterCase UNREGISTER_CASES[] = {
    {Place::Manifest, Planted::SparseHuge, 0, true},
    {Place::Manifest, Planted::Fifo, 0, true},
    // A directory cannot be deleted as a file: the deletion error ends the verb.
    {Place::Manifest, Planted::Directory, 1, false},
    {Place::Manifest, Planted::HardLink, 0, true},
    {Place::Manifest, Planted::SymbolicLink, 0, true},
    {Place::ManifestDirectory, Planted::SparseHuge, 0, false},
    {Place::ManifestDirectory, Planted::Fifo, 0, false},
    {Place::ManifestDirectory, Planted::HardLink, 0, false},
    {Place::ManifestDirectory, Planted::SymbolicLink, 0, false},
    // Every error while deleting the record is ignored.
    {Place::Record, Planted::SparseHuge, 0, false},
    {Place::Record, Planted::Fifo, 0, false},
    {Place::Record, Planted::Directory, 0, false},
    {Place::Record, Planted::HardLink, 0, false},
    {Place::Record, Planted::SymbolicLink, 0, false},
    {Place::StateDirectory, Planted::SparseHuge, 0, false},
    {Place::StateDirectory, Planted::Fifo, 0, false},
    {Place::StateDirectory, Planted::HardLink, 0, false},
    {Place::StateDirectory, Planted::SymbolicLink, 0, false},
};

class HostileUnregister : public testing::TestWithParam<UnregisterCase> {};

TEST_P(HostileUnregister, ExactOutcome) {
    const UnregisterCase& row = GetParam();
    ASSERT_TRUE(fs::is_regular_file(BUILT_HOST)) << BUILT_HOST;
    std::vector<SupportedBrowser> browsers(MANIFEST_BROWSERS.begin(), MANIFEST_BROWSERS.end());
    if (!is_per_browser(row.place)) browsers.resize(1);
    for (SupportedBrowser browser : browsers) {
        SCOPED_TRACE(registration::display_name(browser));
        Home home;
        fs::path planted_at = home.at(row.place, browser);
        ProgramRun run = home.run(row.kind, row.place, browser, BUILT_HOST, {"unregister"});
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(run.out, "");
        std::string log;
        if (row.status != 0) log = host_log({"the native messaging manifest could not be written"});
        if (row.manifest_removed) {
            log = host_log({"removed " + std::string(registration::display_name(browser))});
            if (browser == SupportedBrowser::Chrome) log += host_log({"removed opera"});
        }
        EXPECT_EQ(run.err, log);
        home.expect_victim_untouched();
        struct stat info {};
        bool still_there = ::lstat(planted_at.c_str(), &info) == 0;
        bool removable = row.kind != Planted::Directory && row.place == Place::Record;
        EXPECT_EQ(still_there, !(row.manifest_removed || removable));
    }
}

INSTANTIATE_TEST_SUITE_P(Planted, HostileUnregister, testing::ValuesIn(UNREGISTER_CASES),
                         [](const auto& param_info) {
                             return std::string(name(param_info.param.place)) + "_" +
                                    std::string(test::name(param_info.param.kind));
                         });

// ---- Identification: an Info.plist that cannot be read identifies nothing ---------------------

class HostileInfoPlist : public testing::TestWithParam<Planted> {};

// Identification comes before the location check, so a bundle anywhere serves.
TEST_P(HostileInfoPlist, FailsWithTheIdentificationError) {
    ASSERT_TRUE(fs::is_regular_file(BUILT_HOST)) << BUILT_HOST;
    Home home;
    test::FakeBundle bundle(home.root.path(), "Ondrake", "Ondrake", BUILT_HOST);
    test::ProgramOptions options;
    options.arguments = {"register"};
    options.environment = {{"HOME", home.home.string()}};
    options.limit = RUN_LIMIT;
    ProgramRun run = test::run_with_planted(GetParam(), bundle.bundle / "Contents/Info.plist", home.victim,
                                            bundle.host.string(), options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, host_log({"the application could not be identified from the host's location",
                                 "this verb registers the host next to it inside a packaged application; "
                                 "run it from Contents/MacOS of a built .app"}));
    EXPECT_TRUE(fs::is_empty(home.home));
    home.expect_victim_untouched();
}

INSTANTIATE_TEST_SUITE_P(Planted, HostileInfoPlist, testing::ValuesIn(test::ALL_PLANTED),
                         [](const auto& param_info) { return std::string(test::name(param_info.param)); });

}  // namespace
}  // namespace ondrake
