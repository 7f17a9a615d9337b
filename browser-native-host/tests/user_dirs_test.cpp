#include "browser-native-host/user_dirs.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace ondrake::user_dirs {
namespace {

// Sets HOME for one test and puts the old value back afterwards.
class ScopedHome {
public:
    explicit ScopedHome(const char* value) {
        if (const char* old = std::getenv("HOME")) saved_ = old;
        if (value) ::setenv("HOME", value, 1);
        else ::unsetenv("HOME");
    }
    ~ScopedHome() {
        if (saved_) ::setenv("HOME", saved_->c_str(), 1);
        else ::unsetenv("HOME");
    }

private:
    std::optional<std::string> saved_;
};

struct HomeCase {
    const char* name;
    const char* home;  // nullptr: unset
    std::optional<std::string> state_dir;
};

class StateDir : public testing::TestWithParam<HomeCase> {};

TEST_P(StateDir, FollowsHome) {
    ScopedHome home(GetParam().home);
    auto dir = user_state_dir();
    ASSERT_EQ(dir.has_value(), GetParam().state_dir.has_value());
    if (dir) {
        EXPECT_EQ(dir->string(), *GetParam().state_dir);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Homes, StateDir,
    testing::Values(
        HomeCase{"unset", nullptr, std::nullopt},
        HomeCase{"empty", "", std::nullopt},
        HomeCase{"relative", "relative/dir", std::nullopt},
        HomeCase{"root", "/", "/Library/Application Support/OndrakeDownload"},
        HomeCase{"plain", "/Users/example", "/Users/example/Library/Application Support/OndrakeDownload"},
        HomeCase{"trailing_slash", "/Users/example/", "/Users/example/Library/Application Support/OndrakeDownload"},
        HomeCase{"not_utf8", "/Users/\xFF", "/Users/\xFF/Library/Application Support/OndrakeDownload"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace ondrake::user_dirs
