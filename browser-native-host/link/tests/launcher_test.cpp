#include "browser-native-host/link/launcher.hpp"

#include "browser-native-host/tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <map>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ondrake::launcher {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;
using test::TempDir;

constexpr const char* LOCATE_FAILED = "stage=app_locate kind=NotFound os_error=none";
constexpr const char* SPAWN_STARTING = "stage=app_spawn in_job=n/a breakaway_ok=n/a silent_breakaway_ok=n/a";

// A stand-in application: it writes what it was started with into `record` beside itself and
// exits. Writing goes through a temporary file so that a reader never sees half a record.
std::string recording_script(const std::string& out_dir) {
    return "#!/bin/sh\n"
           "out='" +
           out_dir +
           "'\n"
           "stdin=other; stdout=other; stderr=other\n"
           "if [ /dev/stdin -ef /dev/null ]; then stdin=null; fi\n"
           "if [ /dev/stdout -ef /dev/null ]; then stdout=null; fi\n"
           "if [ /dev/stderr -ef /dev/null ]; then stderr=null; fi\n"
           "sockets=''\n"
           "n=3\n"
           "while [ $n -lt 64 ]; do\n"
           "  if [ -S /dev/fd/$n ]; then sockets=\"$sockets $n\"; fi\n"
           "  n=$((n+1))\n"
           "done\n"
           "sh -c 'kill -PIPE $$'\n"
           "sigpipe=$?\n"
           "{\n"
           "  echo \"pid=$$\"\n"
           "  echo \"argc=$#\"\n"
           "  echo \"program=$0\"\n"
           "  echo \"stdin=$stdin\"\n"
           "  echo \"stdout=$stdout\"\n"
           "  echo \"stderr=$stderr\"\n"
           "  echo \"sockets=$sockets\"\n"
           "  echo \"cwd=$(pwd)\"\n"
           "  echo \"mark=$ONDRAKE_TEST_MARK\"\n"
           "  echo \"sigpipe_status=$sigpipe\"\n"
           "} > \"$out/record.tmp\"\n"
           "mv \"$out/record.tmp\" \"$out/record\"\n";
}

std::map<std::string, std::string> parse_record(const std::string& text) {
    std::map<std::string, std::string> fields;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (auto eq = line.find('='); eq != std::string::npos) {
            fields[line.substr(0, eq)] = line.substr(eq + 1);
        }
        at = end + 1;
    }
    return fields;
}

void write_executable(const std::string& path, const std::string& content, mode_t mode = 0755) {
    test::write_file(path, content);
    ::chmod(path.c_str(), mode);
}

// Every test runs with a HOME of its own and no override, whatever the developer's shell has.
class LauncherTest : public testing::Test {
protected:
    LauncherTest()
        : home_env_("HOME", dir_ / "home"),
          override_env_("ONDRAKE_DOWNLOAD_EXE", std::nullopt),
          app_(dir_ / "app.sh") {
        fs::create_directories(state_dir());
        write_executable(app_, recording_script(dir_.path().string()));
    }

    fs::path state_dir() const { return dir_.path() / "home/Library/Application Support/OndrakeDownload"; }
    void write_record(const std::string& content) { test::write_file(state_dir() / "app-path", content); }
    std::string record_path() const { return dir_ / "record"; }

    std::map<std::string, std::string> wait_for_record() {
        std::optional<std::string> text;
        bool arrived = test::wait_until([&] { return (text = test::read_file(record_path())).has_value(); });
        EXPECT_TRUE(arrived) << "the application never ran";
        return text ? parse_record(*text) : std::map<std::string, std::string>{};
    }

    bool launch() {
        ProcessLauncher launcher(diagnostics_);
        return launcher.launch();
    }

    TempDir dir_;
    ScopedEnv home_env_;
    ScopedEnv override_env_;
    std::string app_;
    CapturedDiagnostics diagnostics_;
};

TEST_F(LauncherTest, OverrideStartsTheApplicationWithNullStreamsAndNoArguments) {
    ScopedEnv override_path("ONDRAKE_DOWNLOAD_EXE", app_);
    ScopedEnv mark("ONDRAKE_TEST_MARK", "inherited-42");
    // The host ignores SIGPIPE; the application must start with the default action regardless.
    auto previous_sigpipe = std::signal(SIGPIPE, SIG_IGN);
    // A socket left without close-on-exec must still not reach the application.
    int leaked[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, leaked), 0);
    auto cwd = fs::current_path();
    fs::current_path(dir_.path());

    bool started = launch();

    fs::current_path(cwd);
    std::signal(SIGPIPE, previous_sigpipe);
    ASSERT_TRUE(started);
    EXPECT_EQ(diagnostics_.lines, std::vector<std::string>{SPAWN_STARTING});
    auto record = wait_for_record();
    ::close(leaked[0]);
    ::close(leaked[1]);
    EXPECT_EQ(record["argc"], "0");
    EXPECT_EQ(record["program"], app_);
    EXPECT_EQ(record["stdin"], "null");
    EXPECT_EQ(record["stdout"], "null");
    EXPECT_EQ(record["stderr"], "null");
    EXPECT_EQ(record["sockets"], "");
    EXPECT_EQ(fs::path(record["cwd"]), dir_.path());
    EXPECT_EQ(record["mark"], "inherited-42");
    EXPECT_EQ(record["sigpipe_status"], std::to_string(128 + SIGPIPE));
}

TEST_F(LauncherTest, EmptyOverrideBeatsAValidRecord) {
    write_record(app_);
    ScopedEnv override_path("ONDRAKE_DOWNLOAD_EXE", "");
    EXPECT_FALSE(launch());
    EXPECT_EQ(diagnostics_.lines, std::vector<std::string>{LOCATE_FAILED});
    EXPECT_FALSE(fs::exists(record_path()));
}

TEST_F(LauncherTest, OverrideIsNotTrimmed) {
    ScopedEnv override_path("ONDRAKE_DOWNLOAD_EXE", " " + app_);
    EXPECT_FALSE(launch());
    EXPECT_EQ(diagnostics_.lines, std::vector<std::string>{LOCATE_FAILED});
}

TEST_F(LauncherTest, OverrideIsTakenAsRawBytes) {
    std::string odd_name = dir_ / "app-\xFF.sh";
    fs::rename(app_, odd_name);
    ScopedEnv override_path("ONDRAKE_DOWNLOAD_EXE", odd_name);
    EXPECT_TRUE(launch());
    EXPECT_EQ(wait_for_record()["program"], odd_name);
}

TEST_F(LauncherTest, RecordIsTrimmedOfUnicodeWhiteSpace) {
    // U+3000 IDEOGRAPHIC SPACE and U+00A0 NO-BREAK SPACE count as white space too.
    write_record("\xE3\x80\x80 \t" + app_ + "\n  \xC2\xA0\r\n");
    EXPECT_TRUE(launch());
    EXPECT_EQ(diagnostics_.lines, std::vector<std::string>{SPAWN_STARTING});
    EXPECT_EQ(wait_for_record()["program"], app_);
}

TEST_F(LauncherTest, RecordReachedThroughSymbolicLink) {
    fs::create_symlink(app_, dir_ / "link");
    write_record(dir_ / "link");
    EXPECT_TRUE(launch());
    wait_for_record();
}

struct UnusableCase {
    const char* name;
    // Record content, given the temporary directory and the working application script.
    std::string (*record)(const TempDir& dir, const std::string& app);
};

class UnusableRecord : public LauncherTest, public testing::WithParamInterface<UnusableCase> {};

TEST_P(UnusableRecord, GivesTheLocateLine) {
    write_record(GetParam().record(dir_, app_));
    EXPECT_FALSE(launch());
    EXPECT_EQ(diagnostics_.lines, std::vector<std::string>{LOCATE_FAILED});
    EXPECT_FALSE(fs::exists(record_path()));
}

INSTANTIATE_TEST_SUITE_P(
    Records, UnusableRecord,
    testing::Values(
        UnusableCase{"relative", [](const TempDir&, const std::string&) { return std::string("app.sh"); }},
        UnusableCase{"directory", [](const TempDir& d, const std::string&) { return d.path().string(); }},
        UnusableCase{"missing", [](const TempDir& d, const std::string&) { return d / "nothing"; }},
        UnusableCase{"dangling_link",
                     [](const TempDir& d, const std::string&) {
                         fs::create_symlink(d / "nothing", d / "dangling");
                         return d / "dangling";
                     }},
        UnusableCase{"empty", [](const TempDir&, const std::string&) { return std::string(); }},
        UnusableCase{"only_white_space",
                     [](const TempDir&, const std::string&) { return std::string(" \n\t"); }},
        UnusableCase{"not_utf8", [](const TempDir&, const std::string& app) { return app + "\xFF"; }},
        UnusableCase{
            "zero_byte_inside",
            [](const TempDir&, const std::string& app) { return app + std::string(1, '\0') + "x"; }}),
    [](const auto& param_info) { return param_info.param.name; });

TEST_F(LauncherTest, NoRecordAndNoOverride) {
    EXPECT_FALSE(launch());
    EXPECT_EQ(diagnostics_.lines, std::vector<std::string>{LOCATE_FAILED});
}

TEST_F(LauncherTest, HomeUnsetLeavesOnlyTheOverride) {
    write_record(app_);
    {
        ScopedEnv no_home("HOME", std::nullopt);
        EXPECT_FALSE(launch());
        EXPECT_EQ(diagnostics_.lines, std::vector<std::string>{LOCATE_FAILED});
        ScopedEnv override_path("ONDRAKE_DOWNLOAD_EXE", app_);
        EXPECT_TRUE(launch());
    }
    wait_for_record();
}

TEST_F(LauncherTest, FileWithoutExecutePermissionIsPermissionDenied) {
    ::chmod(app_.c_str(), 0644);
    write_record(app_);
    EXPECT_FALSE(launch());
    EXPECT_EQ(diagnostics_.lines, (std::vector<std::string>{
                                      SPAWN_STARTING, "stage=app_spawn kind=PermissionDenied os_error=13"}));
}

TEST_F(LauncherTest, FileThatIsNoProgramIsUncategorizedWithTheLocalNumber) {
    write_executable(app_, "this is not a program\n");
    write_record(app_);
    EXPECT_FALSE(launch());
    EXPECT_EQ(diagnostics_.lines,
              (std::vector<std::string>{
                  SPAWN_STARTING, "stage=app_spawn kind=Uncategorized os_error=" + std::to_string(ENOEXEC)}));
}

TEST_F(LauncherTest, LaunchedApplicationIsNeverOurChild) {
    ScopedEnv override_path("ONDRAKE_DOWNLOAD_EXE", app_);
    ASSERT_TRUE(launch());
    // The intermediate process has been collected already, and the application is not ours.
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);

    auto record = wait_for_record();
    pid_t application = static_cast<pid_t>(std::stol(record["pid"]));
    // Once the application has exited, nothing of it may be left waiting for us.
    test::wait_until([&] {
        std::string stat_line =
            test::read_file("/proc/" + std::to_string(application) + "/stat").value_or("");
        return ::kill(application, 0) != 0 || stat_line.find(") Z ") != std::string::npos;
    });
    errno = 0;
    EXPECT_EQ(::waitpid(application, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(LauncherTest, EveryLaunchRepeatsTheLookup) {
    EXPECT_FALSE(launch());
    write_record(app_);
    EXPECT_TRUE(launch());
    EXPECT_EQ(diagnostics_.lines, (std::vector<std::string>{LOCATE_FAILED, SPAWN_STARTING}));
    wait_for_record();
}

struct KindCase {
    int error_number;
    const char* kind;
};

TEST(ErrorKindName, MapsBySymbolicConstant) {
    const KindCase cases[] = {
        {EPERM, "PermissionDenied"},
        {EACCES, "PermissionDenied"},
        {ENOENT, "NotFound"},
        {EAGAIN, "WouldBlock"},
        {EWOULDBLOCK, "WouldBlock"},
        {EDEADLK, "Deadlock"},
        {ENFILE, "TooManyOpenFiles"},
        {EMFILE, "TooManyOpenFiles"},
        {ENAMETOOLONG, "InvalidFilename"},
        {ENOSYS, "Unsupported"},
        {EOPNOTSUPP, "Unsupported"},
        {ETXTBSY, "ExecutableFileBusy"},
        {ESTALE, "StaleNetworkFileHandle"},
        {EDQUOT, "QuotaExceeded"},
        {ECONNREFUSED, "ConnectionRefused"},
        {ENOEXEC, "Uncategorized"},
        {ECHILD, "Uncategorized"},
        {0, "Uncategorized"},
        {-1, "Uncategorized"},
        {100000, "Uncategorized"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error_number);
        EXPECT_EQ(error_kind_name(c.error_number), c.kind);
    }
}

TEST_F(LauncherTest, CandidateComesFromOverrideBeforeRecord) {
    write_record("  /from/record\n");
    EXPECT_EQ(application_candidate(), "/from/record");
    ScopedEnv override_path("ONDRAKE_DOWNLOAD_EXE", "/from/override ");
    EXPECT_EQ(application_candidate(), "/from/override ");
}

TEST_F(LauncherTest, RecordedApplicationIgnoresTheOverride) {
    ScopedEnv override_path("ONDRAKE_DOWNLOAD_EXE", "/from/override");
    EXPECT_EQ(recorded_application(), std::nullopt);
    write_record("\t/from/record \n");
    EXPECT_EQ(recorded_application(), "/from/record");
    write_record("/from/\xFFrecord");
    EXPECT_EQ(recorded_application(), std::nullopt);
}

TEST_F(LauncherTest, UsableCandidateIsAnAbsoluteRegularFile) {
    fs::create_directories(dir_.path() / "a-directory");
    fs::create_symlink(app_, dir_.path() / "link-to-app");
    fs::create_symlink(dir_.path() / "gone", dir_.path() / "dangling");
    struct Case {
        std::string candidate;
        bool usable;
    };
    const Case cases[] = {
        {app_, true},
        {dir_ / "link-to-app", true},
        {"", false},
        {fs::relative(app_, "/").string(), false},
        {dir_ / "a-directory", false},
        {dir_ / "dangling", false},
        {dir_ / "missing", false},
        {app_ + std::string(1, '\0') + "x", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.candidate);
        EXPECT_EQ(is_usable_candidate(c.candidate), c.usable);
    }
}

}  // namespace
}  // namespace ondrake::launcher
