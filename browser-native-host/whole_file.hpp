// Reading a small file in one piece, for the files registration compares or searches.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace ondrake::whole_file {

// The whole content of the regular file at `path` (symbolic links followed), or nothing when it
// is missing, unreadable or not a regular file. A FIFO or device is refused without blocking.
std::optional<std::string> read(const std::filesystem::path& path);

// The same, and nothing as well when the content is not valid UTF-8.
std::optional<std::string> read_utf8(const std::filesystem::path& path);

}  // namespace ondrake::whole_file
