// Running the built ondrake-doctor as its own process, with a chosen environment, and reading its
// JSON document.
#pragma once

#include "browser-native-host/tests/support/program_run.hpp"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ondrake::doctor::testing_setup {

inline const std::filesystem::path BUILT_DOCTOR = std::filesystem::path(ONDRAKE_BIN_DIR) / "ondrake-doctor";
inline const std::filesystem::path BUILT_HOST = std::filesystem::path(ONDRAKE_BIN_DIR) / "ondrake-native-host";
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

}  // namespace ondrake::doctor::testing_setup
