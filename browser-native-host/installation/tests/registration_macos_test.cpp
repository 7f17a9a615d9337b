#include "browser-native-host/installation/registration_macos.hpp"

#include "browser-native-host/tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ondrake::registration_macos {
namespace {

namespace fs = std::filesystem;
using registration::ALL_BROWSERS;
using registration::manifest_json_for;
using test::read_file;
using test::ScopedEnv;
using test::TempDir;
using test::write_file;
using Outcomes = std::vector<ManifestOutcome>;
using Lines = std::vector<std::string>;

constexpr auto W = ManifestOutcome::Written;
constexpr auto C = ManifestOutcome::AlreadyCurrent;
constexpr auto R = ManifestOutcome::Repaired;
constexpr auto S = ManifestOutcome::SharesDestination;
constexpr auto U = ManifestOutcome::Unavailable;

// The inode at `path` (0 when there is none): a file replaced by a rename gets a new one.
ino_t inode_of(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

std::string temporary_name() { return ".com.ondrake.download." + std::to_string(::getpid()) + ".tmp"; }

// Names of the entries of a directory, to see that no temporary file stayed behind.
std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct ManifestDirCase {
    const char* name;
    const char* home;
    SupportedBrowser browser;
    std::optional<std::string> expected;
};

class ManifestDir : public testing::TestWithParam<ManifestDirCase> {};

TEST_P(ManifestDir, FollowsHome) {
    ScopedEnv home("HOME", GetParam().home);
    auto dir = manifest_dir(GetParam().browser);
    ASSERT_EQ(dir.has_value(), GetParam().expected.has_value());
    if (dir) {
        EXPECT_EQ(dir->string(), *GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Homes, ManifestDir,
    testing::Values(
        ManifestDirCase{"chrome", "/Users/u", SupportedBrowser::Chrome,
                        "/Users/u/Library/Application Support/Google/Chrome/NativeMessagingHosts"},
        ManifestDirCase{"opera_shares_chrome", "/Users/u", SupportedBrowser::Opera,
                        "/Users/u/Library/Application Support/Google/Chrome/NativeMessagingHosts"},
        ManifestDirCase{"edge", "/Users/u/", SupportedBrowser::Edge,
                        "/Users/u/Library/Application Support/Microsoft Edge/NativeMessagingHosts"},
        ManifestDirCase{"firefox", "/Users/u", SupportedBrowser::Firefox,
                        "/Users/u/Library/Application Support/Mozilla/NativeMessagingHosts"},
        ManifestDirCase{
            "brave", "/Users/u", SupportedBrowser::Brave,
            "/Users/u/Library/Application Support/BraveSoftware/Brave-Browser/NativeMessagingHosts"},
        ManifestDirCase{"chromium", "/Users/u", SupportedBrowser::Chromium,
                        "/Users/u/Library/Application Support/Chromium/NativeMessagingHosts"},
        ManifestDirCase{"vivaldi_has_none", "/Users/u", SupportedBrowser::Vivaldi, std::nullopt},
        ManifestDirCase{"home_unset", nullptr, SupportedBrowser::Chrome, std::nullopt},
        ManifestDirCase{"home_relative", "Users/u", SupportedBrowser::Chrome, std::nullopt},
        ManifestDirCase{"home_empty", "", SupportedBrowser::Chrome, std::nullopt}),
    [](const auto& param_info) { return param_info.param.name; });

class ManifestHostPath : public testing::Test {
protected:
    TempDir temp;
};

TEST_F(ManifestHostPath, AcceptsAnExistingAbsoluteFileUnresolved) {
    fs::path host = temp.path() / "ondrake-native-host";
    write_file(host, "x");
    fs::path link = temp.path() / "link";
    fs::create_symlink(host, link);
    EXPECT_EQ(*manifest_host_path(host), host.string());
    EXPECT_EQ(*manifest_host_path(link), link.string());
}

TEST_F(ManifestHostPath, RefusesUnusablePaths) {
    fs::path not_utf8 = temp.path() / "host-\xFF";
    write_file(not_utf8, "x");
    EXPECT_EQ(manifest_host_path("bin/ondrake-native-host").error(), RegistrationError::RelativeExecutable);
    EXPECT_EQ(manifest_host_path(temp.path() / "missing").error(), RegistrationError::MissingExecutable);
    EXPECT_EQ(manifest_host_path(temp.path()).error(), RegistrationError::MissingExecutable);
    EXPECT_EQ(manifest_host_path(not_utf8).error(), RegistrationError::ManifestWrite);
}

class WriteAtomically : public testing::Test {
protected:
    TempDir temp;
};

TEST_F(WriteAtomically, CreatesMissingParentsAndWritesExactBytes) {
    fs::path destination = temp.path() / "a/b/c/file.json";
    ASSERT_TRUE(write_atomically(destination, "{\n}").has_value());
    EXPECT_EQ(read_file(destination), "{\n}");
    EXPECT_EQ(entries(destination.parent_path()), std::vector<std::string>{"file.json"});
}

TEST_F(WriteAtomically, ReplacesTheFileByRename) {
    fs::path destination = temp.path() / "file.json";
    write_file(destination, "an older and longer content");
    ino_t before = inode_of(destination);
    ASSERT_TRUE(write_atomically(destination, "new").has_value());
    EXPECT_EQ(read_file(destination), "new");
    EXPECT_NE(inode_of(destination), before);
}

TEST_F(WriteAtomically, StaleTemporaryFileIsReplaced) {
    write_file(temp.path() / temporary_name(), "left over from a crashed run with our process id");
    ASSERT_TRUE(write_atomically(temp.path() / "file.json", "new").has_value());
    EXPECT_EQ(read_file(temp.path() / "file.json"), "new");
    EXPECT_EQ(entries(temp.path()), std::vector<std::string>{"file.json"});
}

TEST_F(WriteAtomically, DirectoryAtDestinationFailsWithoutLeftovers) {
    fs::path destination = temp.path() / "file.json";
    fs::create_directory(destination);
    EXPECT_EQ(write_atomically(destination, "new").error(), RegistrationError::ManifestWrite);
    EXPECT_TRUE(fs::is_directory(destination));
    EXPECT_EQ(entries(temp.path()), std::vector<std::string>{"file.json"});
}

TEST_F(WriteAtomically, PlantedLinkAtTemporaryNameIsNotFollowed) {
    fs::path victim = temp.path() / "victim";
    write_file(victim, "precious");
    fs::path dir = temp.path() / "dir";
    fs::create_directory(dir);
    fs::create_symlink(victim, dir / temporary_name());
    ASSERT_TRUE(write_atomically(dir / "file.json", "new").has_value());
    EXPECT_EQ(read_file(victim), "precious");
    EXPECT_EQ(read_file(dir / "file.json"), "new");
    EXPECT_EQ(entries(dir), std::vector<std::string>{"file.json"});
}

// What registrations killed before their rename left: only our own pattern's regular files of
// processes that no longer exist go. (No process has an id as high as those "gone" use.)
TEST_F(WriteAtomically, LeftoversOfEndedRegistrationsAreRemoved) {
    enum Kind { File, Link, Directory };
    struct Leftover {
        std::string name;
        Kind kind;
        bool removed;
    };
    const std::string gone = std::to_string(std::numeric_limits<pid_t>::max());
    const std::vector<Leftover> leftovers = {
        {".com.ondrake.download." + gone + ".tmp", File, true},
        {".com.ondrake.download.2147483646.tmp", File, true},
        {".com.ondrake.download.1.tmp", File, false},  // a live process's
        {".com.ondrake.download." + std::to_string(::getppid()) + ".tmp", File, false},
        {".com.ondrake.download.2147483645.tmp", Link, false},
        {".com.ondrake.download.2147483644.tmp", Directory, false},
        {".com.ondrake.download.0" + gone + ".tmp", File, false},
        {".com.ondrake.download.-5.tmp", File, false},
        {".com.ondrake.download..tmp", File, false},
        {".com.ondrake.download." + gone + ".tmp.json", File, false},
        {"x.com.ondrake.download." + gone + ".tmp", File, false},
        {".org.example.host." + gone + ".tmp", File, false},
    };
    fs::path victim = temp.path() / "victim";
    write_file(victim, "precious");
    fs::path dir = temp.path() / "dir";
    fs::create_directory(dir);
    for (const Leftover& leftover : leftovers) {
        if (leftover.kind == File) write_file(dir / leftover.name, "left over");
        if (leftover.kind == Link) fs::create_symlink(victim, dir / leftover.name);
        if (leftover.kind == Directory) fs::create_directory(dir / leftover.name);
    }
    ASSERT_TRUE(write_atomically(dir / "file.json", "new").has_value());
    for (const Leftover& leftover : leftovers) {
        EXPECT_EQ(fs::exists(fs::symlink_status(dir / leftover.name)), !leftover.removed) << leftover.name;
    }
    EXPECT_EQ(read_file(victim), "precious");
    EXPECT_EQ(read_file(dir / "file.json"), "new");
}

// Only names temporary_file_name() could have written carry a process id.
TEST(TemporaryFileProcess, ReadsTheProcessIdOfOurNamesOnly) {
    const std::pair<std::string_view, std::optional<pid_t>> cases[] = {
        {".com.ondrake.download.4711.tmp", 4711},
        {".com.ondrake.download.1.tmp", 1},
        {".com.ondrake.download..tmp", std::nullopt},
        {".com.ondrake.download.0.tmp", std::nullopt},
        {".com.ondrake.download.0471.tmp", std::nullopt},
        {".com.ondrake.download.-4.tmp", std::nullopt},
        {".com.ondrake.download.+4.tmp", std::nullopt},
        {".com.ondrake.download.4a.tmp", std::nullopt},
        {".com.ondrake.download.99999999999999999999.tmp", std::nullopt},
        {".com.ondrake.download.4711.tmp~", std::nullopt},
        {"com.ondrake.download.4711.tmp", std::nullopt},
        {".com.ondrake.download.json", std::nullopt},
        {".other.4711.tmp", std::nullopt},
    };
    for (const auto& [name, owner] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(registration_macos::temporary_file_process(name), owner);
    }
    EXPECT_EQ(registration_macos::temporary_file_process(temporary_name()), ::getpid());
}

TEST_F(WriteAtomically, UnusableParentFails) {
    write_file(temp.path() / "plain", "x");
    EXPECT_EQ(write_atomically(temp.path() / "plain/file.json", "new").error(),
              RegistrationError::ManifestWrite);
    EXPECT_EQ(write_atomically("file.json", "new").error(), RegistrationError::ManifestWrite);
    EXPECT_FALSE(fs::exists("file.json"));
}

// A temporary home and a host and application outside any bundle: `register_host` takes the
// location as an argument, so these run without touching /Applications.
class Register : public testing::Test {
protected:
    Register() : home_dir(temp.path() / "home"), home("HOME", home_dir.string()) {
        fs::create_directory(home_dir);
        write_file(paths.host, "host");
        write_file(paths.app, "app");
    }

    fs::path manifest(SupportedBrowser browser) const {
        return *manifest_dir(browser) / "com.ondrake.download.json";
    }
    fs::path support(std::string_view relative) const {
        return home_dir / "Library/Application Support" / relative;
    }
    fs::path record() const { return support("OndrakeDownload/app-path"); }
    std::string expected_manifest(SupportedBrowser browser, bool development) const {
        return *manifest_json_for(registration::is_firefox(browser), development, paths.host.string());
    }

    Outcomes run(bool development = false) {
        auto report = register_host(paths, InstallLocation::Canonical, development);
        if (!report) {
            ADD_FAILURE() << registration::message(report.error());
            return {};
        }
        Outcomes outcomes;
        for (std::size_t i = 0; i < report->browsers.size(); ++i) {
            EXPECT_EQ(report->browsers[i].browser, ALL_BROWSERS.at(i));
            outcomes.push_back(report->browsers[i].outcome);
        }
        return outcomes;
    }

    int run_verb(Lines& lines, bool development = false) {
        CapturedDiagnostics out;
        int status = run_register_with(paths, InstallLocation::Canonical, development, out);
        lines = out.lines;
        return status;
    }

    TempDir temp;
    fs::path home_dir;
    ScopedEnv home;
    InstalledPaths paths{temp.path() / "bin/ondrake-native-host", temp.path() / "bin/Ondrake"};
};

TEST_F(Register, FirstRunWritesEveryManifestAndTheRecord) {
    auto report = register_host(paths, InstallLocation::Canonical, false);
    ASSERT_TRUE(report.has_value()) << registration::message(report.error());
    Outcomes outcomes;
    for (const auto& entry : report->browsers) outcomes.push_back(entry.outcome);
    EXPECT_EQ(outcomes, (Outcomes{W, W, W, W, W, S, U}));
    EXPECT_EQ(report->host, paths.host);
    EXPECT_EQ(report->app, paths.app);
    EXPECT_EQ(report->app_path_record, record());
    EXPECT_TRUE(report->any_registered());

    for (SupportedBrowser browser : ALL_BROWSERS) {
        if (browser == SupportedBrowser::Vivaldi) continue;
        SCOPED_TRACE(registration::display_name(browser));
        EXPECT_EQ(read_file(manifest(browser)), expected_manifest(browser, false));
        EXPECT_EQ(entries(*manifest_dir(browser)), std::vector<std::string>{"com.ondrake.download.json"});
    }
    EXPECT_EQ(read_file(record()), paths.app.string());
}

TEST_F(Register, SecondRunLeavesManifestsAndRewritesTheRecord) {
    run();
    std::vector<ino_t> inodes;
    for (SupportedBrowser browser : ALL_BROWSERS) {
        if (manifest_dir(browser)) inodes.push_back(inode_of(manifest(browser)));
    }
    ino_t record_inode = inode_of(record());

    EXPECT_EQ(run(), (Outcomes{C, C, C, C, C, S, U}));
    std::vector<ino_t> after;
    for (SupportedBrowser browser : ALL_BROWSERS) {
        if (manifest_dir(browser)) after.push_back(inode_of(manifest(browser)));
    }
    EXPECT_EQ(after, inodes);
    EXPECT_NE(inode_of(record()), record_inode);
    EXPECT_EQ(read_file(record()), paths.app.string());
}

TEST_F(Register, ChangedManifestsAreRepaired) {
    run();
    write_file(manifest(SupportedBrowser::Chrome), expected_manifest(SupportedBrowser::Chrome, false) + "\n");
    std::string edge = expected_manifest(SupportedBrowser::Edge, false);
    edge[edge.size() / 2] ^= 0x01;
    write_file(manifest(SupportedBrowser::Edge), edge);

    EXPECT_EQ(run(), (Outcomes{R, R, C, C, C, S, U}));
    EXPECT_EQ(read_file(manifest(SupportedBrowser::Chrome)),
              expected_manifest(SupportedBrowser::Chrome, false));
    EXPECT_EQ(read_file(manifest(SupportedBrowser::Edge)), expected_manifest(SupportedBrowser::Edge, false));
}

// A file that cannot be a manifest at all was still there, and is replaced like any other.
TEST_F(Register, FilesThatCannotBeManifestsAreRepaired) {
    run();
    write_file(manifest(SupportedBrowser::Edge), std::string(70000, ' ') + "{}");  // over the ceiling
    write_file(manifest(SupportedBrowser::Firefox), "{\"name\": \"\xFF\"}");       // not UTF-8
    fs::remove(manifest(SupportedBrowser::Chromium));
    fs::create_symlink(temp.path() / "nowhere", manifest(SupportedBrowser::Chromium));
    EXPECT_EQ(run(), (Outcomes{C, R, R, C, R, S, U}));
    for (SupportedBrowser browser :
         {SupportedBrowser::Edge, SupportedBrowser::Firefox, SupportedBrowser::Chromium}) {
        EXPECT_EQ(read_file(manifest(browser)), expected_manifest(browser, false));
    }
}

TEST_F(Register, ProductionAfterDevelopmentRepairsFirefoxOnly) {
    EXPECT_EQ(run(true), (Outcomes{W, W, W, W, W, S, U}));
    EXPECT_EQ(read_file(manifest(SupportedBrowser::Firefox)),
              expected_manifest(SupportedBrowser::Firefox, true));
    EXPECT_EQ(run(false), (Outcomes{C, C, R, C, C, S, U}));
    EXPECT_EQ(read_file(manifest(SupportedBrowser::Firefox)),
              expected_manifest(SupportedBrowser::Firefox, false));
}

TEST_F(Register, VerbLinesInBothModes) {
    Lines lines;
    EXPECT_EQ(run_verb(lines), 0);
    EXPECT_EQ(lines, (Lines{"firefox trust = browser-bridge@ondrake.download", "chrome -> Written",
                            "edge -> Written", "firefox -> Written", "brave -> Written",
                            "chromium -> Written", "opera -> SharesDestination", "vivaldi -> Unavailable"}));
    EXPECT_EQ(run_verb(lines, true), 0);
    EXPECT_EQ(lines,
              (Lines{"firefox trust = browser-bridge@ondrake.download, browser-bridge-dev@ondrake.download",
                     "DEVELOPMENT registration. Run `register` to restore production trust.",
                     "chrome -> AlreadyCurrent", "edge -> AlreadyCurrent", "firefox -> Repaired",
                     "brave -> AlreadyCurrent", "chromium -> AlreadyCurrent", "opera -> SharesDestination",
                     "vivaldi -> Unavailable"}));
}

TEST_F(Register, DirectoryInPlaceOfAManifestMakesThatBrowserUnavailable) {
    fs::create_directories(manifest(SupportedBrowser::Edge));
    Lines lines;
    EXPECT_EQ(run_verb(lines), 0);
    EXPECT_EQ(lines.at(2), "edge -> Unavailable");
    EXPECT_EQ(lines.at(5), "chromium -> Written");
    EXPECT_EQ(entries(*manifest_dir(SupportedBrowser::Edge)),
              std::vector<std::string>{"com.ondrake.download.json"});
    EXPECT_TRUE(fs::is_directory(manifest(SupportedBrowser::Edge)));
    EXPECT_EQ(read_file(record()), paths.app.string());
}

TEST_F(Register, NoManifestWrittenFailsAfterTheReport) {
    for (const char* blocked : {"Google", "Microsoft Edge", "Mozilla", "BraveSoftware", "Chromium"}) {
        write_file(support(blocked), "a file where the browser's directory belongs");
    }
    Lines lines;
    EXPECT_EQ(run_verb(lines), 1);
    EXPECT_EQ(lines,
              (Lines{"firefox trust = browser-bridge@ondrake.download", "chrome -> Unavailable",
                     "edge -> Unavailable", "firefox -> Unavailable", "brave -> Unavailable",
                     "chromium -> Unavailable", "opera -> SharesDestination", "vivaldi -> Unavailable"}));
    EXPECT_EQ(read_file(record()), paths.app.string());
}

TEST(MacInstallReport, AnyRegistered) {
    MacInstallReport report;
    for (SupportedBrowser browser : ALL_BROWSERS) report.browsers.push_back({U, browser});
    EXPECT_FALSE(report.any_registered());
    // Opera shares Chrome's path: with Chrome's write failed, nothing is registered.
    report.browsers[5].outcome = S;
    EXPECT_FALSE(report.any_registered());
    for (ManifestOutcome registered : {W, C, R}) {
        report.browsers[2].outcome = registered;
        EXPECT_TRUE(report.any_registered());
    }
}

TEST_F(Register, RecordThatCannotBeWrittenFailsAndKeepsManifests) {
    write_file(support("OndrakeDownload"), "a file where the state directory belongs");
    Lines lines;
    EXPECT_EQ(run_verb(lines), 1);
    EXPECT_EQ(lines, Lines{"the native messaging manifest could not be written"});
    EXPECT_EQ(read_file(manifest(SupportedBrowser::Brave)),
              expected_manifest(SupportedBrowser::Brave, false));
}

TEST_F(Register, ApplicationPathThatIsNotUtf8IsRefusedAfterTheManifests) {
    paths.app = temp.path() / "bin/Ondrake-\xFF";
    write_file(paths.app, "app");
    EXPECT_EQ(register_host(paths, InstallLocation::Canonical, false).error(),
              RegistrationError::ManifestWrite);
    EXPECT_TRUE(fs::exists(manifest(SupportedBrowser::Chromium)));
    EXPECT_FALSE(fs::exists(record()));
}

struct UnusableHostCase {
    const char* name;
    const char* host;  // relative to the temporary directory unless it is not absolute
    bool absolute;
    RegistrationError expected;
};

class RegisterUnusableHost : public Register, public testing::WithParamInterface<UnusableHostCase> {};

TEST_P(RegisterUnusableHost, FailsBeforeWritingAnything) {
    paths.host = GetParam().absolute ? temp.path() / GetParam().host : fs::path(GetParam().host);
    write_file(temp.path() / "bin/host-\xFF", "x");
    fs::create_directories(temp.path() / "bin/a-directory");
    Lines lines;
    EXPECT_EQ(run_verb(lines), 1);
    EXPECT_EQ(lines, Lines{std::string(registration::message(GetParam().expected))});
    EXPECT_FALSE(fs::exists(home_dir / "Library"));
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, RegisterUnusableHost,
    testing::Values(
        UnusableHostCase{"relative", "bin/ondrake-native-host", false, RegistrationError::RelativeExecutable},
        UnusableHostCase{"missing", "bin/missing", true, RegistrationError::MissingExecutable},
        UnusableHostCase{"directory", "bin/a-directory", true, RegistrationError::MissingExecutable},
        UnusableHostCase{"not_utf8", "bin/host-\xFF", true, RegistrationError::ManifestWrite}),
    [](const auto& param_info) { return param_info.param.name; });

class RegisterOutsideApplications : public Register, public testing::WithParamInterface<InstallLocation> {};

TEST_P(RegisterOutsideApplications, IsRefusedBeforeWritingAnything) {
    EXPECT_EQ(register_host(paths, GetParam(), false).error(), RegistrationError::NotCanonical);
    EXPECT_FALSE(fs::exists(home_dir / "Library"));
}

INSTANTIATE_TEST_SUITE_P(Locations, RegisterOutsideApplications,
                         testing::Values(InstallLocation::MountedVolume, InstallLocation::Translocated,
                                         InstallLocation::Elsewhere));

class RegisterWithoutHome : public Register, public testing::WithParamInterface<const char*> {};

TEST_P(RegisterWithoutHome, EveryBrowserUnavailableThenNoUserDirectory) {
    ScopedEnv no_home("HOME", GetParam());
    Lines lines;
    EXPECT_EQ(run_verb(lines), 1);
    EXPECT_EQ(lines, Lines{"no per-user directory is available"});
    EXPECT_EQ(register_host(paths, InstallLocation::Canonical, false).error(),
              RegistrationError::NoUserDirectory);
    EXPECT_FALSE(fs::exists(home_dir / "Library"));
}

INSTANTIATE_TEST_SUITE_P(Homes, RegisterWithoutHome, testing::Values(nullptr, "", "relative/home"));

class Unregister : public Register {
protected:
    int run_unregister_verb(Lines& lines) {
        CapturedDiagnostics out;
        int status = run_unregister(out);
        lines = out.lines;
        return status;
    }
};

TEST_F(Unregister, NothingToRemove) {
    Lines lines;
    EXPECT_EQ(run_unregister_verb(lines), 0);
    EXPECT_TRUE(lines.empty());
}

TEST_F(Unregister, RemovesManifestsAndRecordButNotDirectories) {
    run();
    Lines lines;
    EXPECT_EQ(run_unregister_verb(lines), 0);
    EXPECT_EQ(lines, (Lines{"removed chrome", "removed edge", "removed firefox", "removed brave",
                            "removed chromium", "removed opera"}));
    for (SupportedBrowser browser : ALL_BROWSERS) {
        if (!manifest_dir(browser)) continue;
        EXPECT_FALSE(fs::exists(manifest(browser)));
        EXPECT_TRUE(fs::is_directory(*manifest_dir(browser)));
    }
    EXPECT_FALSE(fs::exists(record()));
    EXPECT_TRUE(fs::is_directory(record().parent_path()));
    EXPECT_EQ(run_unregister_verb(lines), 0);
    EXPECT_TRUE(lines.empty());
}

TEST_F(Unregister, RecordAloneIsRemovedSilently) {
    write_file(record(), paths.app.string());
    Lines lines;
    EXPECT_EQ(run_unregister_verb(lines), 0);
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(fs::exists(record()));
}

TEST_F(Unregister, DeletionErrorStopsAndKeepsEarlierRemovals) {
    run();
    fs::remove(manifest(SupportedBrowser::Firefox));
    fs::create_directory(manifest(SupportedBrowser::Firefox));
    Lines lines;
    EXPECT_EQ(run_unregister_verb(lines), 1);
    EXPECT_EQ(lines, Lines{"the native messaging manifest could not be written"});
    EXPECT_FALSE(fs::exists(manifest(SupportedBrowser::Chrome)));
    EXPECT_FALSE(fs::exists(manifest(SupportedBrowser::Edge)));
    EXPECT_TRUE(fs::exists(manifest(SupportedBrowser::Brave)));
}

TEST_F(Unregister, FileInPlaceOfABrowserDirectoryMeansNoManifest) {
    run();
    fs::remove_all(support("Google"));
    write_file(support("Google"), "not a directory");
    auto removed = unregister();
    ASSERT_TRUE(removed.has_value());
    EXPECT_EQ((*removed),
              (std::vector<SupportedBrowser>{SupportedBrowser::Edge, SupportedBrowser::Firefox,
                                             SupportedBrowser::Brave, SupportedBrowser::Chromium}));
}

TEST_F(Unregister, WithoutHomeDoesNothing) {
    run();
    ScopedEnv no_home("HOME", std::nullopt);
    auto removed = unregister();
    ASSERT_TRUE(removed.has_value());
    EXPECT_TRUE((*removed).empty());
    EXPECT_TRUE(fs::exists(temp.path() / "home/Library/Application Support/Mozilla/NativeMessagingHosts"
                                         "/com.ondrake.download.json"));
}

}  // namespace
}  // namespace ondrake::registration_macos
