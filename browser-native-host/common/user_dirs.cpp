#include "browser-native-host/common/user_dirs.hpp"

#include <cstdlib>

namespace ondrake::user_dirs {

std::optional<std::filesystem::path> home_directory() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return std::nullopt;
    return std::filesystem::path(home);
}

std::optional<std::filesystem::path> user_state_dir() {
    auto home = home_directory();
    if (!home) return std::nullopt;
    return *home / "Library/Application Support/OndrakeDownload";
}

}  // namespace ondrake::user_dirs
