// The URL record's accessors and the URL API getters, where empty and absent components differ.
#include "whatwg-url/url.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace whatwg {
namespace {

struct ComponentCase {
    const char* name;
    const char* input;
    const char* scheme;
    const char* username;
    const char* password;
    bool has_host;
    const char* hostname;
    std::optional<uint16_t> port;
    const char* pathname;
    bool has_query;
    const char* search;
    bool has_fragment;
    const char* hash;
};

class Components : public testing::TestWithParam<ComponentCase> {};

TEST_P(Components, MatchTheRecord) {
    const ComponentCase& test = GetParam();
    auto url = parse(test.input);
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->scheme(), test.scheme);
    EXPECT_EQ(url->protocol(), std::string(test.scheme) + ":");
    EXPECT_EQ(url->username(), test.username);
    EXPECT_EQ(url->password(), test.password);
    EXPECT_EQ(url->has_host(), test.has_host);
    EXPECT_EQ(url->hostname(), test.hostname);
    EXPECT_EQ(url->port_number(), test.port);
    EXPECT_EQ(url->port(), test.port ? std::to_string(*test.port) : "");
    EXPECT_EQ(url->host(),
              test.port ? std::string(test.hostname) + ":" + std::to_string(*test.port) : test.hostname);
    EXPECT_EQ(url->pathname(), test.pathname);
    EXPECT_EQ(url->has_query(), test.has_query);
    EXPECT_EQ(url->search(), test.search);
    EXPECT_EQ(url->has_fragment(), test.has_fragment);
    EXPECT_EQ(url->hash(), test.hash);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, Components,
    testing::Values(ComponentCase{"full", "https://u:p@h.test:8443/a/b?q=1#f", "https", "u", "p", true,
                                  "h.test", 8443, "/a/b", true, "?q=1", true, "#f"},
                    ComponentCase{"empty_query_and_fragment", "http://h/?#", "http", "", "", true, "h",
                                  std::nullopt, "/", true, "", true, ""},
                    ComponentCase{"no_query_or_fragment", "http://h/p", "http", "", "", true, "h",
                                  std::nullopt, "/p", false, "", false, ""},
                    ComponentCase{"user_without_password", "http://u@h/", "http", "u", "", true, "h",
                                  std::nullopt, "/", false, "", false, ""},
                    ComponentCase{"password_without_user", "http://:p@h/", "http", "", "p", true, "h",
                                  std::nullopt, "/", false, "", false, ""},
                    ComponentCase{"opaque_path_no_host", "mailto:someone@example.test", "mailto", "", "",
                                  false, "", std::nullopt, "someone@example.test", false, "", false, ""},
                    ComponentCase{"file_empty_host", "file:///etc/hosts", "file", "", "", true, "",
                                  std::nullopt, "/etc/hosts", false, "", false, ""},
                    ComponentCase{"non_special_empty_host", "foo:///x", "foo", "", "", true, "", std::nullopt,
                                  "/x", false, "", false, ""},
                    ComponentCase{"non_special_no_host", "foo:/x", "foo", "", "", false, "", std::nullopt,
                                  "/x", false, "", false, ""},
                    ComponentCase{"dot_prefixed_path", "foo:/.//x", "foo", "", "", false, "", std::nullopt,
                                  "//x", false, "", false, ""},
                    ComponentCase{"ipv6_with_port", "http://[0:0:0:0:0:0:0:1]:81/", "http", "", "", true,
                                  "[::1]", 81, "/", false, "", false, ""}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(Url, DotPrefixIsInHrefButNotInPathname) {
    auto url = parse("foo:/.//x");
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->href(), "foo:/.//x");
    EXPECT_EQ(url->pathname(), "//x");
}

TEST(Url, ClearFragmentRemovesHashAndKeepsTheRest) {
    auto url = parse("https://h.test/p?q#frag");
    ASSERT_TRUE(url.has_value());
    url->clear_fragment();
    EXPECT_EQ(url->href(), "https://h.test/p?q");
    EXPECT_FALSE(url->has_fragment());
    EXPECT_EQ(url->search(), "?q");
    EXPECT_EQ(url->pathname(), "/p");

    auto empty_fragment = parse("https://h.test/#");
    ASSERT_TRUE(empty_fragment.has_value());
    EXPECT_TRUE(empty_fragment->has_fragment());
    empty_fragment->clear_fragment();
    EXPECT_EQ(empty_fragment->href(), "https://h.test/");

    auto none = parse("https://h.test/");
    ASSERT_TRUE(none.has_value());
    none->clear_fragment();
    EXPECT_EQ(none->href(), "https://h.test/");
}

struct OriginCase {
    const char* input;
    const char* origin;
};

TEST(Url, Origin) {
    const OriginCase cases[] = {
        {"https://h.test:443/x", "https://h.test"},
        {"http://u:p@h.test:81/", "http://h.test:81"},
        {"ftp://h.test/", "ftp://h.test"},
        {"file:///x", "null"},
        {"foo://h.test/", "null"},
        {"blob:https://h.test:8443/uuid", "https://h.test:8443"},
        {"blob:ftp://h.test/", "null"},
        {"blob:not a url", "null"},
    };
    for (const OriginCase& test : cases) {
        SCOPED_TRACE(test.input);
        auto url = parse(test.input);
        ASSERT_TRUE(url.has_value());
        EXPECT_EQ(url->origin(), test.origin);
    }
}

TEST(Url, RelativeReferenceNeedsABase) {
    EXPECT_FALSE(parse("/path").has_value());
    EXPECT_FALSE(parse("").has_value());
    auto base = parse("https://h.test/a/b?q#f");
    ASSERT_TRUE(base.has_value());
    auto url = parse("../c", &*base);
    ASSERT_TRUE(url.has_value());
    EXPECT_EQ(url->href(), "https://h.test/c");
    auto same = parse("", &*base);
    ASSERT_TRUE(same.has_value());
    EXPECT_EQ(same->href(), "https://h.test/a/b?q");
}

TEST(Parser, ReusedParserGivesIndependentResults) {
    Parser parser;
    auto first = parser.parse(
        "HTTP://B\xC3\xBC"
        "cher.de/x?y#z");
    auto second = parser.parse("foo:bar");
    auto third = parser.parse("http://[::1]:8080/");
    ASSERT_TRUE(first && second && third);
    EXPECT_EQ(first->href(), "http://xn--bcher-kva.de/x?y#z");
    EXPECT_EQ(second->href(), "foo:bar");
    EXPECT_EQ(third->href(), "http://[::1]:8080/");
    Parser moved_from_nothing;
    EXPECT_EQ(moved_from_nothing.parse("http://\xC3\xBC.de/")->href(), "http://xn--tda.de/");
}

}  // namespace
}  // namespace whatwg
