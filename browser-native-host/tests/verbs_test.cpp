#include "browser-native-host/bin/verbs.hpp"

#include "browser-native-host/installation/registration.hpp"
#include "browser-native-host/tests/support/fake_bundle.hpp"
#include "browser-native-host/tests/support/program_run.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ondrake::verbs {
namespace {

namespace fs = std::filesystem;
using test::ApplicationsBundle;
using test::FakeBundle;
using test::host_log;
using test::read_file;
using test::TempDir;

struct LookupCase {
    const char* name;
    std::string argument;
    bool is_verb;
};

class FindVerb : public testing::TestWithParam<LookupCase> {};

TEST_P(FindVerb, ExactBytesOnly) {
    EXPECT_EQ(find_verb(GetParam().argument).has_value(), GetParam().is_verb);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, FindVerb,
    testing::Values(
        LookupCase{"register", "register", true},
        LookupCase{"register_development", "register-development", true},
        LookupCase{"unregister", "unregister", true}, LookupCase{"capital", "Register", false},
        LookupCase{"upper_case", "UNREGISTER", false}, LookupCase{"leading_dashes", "--register", false},
        LookupCase{"trailing_space", "register ", false}, LookupCase{"leading_space", " unregister", false},
        LookupCase{"trailing_line_feed", "register\n", false}, LookupCase{"prefix", "registe", false},
        LookupCase{"with_nul", std::string("register\0x", 10), false},
        LookupCase{"not_utf8", "register\xFF", false}, LookupCase{"empty", "", false},
        LookupCase{"extension_origin", "chrome-extension://kfmhaobnpdcjiegllamnbocfhkpjdgie/", false}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(FindVerb, EachVerbHasItsOwnOperation) {
    auto production = find_verb("register");
    auto development = find_verb("register-development");
    auto removal = find_verb("unregister");
    ASSERT_TRUE(production && development && removal);
    EXPECT_NE(*production, *development);
    EXPECT_NE(*production, *removal);
    EXPECT_NE(*development, *removal);
}

// The built host, run as its own process with a chosen HOME and the output captured.
using HostRun = test::ProgramRun;

const fs::path BUILT_HOST = fs::path(ONDRAKE_BIN_DIR) / "ondrake-native-host";

HostRun run_host(const fs::path& program, const std::vector<std::string>& arguments,
                 const std::optional<fs::path>& home, std::string input = {}) {
    test::ProgramOptions options;
    options.arguments = arguments;
    options.input = std::move(input);
    options.environment = {{"HOME", home ? std::optional<std::string>(home->string()) : std::nullopt}};
    return test::run_program(program.string(), options);
}

const std::string IDENTIFICATION_FAILURE =
    host_log({"the application could not be identified from the host's location",
              "this verb registers the host next to it inside a packaged application; run it from "
              "Contents/MacOS of a built .app"});

class HostProcess : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fs::is_regular_file(BUILT_HOST)) << BUILT_HOST; }
    bool home_is_empty() const { return fs::is_empty(home.path()); }

    TempDir home;
};

TEST_F(HostProcess, ArgumentsThatAreNotVerbsLeaveTheVerbPath) {
    const std::vector<std::vector<std::string>> argument_lists = {
        {},
        {"Register"},
        {"chrome-extension://kfmhaobnpdcjiegllamnbocfhkpjdgie/"},
        {"/Users/u/Library/Application Support/Mozilla/NativeMessagingHosts/com.ondrake.download.json",
         "browser-bridge@ondrake.download"},
    };
    // A session answers a message that is not JSON without logging it, and ends with its input.
    const std::string not_json = std::string("\x05\0\0\0", 4) + "hello";
    const std::string rejection =
        R"({"protocolVersion":1,"requestId":"","status":"rejected","code":"INVALID_MESSAGE"})";
    for (const auto& arguments : argument_lists) {
        SCOPED_TRACE(arguments.empty() ? "<none>" : arguments.front());
        HostRun run = run_host(BUILT_HOST, arguments, home.path(), not_json);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out,
                  std::string(1, static_cast<char>(rejection.size())) + std::string(3, '\0') + rejection);
        EXPECT_EQ(run.err, "");
    }
    EXPECT_TRUE(home_is_empty());
}

TEST_F(HostProcess, RegisterOutsideABundleIsRefusedWithTheHint) {
    for (const char* verb : {"register", "register-development"}) {
        SCOPED_TRACE(verb);
        HostRun run = run_host(BUILT_HOST, {verb, "ignored-extra-argument"}, home.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, IDENTIFICATION_FAILURE);
    }
    EXPECT_TRUE(home_is_empty());
}

TEST_F(HostProcess, UnregisterWithNothingRegisteredSucceedsSilently) {
    HostRun run = run_host(BUILT_HOST, {"unregister"}, home.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST_F(HostProcess, BundleOutsideApplicationsIsNotCanonical) {
    TempDir place;
    FakeBundle bundle(place.path(), "Ondrake", "Ondrake", BUILT_HOST);
    fs::path link = place.path() / "ondrake-native-host";
    fs::create_symlink(bundle.host, link);
    for (const fs::path& program : {bundle.host, link}) {
        SCOPED_TRACE(program);
        HostRun run = run_host(program, {"register"}, home.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, host_log({"the application is not installed in its canonical location"}));
    }
    EXPECT_TRUE(home_is_empty());
}

// Every entry below `root`, links not followed, with its owner: what a verb may not change.
std::vector<std::string> owned_entries(const fs::path& root) {
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat info {};
        EXPECT_EQ(::lstat(entry.path().c_str(), &info), 0) << entry.path();
        entries.push_back(fs::relative(entry.path(), root).string() + " uid " + std::to_string(info.st_uid));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// An installer running as root on a user's HOME: each verb leaves it as it was, nothing of root's
// appears in it, and the one line says why and what to run instead. (Root on its own HOME
// registers as anyone does: RegistrationCycleFromApplications runs so under root.)
TEST_F(HostProcess, HomeOfAnotherUserIsLeftAlone) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: only root can hand a HOME to another user";
    constexpr uid_t OWNER = 12345;
    ASSERT_EQ(::getpwuid(OWNER), nullptr) << "uid " << OWNER << " must belong to nobody here";
    ApplicationsBundle made(BUILT_HOST);
    ASSERT_NE(made.get(), nullptr) << "cannot create a bundle in /Applications";
    // The user's own registration, for unregister to find.
    fs::path manifest =
        home.path() /
        "Library/Application Support/Google/Chrome/NativeMessagingHosts/com.ondrake.download.json";
    test::write_file(manifest, "{}");
    for (fs::path path = manifest; path != home.path().parent_path(); path = path.parent_path()) {
        ASSERT_EQ(::lchown(path.c_str(), OWNER, OWNER), 0) << path;
    }
    const std::vector<std::string> before = owned_entries(home.path());
    for (std::string verb : {"register", "register-development", "unregister"}) {
        SCOPED_TRACE(verb);
        HostRun run = run_host(made.get()->host, {verb}, home.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err,
                  host_log({"HOME " + home.path().string() +
                            " belongs to uid 12345, not to root, who runs this: nothing was changed. "
                            "Run `" +
                            verb + "` as uid 12345 instead"}));
        EXPECT_EQ(owned_entries(home.path()), before);
    }
}

// A HOME that does not exist yet belongs to no other user: unregister finds nothing to remove
// there and succeeds, as it always has.
TEST_F(HostProcess, UnregisterOnAHomeThatDoesNotExistSucceeds) {
    ApplicationsBundle made(BUILT_HOST);
    ASSERT_NE(made.get(), nullptr) << "cannot create a bundle in /Applications";
    HostRun run = run_host(made.get()->host, {"unregister"}, home.path() / "not-made-yet");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(fs::exists(home.path() / "not-made-yet"));
}

// The full path of `program` as the shell would find it, or nothing.
std::optional<std::string> find_in_path(const std::string& program) {
    std::string_view path = std::getenv("PATH") ? std::getenv("PATH") : "";
    for (std::size_t end; !path.empty();
         path.remove_prefix(end == std::string_view::npos ? path.size() : end + 1)) {
        end = path.find(':');
        fs::path candidate = fs::path(path.substr(0, end)) / program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return std::nullopt;
}

// Every file registration writes reaches stable storage before its rename puts it in place, and
// its directory after: watched from outside, in the system calls of the real host.
TEST_F(HostProcess, EveryFileIsSyncedBeforeItsRename) {
#if defined(__APPLE__)
    GTEST_SKIP() << "macOS has no system-call observer short of disabling System Integrity Protection";
#else
    ApplicationsBundle made(BUILT_HOST);
    if (made.get() == nullptr) {
        GTEST_SKIP() << "cannot create a bundle in /Applications (needs the right to write there)";
    }
    auto strace = find_in_path("strace");
    ASSERT_TRUE(strace) << "strace is missing (scripts/install-deps.sh installs it)";
    TempDir scratch;
    std::string trace = scratch / "trace";
    test::ProgramOptions options;
    options.arguments = {"-f",
                         "-y",
                         "-qq",
                         "-e",
                         "signal=none",
                         "-e",
                         "trace=fsync,fdatasync,rename,renameat,renameat2",
                         "-o",
                         trace,
                         made.get()->host.string(),
                         "register"};
    // LeakSanitizer cannot work under a tracer.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    options.environment = {{"HOME", home.path().string()},
                           {"ASAN_OPTIONS", std::string(sanitizer ? sanitizer : "") + ":detect_leaks=0"}};
    HostRun run = test::run_program(*strace, options);
    ASSERT_EQ(run.status, 0) << run.err;

    const std::regex sync(R"re(\bf(?:data)?sync\(\d+<(.*)>\) += 0$)re");
    const std::regex rename(
        R"re(\brename(?:at2?)?\((?:AT_FDCWD, )?"([^"]+)", (?:AT_FDCWD, )?"([^"]+)".* = 0$)re");
    std::vector<std::string> synced;
    std::vector<std::string> renamed;  // destinations whose directory is still to be synced
    int renames = 0;
    std::istringstream lines(test::read_file(trace).value_or(""));
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_search(line, match, sync)) {
            synced.push_back(match[1]);
            std::erase_if(renamed, [&](const std::string& destination) {
                return fs::path(destination).parent_path() == fs::path(match[1].str());
            });
        } else if (std::regex_search(line, match, rename)) {
            ++renames;
            EXPECT_NE(std::find(synced.begin(), synced.end(), match[1].str()), synced.end())
                << match[1] << " was renamed before it was synced";
            renamed.push_back(match[2]);
        }
    }
    // Five manifests (Opera shares Chrome's) and the application-path record.
    EXPECT_EQ(renames, 6);
    EXPECT_EQ(renamed, std::vector<std::string>{}) << "directories not synced after the rename";
#endif
}

TEST_F(HostProcess, RegistrationCycleFromApplications) {
    ApplicationsBundle made(BUILT_HOST);
    if (made.get() == nullptr) {
        GTEST_SKIP() << "cannot create a bundle in /Applications (needs the right to write there)";
    }
    const FakeBundle& bundle = *made.get();
    fs::path support = home.path() / "Library/Application Support";
    fs::path chrome = support / "Google/Chrome/NativeMessagingHosts/com.ondrake.download.json";
    fs::path firefox = support / "Mozilla/NativeMessagingHosts/com.ondrake.download.json";
    fs::path record = support / "OndrakeDownload/app-path";

    HostRun run = run_host(bundle.host, {"register"}, home.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              host_log({"firefox trust = browser-bridge@ondrake.download", "chrome -> Written",
                        "edge -> Written", "firefox -> Written", "brave -> Written", "chromium -> Written",
                        "opera -> SharesDestination", "vivaldi -> Unavailable"}));
    EXPECT_EQ(read_file(chrome), *registration::manifest_json_for(false, false, bundle.host.string()));
    EXPECT_EQ(read_file(record), bundle.app.string());

    run = run_host(bundle.host, {"register-development"}, home.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(
        run.err,
        host_log({"firefox trust = browser-bridge@ondrake.download, browser-bridge-dev@ondrake.download",
                  "DEVELOPMENT registration. Run `register` to restore production trust.",
                  "chrome -> AlreadyCurrent", "edge -> AlreadyCurrent", "firefox -> Repaired",
                  "brave -> AlreadyCurrent", "chromium -> AlreadyCurrent", "opera -> SharesDestination",
                  "vivaldi -> Unavailable"}));
    EXPECT_EQ(read_file(firefox), *registration::manifest_json_for(true, true, bundle.host.string()));

    run = run_host(bundle.host, {"unregister"}, home.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, host_log({"removed chrome", "removed edge", "removed firefox", "removed brave",
                                 "removed chromium", "removed opera"}));
    EXPECT_FALSE(fs::exists(chrome));
    EXPECT_FALSE(fs::exists(firefox));
    EXPECT_FALSE(fs::exists(record));

    run = run_host(bundle.host, {"register"}, std::nullopt);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, host_log({"no per-user directory is available"}));
}

}  // namespace
}  // namespace ondrake::verbs
