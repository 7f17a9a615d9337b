#include "browser-native-host/common/user_dirs.hpp"

#include "browser-native-host/tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace ondrake::user_dirs {
namespace {

struct HomeCase {
    const char* name;
    const char* home;  // nullptr: unset
    std::optional<std::string> state_dir;
};

class StateDir : public testing::TestWithParam<HomeCase> {};

TEST_P(StateDir, FollowsHome) {
    test::ScopedEnv home("HOME", GetParam().home);
    auto dir = user_state_dir();
    ASSERT_EQ(dir.has_value(), GetParam().state_dir.has_value());
    if (dir) {
        EXPECT_EQ(dir->string(), *GetParam().state_dir);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Homes, StateDir,
    testing::Values(
        HomeCase{"unset", nullptr, std::nullopt}, HomeCase{"empty", "", std::nullopt},
        HomeCase{"relative", "relative/dir", std::nullopt},
        HomeCase{"root", "/", "/Library/Application Support/OndrakeDownload"},
        HomeCase{"plain", "/Users/example", "/Users/example/Library/Application Support/OndrakeDownload"},
        HomeCase{"trailing_slash", "/Users/example/",
                 "/Users/example/Library/Application Support/OndrakeDownload"},
        HomeCase{"not_utf8", "/Users/\xFF", "/Users/\xFF/Library/Application Support/OndrakeDownload"}),
    [](const auto& param_info) { return param_info.param.name; });

}  // namespace
}  // namespace ondrake::user_dirs
