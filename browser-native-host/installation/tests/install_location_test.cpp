#include "browser-native-host/installation/install_location.hpp"

#include "browser-native-host/tests/support/fake_bundle.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace ondrake::install_location {
namespace {

namespace fs = std::filesystem;
using test::FakeBundle;
using test::TempDir;
using test::write_file;

struct ClassifyCase {
    const char* name;
    const char* bundle;
    InstallLocation expected;
};

class ClassifyBundle : public testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyBundle, Location) { EXPECT_EQ(classify_bundle(GetParam().bundle), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Paths, ClassifyBundle,
    testing::Values(
        ClassifyCase{"applications", "/Applications/Ondrake Download.app", InstallLocation::Canonical},
        ClassifyCase{"trailing_separator", "/Applications/Ondrake.app/", InstallLocation::Canonical},
        ClassifyCase{"repeated_separators", "//Applications//Ondrake.app", InstallLocation::Canonical},
        ClassifyCase{"dot_component", "/Applications/./Ondrake.app", InstallLocation::Canonical},
        ClassifyCase{"subdirectory_of_applications", "/Applications/Tools/Ondrake.app",
                     InstallLocation::Elsewhere},
        ClassifyCase{"applications_itself", "/Applications", InstallLocation::Elsewhere},
        ClassifyCase{"home_applications", "/Users/someone/Applications/Ondrake.app",
                     InstallLocation::Elsewhere},
        ClassifyCase{"lower_case_applications", "/applications/Ondrake.app", InstallLocation::Elsewhere},
        ClassifyCase{"relative_applications", "Applications/Ondrake.app", InstallLocation::Elsewhere},
        ClassifyCase{"dot_dot_not_resolved", "/Applications/Tools/../Ondrake.app",
                     InstallLocation::Elsewhere},
        ClassifyCase{"mounted_volume", "/Volumes/Ondrake Installer/Ondrake.app",
                     InstallLocation::MountedVolume},
        ClassifyCase{"volumes_deeper", "/Volumes/Disk/Applications/Ondrake.app",
                     InstallLocation::MountedVolume},
        ClassifyCase{"volumes_not_at_root", "/Users/someone/Volumes/Ondrake.app", InstallLocation::Elsewhere},
        ClassifyCase{"translocated", "/private/var/folders/x1/T/AppTranslocation/3F2A/d/Ondrake.app",
                     InstallLocation::Translocated},
        ClassifyCase{"translocation_wins_over_applications", "/Applications/AppTranslocation/Ondrake.app",
                     InstallLocation::Translocated},
        ClassifyCase{"translocation_is_case_sensitive", "/Applications/apptranslocation",
                     InstallLocation::Canonical}),
    [](const auto& param_info) { return param_info.param.name; });

struct BundleOfCase {
    const char* name;
    const char* executable;
    std::optional<std::string> bundle;
};

class BundleOf : public testing::TestWithParam<BundleOfCase> {};

TEST_P(BundleOf, Bundle) {
    auto bundle = bundle_of(GetParam().executable);
    ASSERT_EQ(bundle.has_value(), GetParam().bundle.has_value());
    if (bundle) {
        EXPECT_EQ(bundle->string(), *GetParam().bundle);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, BundleOf,
    testing::Values(
        BundleOfCase{"bundle", "/Applications/O.app/Contents/MacOS/Ondrake", "/Applications/O.app"},
        BundleOfCase{"root_bundle", "/Contents/MacOS/Ondrake", "/"},
        BundleOfCase{"not_macos", "/Applications/O.app/Contents/Resources/Ondrake", std::nullopt},
        BundleOfCase{"lower_case_contents", "/Applications/O.app/contents/MacOS/Ondrake", std::nullopt},
        BundleOfCase{"lower_case_macos", "/Applications/O.app/Contents/macos/Ondrake", std::nullopt},
        BundleOfCase{"no_parent_above_contents", "Contents/MacOS/Ondrake", std::nullopt},
        BundleOfCase{"plain_binary", "/usr/local/bin/ondrake", std::nullopt}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(InstalledPathsLocation, FollowsTheApplicationsBundle) {
    InstalledPaths canonical{"/Applications/O.app/Contents/MacOS/ondrake-native-host",
                             "/Applications/O.app/Contents/MacOS/Ondrake"};
    EXPECT_EQ(canonical.location(), InstallLocation::Canonical);
    InstalledPaths volume{"/Volumes/D/O.app/Contents/MacOS/ondrake-native-host",
                          "/Volumes/D/O.app/Contents/MacOS/Ondrake"};
    EXPECT_EQ(volume.location(), InstallLocation::MountedVolume);
    // The host's own place does not count, only the application's.
    InstalledPaths loose{"/Applications/O.app/Contents/MacOS/ondrake-native-host", "/Applications/Ondrake"};
    EXPECT_EQ(loose.location(), InstallLocation::Elsewhere);
}

// Any key is found as CFBundleExecutable is; a key is matched whole, never as the start of a
// longer one.
TEST(PropertyListString, FindsAnyKeyWhole) {
    const std::string plist =
        "<dict><key>CFBundleVersionString</key><string>wrong</string>"
        "<key>CFBundleShortVersionString</key>\n  <string> 2.4.1 </string>"
        "<key>CFBundleVersion</key><string>241</string><key>Empty</key><string></string></dict>";
    EXPECT_EQ(property_list_string(plist, "CFBundleShortVersionString"), "2.4.1");
    EXPECT_EQ(property_list_string(plist, "CFBundleVersion"), "241");
    EXPECT_EQ(property_list_string(plist, "Empty"), "");
    EXPECT_EQ(property_list_string(plist, "CFBundleIdentifier"), std::nullopt);
    EXPECT_EQ(property_list_string(plist, "CFBundle"), std::nullopt);
}

struct PlistCase {
    const char* name;
    std::string text;
    std::optional<std::string> executable;
};

class PlistSearch : public testing::TestWithParam<PlistCase> {};

TEST_P(PlistSearch, ExecutableName) {
    EXPECT_EQ(bundle_executable_name(GetParam().text), GetParam().executable);
}

const std::string KEY = "<key>CFBundleExecutable</key>";

INSTANTIATE_TEST_SUITE_P(
    Texts, PlistSearch,
    testing::Values(
        PlistCase{"xml_plist", test::xml_info_plist("Ondrake Download"), "Ondrake Download"},
        PlistCase{"value_on_its_own_line", KEY + "\n\t<string>\n\t\tOndrake\r\n\t</string>", "Ondrake"},
        PlistCase{"unicode_white_space_trimmed", KEY + "<string>\xC2\xA0Ondrake\xE3\x80\x80</string>",
                  "Ondrake"},
        PlistCase{"text_before_string_skipped", KEY + "<!-- main --><integer>1</integer><string>O</string>",
                  "O"},
        PlistCase{"first_of_two_keys", KEY + "<string>First</string>" + KEY + "<string>Second</string>",
                  "First"},
        PlistCase{"value_only_after_second_key", KEY + "<array/>" + KEY + "<string>Second</string>",
                  std::nullopt},
        PlistCase{"close_only_after_second_key", KEY + "<string>First" + KEY + "</string>", std::nullopt},
        PlistCase{"no_key", "<key>CFBundleName</key><string>Ondrake</string>", std::nullopt},
        PlistCase{"key_in_other_case", "<key>cfbundleexecutable</key><string>Ondrake</string>", std::nullopt},
        PlistCase{"no_closing_tag", KEY + "<string>Ondrake", std::nullopt},
        PlistCase{"empty_value", KEY + "<string></string>", std::nullopt},
        PlistCase{"blank_value", KEY + "<string> \n\t </string>", std::nullopt},
        PlistCase{"value_with_slash", KEY + "<string>../MacOS/Ondrake</string>", std::nullopt},
        PlistCase{"value_with_nul", KEY + "<string>Ond" + std::string(1, '\0') + "rake</string>",
                  std::nullopt}),
    [](const auto& param_info) { return param_info.param.name; });

class InstalledPathsFor : public testing::Test {
protected:
    TempDir temp;
};

TEST_F(InstalledPathsFor, HostFindsTheMainExecutableThroughInfoPlist) {
    FakeBundle bundle(temp.path(), "Ondrake", "Ondrake Download");
    auto paths = installed_paths_for(bundle.host);
    ASSERT_TRUE(paths.has_value()) << registration::message(paths.error());
    EXPECT_EQ(paths->host, bundle.host);
    EXPECT_EQ(paths->app, bundle.app);
}

TEST_F(InstalledPathsFor, MainExecutableBesideTheHostNeedsNoInfoPlist) {
    FakeBundle bundle(temp.path(), "Ondrake", "Ondrake");
    fs::remove(bundle.bundle / "Contents/Info.plist");
    fs::path other = bundle.macos / "Helper";
    write_file(other, "x");
    auto paths = installed_paths_for(other);
    ASSERT_TRUE(paths.has_value()) << registration::message(paths.error());
    EXPECT_EQ(paths->host, bundle.host);
    EXPECT_EQ(paths->app, other);
}

TEST_F(InstalledPathsFor, DirectoryNameBelowContentsIsNotChecked) {
    fs::path dir = temp.path() / "O.app/Contents/Tools";
    write_file(temp.path() / "O.app/Contents/Info.plist", test::xml_info_plist("Main"));
    write_file(dir / "Main", "x");
    write_file(dir / "ondrake-native-host", "x");
    auto paths = installed_paths_for(dir / "ondrake-native-host");
    ASSERT_TRUE(paths.has_value()) << registration::message(paths.error());
    EXPECT_EQ(paths->app, dir / "Main");
    EXPECT_EQ(paths->location(), InstallLocation::Elsewhere);
}

struct BrokenBundleCase {
    const char* name;
    void (*break_bundle)(const FakeBundle&);
    RegistrationError expected;
    const char* executable = "Contents/MacOS/ondrake-native-host";  // below the bundle
};

class BrokenBundle : public testing::TestWithParam<BrokenBundleCase> {};

TEST_P(BrokenBundle, IsRefused) {
    TempDir temp;
    FakeBundle bundle(temp.path(), "Ondrake", "Ondrake");
    GetParam().break_bundle(bundle);
    auto paths = installed_paths_for(bundle.bundle / GetParam().executable);
    ASSERT_FALSE(paths.has_value());
    EXPECT_EQ(paths.error(), GetParam().expected);
}

// {CFBundleExecutable: "Ondrake"} in the binary property-list form.
constexpr char BINARY_PLIST[] =
    "bplist00\xD1\x01\x02_\x10\x12"
    "CFBundleExecutable"
    "WOndrake\x08\x0B\x00\x00";

void rewrite_plist(const FakeBundle& bundle, const std::string& text) {
    write_file(bundle.bundle / "Contents/Info.plist", text);
}

INSTANTIATE_TEST_SUITE_P(
    Bundles, BrokenBundle,
    testing::Values(
        BrokenBundleCase{"host_missing", [](const FakeBundle& b) { fs::remove(b.host); },
                         RegistrationError::MissingExecutable},
        BrokenBundleCase{"host_is_a_directory",
                         [](const FakeBundle& b) {
                             fs::remove(b.host);
                             fs::create_directory(b.host);
                         },
                         RegistrationError::MissingExecutable},
        BrokenBundleCase{
            "contents_in_lower_case",
            [](const FakeBundle& b) { fs::rename(b.bundle / "Contents", b.bundle / "contents"); },
            RegistrationError::UnidentifiedApplication, "contents/MacOS/ondrake-native-host"},
        BrokenBundleCase{"info_plist_missing",
                         [](const FakeBundle& b) { fs::remove(b.bundle / "Contents/Info.plist"); },
                         RegistrationError::UnidentifiedApplication},
        BrokenBundleCase{
            "binary_info_plist",
            [](const FakeBundle& b) { rewrite_plist(b, std::string(BINARY_PLIST, sizeof BINARY_PLIST - 1)); },
            RegistrationError::UnidentifiedApplication},
        BrokenBundleCase{"main_executable_missing", [](const FakeBundle& b) { fs::remove(b.app); },
                         RegistrationError::UnidentifiedApplication},
        BrokenBundleCase{"main_executable_is_a_directory",
                         [](const FakeBundle& b) {
                             fs::remove(b.app);
                             fs::create_directory(b.app);
                         },
                         RegistrationError::UnidentifiedApplication},
        BrokenBundleCase{"value_with_slash",
                         [](const FakeBundle& b) { rewrite_plist(b, test::xml_info_plist("MacOS/Ondrake")); },
                         RegistrationError::UnidentifiedApplication},
        BrokenBundleCase{"value_blank",
                         [](const FakeBundle& b) { rewrite_plist(b, test::xml_info_plist(" \n ")); },
                         RegistrationError::UnidentifiedApplication}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(InstalledPathsForPath, NoParentDirectory) {
    EXPECT_EQ(installed_paths_for("/").error(), RegistrationError::MissingExecutable);
    EXPECT_EQ(installed_paths_for("ondrake-native-host").error(), RegistrationError::MissingExecutable);
}

TEST(InstalledPathsAt, UnknownExecutable) {
    EXPECT_EQ(installed_paths_at(std::nullopt).error(), RegistrationError::MissingExecutable);
}

TEST(InstalledPathsAt, LinkedHostIsIdentifiedByItsTarget) {
    TempDir temp;
    FakeBundle bundle(temp.path(), "Ondrake", "Ondrake");
    fs::path link = temp.path() / "ondrake-native-host";
    fs::create_symlink(bundle.host, link);
    auto paths = installed_paths_at(link.string());
    ASSERT_TRUE(paths.has_value()) << registration::message(paths.error());
    EXPECT_EQ(paths->host, bundle.host);
    EXPECT_EQ(paths->app, bundle.app);
}

TEST(InstalledPathsAt, UnresolvablePathIsUsedAsReported) {
    TempDir temp;
    FakeBundle bundle(temp.path(), "Ondrake", "Ondrake");
    fs::path gone = bundle.macos / "Deleted Main";
    auto paths = installed_paths_at(gone.string());
    ASSERT_TRUE(paths.has_value()) << registration::message(paths.error());
    EXPECT_EQ(paths->host, bundle.host);
    EXPECT_EQ(paths->app, gone);
}

}  // namespace
}  // namespace ondrake::install_location
