#include "browser-native-host/installation/registration.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ondrake::registration {
namespace {

constexpr std::string_view HOST = "/Applications/Ondrake Download.app/Contents/MacOS/ondrake-native-host";

TEST(ManifestJson, ChromiumManifestBytes) {
    auto manifest = manifest_json_for(false, false, HOST);
    ASSERT_TRUE(manifest.has_value());
    EXPECT_EQ((*manifest),
              "{\n"
              "  \"name\": \"com.ondrake.download\",\n"
              "  \"description\": \"Ondrake Download native messaging host\",\n"
              "  \"path\": \"/Applications/Ondrake Download.app/Contents/MacOS/ondrake-native-host\",\n"
              "  \"type\": \"stdio\",\n"
              "  \"allowed_origins\": [\n"
              "    \"chrome-extension://kfmhaobnpdcjiegllamnbocfhkpjdgie/\"\n"
              "  ]\n"
              "}");
    // Development trust is a Firefox matter only.
    EXPECT_EQ(*manifest_json_for(false, true, HOST), (*manifest));
}

TEST(ManifestJson, FirefoxDevelopmentManifestBytes) {
    auto manifest = manifest_json_for(true, true, HOST);
    ASSERT_TRUE(manifest.has_value());
    EXPECT_EQ((*manifest),
              "{\n"
              "  \"name\": \"com.ondrake.download\",\n"
              "  \"description\": \"Ondrake Download native messaging host\",\n"
              "  \"path\": \"/Applications/Ondrake Download.app/Contents/MacOS/ondrake-native-host\",\n"
              "  \"type\": \"stdio\",\n"
              "  \"allowed_extensions\": [\n"
              "    \"browser-bridge@ondrake.download\",\n"
              "    \"browser-bridge-dev@ondrake.download\"\n"
              "  ]\n"
              "}");
}

TEST(ManifestJson, FirefoxProductionAdmitsOnlyTheAddon) {
    auto manifest = manifest_json_for(true, false, HOST);
    ASSERT_TRUE(manifest.has_value());
    const std::string tail =
        "  \"allowed_extensions\": [\n"
        "    \"browser-bridge@ondrake.download\"\n"
        "  ]\n"
        "}";
    ASSERT_GE((*manifest).size(), tail.size());
    EXPECT_EQ((*manifest).substr((*manifest).size() - tail.size()), tail);
    EXPECT_EQ((*manifest).find("allowed_origins"), std::string::npos);
}

struct EscapeCase {
    const char* name;
    std::string host_path;
    std::string expected_path_line;
};

class ManifestEscaping : public testing::TestWithParam<EscapeCase> {};

TEST_P(ManifestEscaping, PathLine) {
    auto manifest = manifest_json_for(false, false, GetParam().host_path);
    ASSERT_TRUE(manifest.has_value());
    // The path is the fourth line.
    std::size_t start = 0;
    for (int line = 0; line < 3; ++line) start = (*manifest).find('\n', start) + 1;
    std::size_t end = (*manifest).find('\n', start);
    EXPECT_EQ((*manifest).substr(start, end - start), GetParam().expected_path_line);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, ManifestEscaping,
    testing::Values(
        EscapeCase{"quote_and_backslash", "/Apps/a\"b\\c/host", R"(  "path": "/Apps/a\"b\\c/host",)"},
        EscapeCase{"short_control_escapes", "/x\b\t\n\f\r/host", R"(  "path": "/x\b\t\n\f\r/host",)"},
        EscapeCase{"other_controls_as_lower_hex", std::string("/x\x01\x1f", 4) + std::string(1, '\0') + "/h",
                   R"(  "path": "/x\u0001\u001f\u0000/h",)"},
        EscapeCase{"delete_and_slash_unescaped", "/x\x7f/h", "  \"path\": \"/x\x7f/h\","},
        EscapeCase{"non_ascii_unescaped", "/Programme/\xC3\xBC\xE2\x80\xA8/h",
                   "  \"path\": \"/Programme/\xC3\xBC\xE2\x80\xA8/h\","}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(ManifestJson, RefusesUnusableHostPaths) {
    EXPECT_EQ(manifest_json_for(false, false, "").error(), RegistrationError::RelativeExecutable);
    EXPECT_EQ(manifest_json_for(true, false, "bin/ondrake-native-host").error(),
              RegistrationError::RelativeExecutable);
    EXPECT_EQ(manifest_json_for(false, false, "/Apps/\xFF/host").error(), RegistrationError::ManifestWrite);
}

TEST(FirefoxTrust, LinesPerMode) {
    EXPECT_EQ(firefox_trust_lines(false),
              std::vector<std::string>{"firefox trust = browser-bridge@ondrake.download"});
    EXPECT_EQ(firefox_trust_lines(true),
              (std::vector<std::string>{
                  "firefox trust = browser-bridge@ondrake.download, browser-bridge-dev@ondrake.download",
                  "DEVELOPMENT registration. Run `register` to restore production trust."}));
    EXPECT_NE(FIREFOX_ADDON_ID, FIREFOX_DEV_ADDON_ID);
}

TEST(Browsers, OrderNamesAndDirectories) {
    struct Row {
        std::string_view name;
        std::optional<std::string_view> subdirectory;
    };
    const std::vector<Row> expected = {
        {"chrome", "Google/Chrome"}, {"edge", "Microsoft Edge"},
        {"firefox", "Mozilla"},      {"brave", "BraveSoftware/Brave-Browser"},
        {"chromium", "Chromium"},    {"opera", "Google/Chrome"},
        {"vivaldi", std::nullopt},
    };
    ASSERT_EQ(ALL_BROWSERS.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(display_name(ALL_BROWSERS[i]), expected[i].name);
        EXPECT_EQ(application_support_subdirectory(ALL_BROWSERS[i]), expected[i].subdirectory);
        EXPECT_EQ(is_firefox(ALL_BROWSERS[i]), expected[i].name == "firefox");
    }
}

TEST(Registration, OutcomeNamesAndErrorMessages) {
    const std::vector<std::pair<ManifestOutcome, std::string_view>> outcomes = {
        {ManifestOutcome::Written, "Written"},
        {ManifestOutcome::AlreadyCurrent, "AlreadyCurrent"},
        {ManifestOutcome::Repaired, "Repaired"},
        {ManifestOutcome::SharesDestination, "SharesDestination"},
        {ManifestOutcome::Unavailable, "Unavailable"},
    };
    for (const auto& [outcome, text] : outcomes) EXPECT_EQ(name(outcome), text);

    const std::vector<std::pair<RegistrationError, std::string_view>> errors = {
        {RegistrationError::RelativeExecutable, "the executable path must be absolute"},
        {RegistrationError::NotCanonical, "the application is not installed in its canonical location"},
        {RegistrationError::MissingExecutable, "the executable does not exist"},
        {RegistrationError::NoUserDirectory, "no per-user directory is available"},
        {RegistrationError::UnidentifiedApplication,
         "the application could not be identified from the host's location"},
        {RegistrationError::ManifestWrite, "the native messaging manifest could not be written"},
        {RegistrationError::BrowserRegistration, "the browser registration could not be written"},
    };
    for (const auto& [error, text] : errors) EXPECT_EQ(message(error), text);
    EXPECT_EQ(manifest_file_name(), "com.ondrake.download.json");
}

}  // namespace
}  // namespace ondrake::registration
