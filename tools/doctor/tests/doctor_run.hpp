// Running the built ondrake-doctor as its own process, with a chosen environment, and reading its
// JSON document.
#pragma once

#include "browser-native-host/tests/support/program_run.hpp"

#include "tools/doctor/report.hpp"
#include "tools/doctor/tests/doctor_fixture.hpp"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <optional>
#include <string>
#include <vector>

namespace ondrake::doctor::testing_setup {

namespace fs = std::filesystem;
namespace json = boost::json;

inline const std::filesystem::path BUILT_DOCTOR = std::filesystem::path(ONDRAKE_BIN_DIR) / "ondrake-doctor";
inline const std::filesystem::path BUILT_HOST =
    std::filesystem::path(ONDRAKE_BIN_DIR) / "ondrake-native-host";
inline const std::string APP_PEER = std::string(ONDRAKE_BIN_DIR) + "/app-peer";

using DoctorRun = test::ProgramRun;

// Runs `program` with `arguments`, HOME as given (none: unset) and no ONDRAKE_DOWNLOAD_EXE.
inline DoctorRun run_doctor(const std::vector<std::string>& arguments,
                            const std::optional<std::filesystem::path>& home,
                            const std::filesystem::path& program = BUILT_DOCTOR) {
    test::ProgramOptions options;
    options.arguments = arguments;
    options.environment = {{"HOME", home ? std::optional<std::string>(home->string()) : std::nullopt},
                           {"ONDRAKE_DOWNLOAD_EXE", std::nullopt}};
    return test::run_program(program.string(), options);
}

inline boost::json::object json_of(const DoctorRun& run) {
    std::error_code error;
    boost::json::value document = boost::json::parse(run.out, error);
    EXPECT_FALSE(error) << run.out;
    return document.is_object() ? document.get_object() : boost::json::object();
}

inline std::vector<std::string> problem_keys(boost::json::object& document) {
    std::vector<std::string> keys;
    for (const boost::json::value& problem : document["problems"].as_array()) {
        keys.emplace_back(problem.as_object().at("problem").as_string());
    }
    return keys;
}

// A process that exists and has not merely ended uncollected.
inline bool running(pid_t pid) {
    if (pid <= 0 || ::kill(pid, 0) != 0) return false;
    std::string command = "ps -o stat= -p " + std::to_string(pid);
    std::FILE* ps = ::popen(command.c_str(), "r");
    char state = 'Z';
    if (ps != nullptr) {
        if (std::fscanf(ps, " %c", &state) != 1) state = 'Z';
        ::pclose(ps);
    }
    return state != 'Z';
}

inline std::optional<pid_t> pid_in(const fs::path& file) {
    auto text = test::read_file(file);
    if (!text || text->empty()) return std::nullopt;
    return static_cast<pid_t>(std::stol(*text));
}

// The application as the host starts it: a script, named by the record, that starts app-peer in
// the background with `peer_arguments` and notes its process id. Stopped again at the end.
class RecordedApplication {
public:
    RecordedApplication(const UserSetUp& setup, const std::vector<std::string>& peer_arguments)
        : pid_file_(setup.root / "application.pid"), log_(setup.root / "application.log") {
        std::string command = shell_quoted(APP_PEER) + " --socket " + shell_quoted(setup.endpoint());
        for (const std::string& argument : peer_arguments) command += " " + shell_quoted(argument);
        command += " --log " + shell_quoted(log_.string());
        fs::path script = setup.root / "application.sh";
        write_file(script,
                   "#!/bin/sh\n" + command + " </dev/null >/dev/null 2>&1 &\necho $! >" +
                       shell_quoted(pid_file_.string()) + "\n",
                   0755);
        write_file(setup.record(), script.string());
    }
    RecordedApplication(const RecordedApplication&) = delete;
    ~RecordedApplication() { stop(); }

    // Ends the application the host started; it is not our child, so its end is watched for.
    void stop() {
        auto pid = pid_in(pid_file_);
        if (!pid) return;
        ::kill(*pid, SIGTERM);
        if (!test::wait_until([&] { return !running(*pid); }, std::chrono::seconds(10)))
            ::kill(*pid, SIGKILL);
        fs::remove(pid_file_);
    }

    // What the application received: one JSON text per connection.
    std::vector<json::object> received() const {
        std::vector<json::object> lines;
        std::istringstream in(test::read_file(log_).value_or(""));
        for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line).as_object());
        return lines;
    }

private:
    fs::path pid_file_;
    fs::path log_;
};

}  // namespace ondrake::doctor::testing_setup
