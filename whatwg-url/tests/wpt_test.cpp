// Runs the web-platform-tests URL conformance data (urltestdata.json, toascii.json,
// IdnaTestV2.json) the way wpt's own runners drive it, and checks every case.
#include "whatwg-url/tests/wpt_expected_failures.hpp"
#include "whatwg-url/url.hpp"

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace whatwg {
namespace {

namespace json = boost::json;

// The copy of the data in the repository (tests/data/wpt/SOURCE.md says where it comes from).
std::filesystem::path data_dir() {
    return std::filesystem::path(ONDRAKE_SOURCE_DIR) / "whatwg-url" / "tests" / "data" / "wpt";
}

// JavaScript turns a lone surrogate into U+FFFD when a string becomes a URL; the data relies on
// that, and Boost.JSON refuses such escapes, so they are replaced in the JSON text first.
std::string replace_lone_surrogate_escapes(const std::string& text) {
    auto escape_value = [&](size_t at) -> int {
        if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return -1;
        return std::stoi(text.substr(at + 2, 4), nullptr, 16);
    };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        int value = escape_value(i);
        bool high = value >= 0xD800 && value <= 0xDBFF;
        bool low = value >= 0xDC00 && value <= 0xDFFF;
        int next = high ? escape_value(i + 6) : -1;
        if (high && next >= 0xDC00 && next <= 0xDFFF) {
            out += text.substr(i, 12);
            i += 11;
        } else if (high || low) {
            out += "\\uFFFD";
            i += 5;
        } else {
            out += text.substr(
                i, 2);  // any other escape whole, so an escaped backslash before "u" is not misread
            i += 1;
        }
    }
    return out;
}

// The cases of one data file (comment strings left out), or nothing when the file is not there.
std::optional<std::vector<json::object>> load_cases(const std::string& name) {
    std::ifstream file(data_dir() / name, std::ios::binary);
    if (!file) return std::nullopt;
    std::stringstream text;
    text << file.rdbuf();
    json::value document = json::parse(replace_lone_surrogate_escapes(text.str()));
    std::vector<json::object> cases;
    for (const json::value& item : document.as_array()) {
        if (item.is_object()) cases.push_back(item.as_object());
    }
    return cases;
}

std::string text_of(const json::object& object, const char* key) {
    const json::value* value = object.if_contains(key);
    return value != nullptr && value->is_string() ? std::string(value->as_string()) : std::string();
}

bool is_null_or_absent(const json::object& object, const char* key) {
    const json::value* value = object.if_contains(key);
    return value == nullptr || value->is_null();
}

// Collects every mismatch of one case into one description.
struct Mismatches {
    std::string text;
    void check(const char* what, std::string_view actual, std::string_view expected) {
        if (actual == expected) return;
        text += std::string(what) + ": got \"" + std::string(actual) + "\", want \"" + std::string(expected) +
                "\"; ";
    }
    bool empty() const { return text.empty(); }
};

// Counts of one data file, for the summary line and for the checks at the end.
struct Tally {
    int passed = 0;
    int failed = 0;
    int expected_failures = 0;
    int unexpected_passes = 0;
};

// Accounts one case's outcome against the expected failures of the installed ICU.
void account(Tally& tally, const char* file, const std::string& input, const std::string& mismatch) {
    const ExpectedFailure* expected = find_expected_failure(file, input);
    bool expected_to_fail = expected != nullptr && !icu_unicode_at_least(expected->fixed_in);
    if (mismatch.empty()) {
        if (expected_to_fail) {
            ++tally.unexpected_passes;
            ADD_FAILURE() << file << ": \"" << input << "\" passes but is listed as an expected failure ("
                          << expected->reason << "); remove or re-key its entry";
        } else {
            ++tally.passed;
        }
        return;
    }
    if (expected_to_fail) {
        ++tally.expected_failures;
        return;
    }
    ++tally.failed;
    ADD_FAILURE() << file << ": \"" << input << "\": " << mismatch;
}

void print_summary(const char* file, const Tally& tally) {
    std::cout << file << ": " << tally.passed << " passed, " << tally.failed << " failed, "
              << tally.expected_failures << " expected failures (ICU's Unicode " << icu_unicode_version_text()
              << "), " << tally.unexpected_passes << " unexpected passes\n";
}

std::string check_url_case(Parser& parser, const json::object& test) {
    std::string input = text_of(test, "input");
    std::optional<Url> base;
    if (!is_null_or_absent(test, "base")) {
        base = parser.parse(text_of(test, "base"));
        if (!base) return "base does not parse";
    }
    auto url = parser.parse(input, base ? &*base : nullptr);
    bool want_failure = test.contains("failure");
    if (want_failure) {
        if (url) return "parsed as " + std::string(url->href()) + ", want failure";
        if (!base && parse_owned(std::string(input))) return "parsed from an owned string, want failure";
        return "";
    }
    if (!url) return "failure, want " + text_of(test, "href");

    Mismatches mismatches;
    mismatches.check("href", url->href(), text_of(test, "href"));
    mismatches.check("protocol", url->protocol(), text_of(test, "protocol"));
    mismatches.check("username", url->username(), text_of(test, "username"));
    mismatches.check("password", url->password(), text_of(test, "password"));
    mismatches.check("host", url->host(), text_of(test, "host"));
    mismatches.check("hostname", url->hostname(), text_of(test, "hostname"));
    mismatches.check("port", url->port(), text_of(test, "port"));
    mismatches.check("pathname", url->pathname(), text_of(test, "pathname"));
    mismatches.check("search", url->search(), text_of(test, "search"));
    mismatches.check("hash", url->hash(), text_of(test, "hash"));
    if (test.contains("origin")) mismatches.check("origin", url->origin(), text_of(test, "origin"));

    // The serialisation parses to itself, and the full state machine agrees with parse().
    auto again = parser.parse(url->href());
    mismatches.check("href parsed again", again ? again->href() : "failure", url->href());
    auto slow = parser.parse_without_shortcut(input, base ? &*base : nullptr);
    mismatches.check("href without the shortcut", slow ? slow->href() : "failure", url->href());
    if (slow && !(slow->layout() == url->layout()))
        mismatches.text += "layout differs without the shortcut; ";
    if (again && !(again->layout() == url->layout())) mismatches.text += "layout differs when parsed again; ";
    if (!base) {
        // Taking the caller's buffer must change nothing but who owns the text.
        auto owned = parse_owned(std::string(input));
        mismatches.check("href from an owned string", owned ? owned->href() : "failure", url->href());
        if (owned && !(owned->layout() == url->layout()))
            mismatches.text += "layout differs from an owned string; ";
    }
    return mismatches.text;
}

// toascii.json and IdnaTestV2.json: the input as the host of "https://…/x".
std::string check_host_case(Parser& parser, const std::string& host_text, const json::object& test) {
    auto url = parser.parse("https://" + host_text + "/x");
    if (is_null_or_absent(test, "output"))
        return url ? "parsed as " + std::string(url->href()) + ", want failure" : "";
    std::string output = text_of(test, "output");
    if (!url) return "failure, want " + output;
    Mismatches mismatches;
    mismatches.check("host", url->host(), output);
    mismatches.check("hostname", url->hostname(), output);
    mismatches.check("pathname", url->pathname(), "/x");
    mismatches.check("href", url->href(), "https://" + output + "/x");
    return mismatches.text;
}

// IdnaTestV2 inputs hold URL delimiters that must reach the host parser as part of the host.
std::string encode_url_delimiters(const std::string& input) {
    std::string encoded;
    for (char c : input) {
        switch (c) {
            case ':': encoded += "%3A"; break;
            case '/': encoded += "%2F"; break;
            case '?': encoded += "%3F"; break;
            case '#': encoded += "%23"; break;
            case '\\': encoded += "%5C"; break;
            default: encoded += c;
        }
    }
    return encoded;
}

// Missing data fails the test: a skipped conformance suite would read as a passing one.
#define LOAD_OR_FAIL(cases, name)  \
    auto cases = load_cases(name); \
    ASSERT_TRUE(cases) << "no " << name << " under " << data_dir()

TEST(WebPlatformTests, UrlTestData) {
    LOAD_OR_FAIL(cases, "urltestdata.json");
    ASSERT_EQ(cases->size(), 891u);
    Parser parser;
    Tally tally;
    for (const json::object& test : *cases) {
        account(tally, "urltestdata.json", text_of(test, "input"), check_url_case(parser, test));
    }
    print_summary("urltestdata.json", tally);
}

TEST(WebPlatformTests, ToAscii) {
    LOAD_OR_FAIL(cases, "toascii.json");
    ASSERT_EQ(cases->size(), 87u);
    Parser parser;
    Tally tally;
    for (const json::object& test : *cases) {
        std::string input = text_of(test, "input");
        account(tally, "toascii.json", input, check_host_case(parser, input, test));
    }
    print_summary("toascii.json", tally);
}

TEST(WebPlatformTests, IdnaTestV2) {
    LOAD_OR_FAIL(cases, "IdnaTestV2.json");
    ASSERT_EQ(cases->size(), 2671u);
    Parser parser;
    Tally tally;
    for (const json::object& test : *cases) {
        std::string input = text_of(test, "input");
        if (input.empty()) continue;  // an empty host cannot be written into a URL
        account(tally, "IdnaTestV2.json", input, check_host_case(parser, encode_url_delimiters(input), test));
    }
    print_summary("IdnaTestV2.json", tally);
}

// Every entry of the expected-failure table names a case that exists, so that a mistyped entry
// cannot hide a real failure elsewhere.
TEST(WebPlatformTests, ExpectedFailuresNameExistingCases) {
    for (const char* file : {"toascii.json", "IdnaTestV2.json", "urltestdata.json"}) {
        LOAD_OR_FAIL(cases, file);
        for (const ExpectedFailure& entry : expected_failures()) {
            if (std::string_view(entry.file) != file) continue;
            bool found = false;
            for (const json::object& test : *cases) found = found || text_of(test, "input") == entry.input;
            EXPECT_TRUE(found) << file << ": no case \"" << entry.input << "\"";
        }
    }
}

}  // namespace
}  // namespace whatwg
