// Where the per-user files of the bridge live, derived from HOME and nothing else.
// Nothing here touches the file system.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace ondrake::user_dirs {

// The application-path record's file name in user_state_dir(): registration writes the
// application's executable path there, the launcher reads it.
inline constexpr std::string_view APP_PATH_RECORD_NAME = "app-path";

// HOME, read as raw bytes, when it is set to an absolute path (an empty value is not absolute).
std::optional<std::filesystem::path> home_directory();

// HOME joined with "Library/Application Support/OndrakeDownload": the application's per-user
// directory, holding the socket directory "ipc" and the application-path record.
// The path need not be valid UTF-8.
std::optional<std::filesystem::path> user_state_dir();

}  // namespace ondrake::user_dirs
