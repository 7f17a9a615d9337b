// The doctor's command line.
#pragma once

#include "browser-native-host/installation/registration.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ondrake::doctor {

inline constexpr int EXIT_HEALTHY = 0;
inline constexpr int EXIT_PROBLEMS = 1;
inline constexpr int EXIT_USAGE = 2;
inline constexpr int EXIT_FAILED = 3;

struct Options {
    std::optional<std::filesystem::path> host;
    bool json = false;
    bool round_trip = false;
    std::optional<registration::SupportedBrowser> round_trip_browser;  // none: every browser
    std::optional<std::filesystem::path> report_file;
};

struct ShowHelp {};

struct UsageError {
    std::string message;
};

using ParsedArguments = std::variant<Options, ShowHelp, UsageError>;

// `arguments` without the program name. --help wins over everything else.
ParsedArguments parse_arguments(const std::vector<std::string_view>& arguments);

// The --help text, which documents the exit statuses and every key of the JSON document.
std::string_view usage();

}  // namespace ondrake::doctor
