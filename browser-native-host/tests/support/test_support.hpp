// Helpers shared by the host's tests: throwaway directories, environment changes undone at the
// end of a test, whole files written and read, and waiting for something another process does.
// A helper that fails reports through GoogleTest, so the failure shows in the test that used it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

namespace ondrake::test {

// A fresh directory under /tmp, removed with everything in it at the end of the test. Kept short
// because a socket path inside it must fit a Unix socket address (about 104 bytes). Its path has
// symbolic links resolved (on macOS /tmp is a link to /private/tmp), so that it compares equal to
// the paths the code under test resolves for itself.
class TempDir {
public:
    TempDir() {
        std::string pattern = "/tmp/ondrake-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed for " << pattern;
        }
        std::error_code ignored;
        path_ = std::filesystem::canonical(pattern, ignored);
        if (path_.empty()) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Sets (or, with nullopt or a null pointer, removes) one environment variable and restores it
// afterwards.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) saved_ = old;
        apply(value);
    }
    ScopedEnv(std::string name, const char* value)
        : ScopedEnv(std::move(name), value ? std::optional<std::string>(value) : std::nullopt) {}
    ~ScopedEnv() { apply(saved_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void apply(const std::optional<std::string>& value) {
        if (value) ::setenv(name_.c_str(), value->c_str(), 1);
        else ::unsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<std::string> saved_;
};

// Replaces the file's content with `content`, creating the directories above it.
inline void write_file(const std::filesystem::path& path, std::string_view content) {
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

// The file's bytes, or nothing when it cannot be opened.
inline std::optional<std::string> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Polls `done` until it holds or `limit` passes; the limit is generous because the tests run on
// loaded machines, and only a failing test ever waits that long.
template <class Predicate>
bool wait_until(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace ondrake::test
