// Which URLs the host passes on, and the normalised form they reach the application in.
#include "browser-native-host/checks/url_policy.hpp"

#include <gtest/gtest.h>

#include <string>

namespace ondrake::url_policy {
namespace {

// The URL the application would get, or the rejection.
using Outcome = boost::system::result<std::string, UrlRejection>;

struct SanitizeCase {
    const char* name;
    std::string input;
    Outcome expected;
};

void PrintTo(const SanitizeCase& c, std::ostream* out) { *out << c.name; }

Outcome sanitized(std::string url) {
    Checked checked = sanitize(url);
    if (!checked) return checked.error();
    return url;
}

std::string describe(const Outcome& result) {
    if (result) return "url " + *result;
    switch (result.error()) {
        case UrlRejection::Malformed: return "Malformed";
        case UrlRejection::HasCredentials: return "HasCredentials";
        case UrlRejection::SchemeNotAllowed: return "SchemeNotAllowed";
    }
    return "?";
}

class Sanitize : public testing::TestWithParam<SanitizeCase> {};

TEST_P(Sanitize, GivesTheNormalisedUrlOrTheRejection) {
    EXPECT_EQ(describe(sanitized(GetParam().input)), describe(GetParam().expected));
}

const auto MALFORMED = UrlRejection::Malformed;
const auto CREDENTIALS = UrlRejection::HasCredentials;
const auto SCHEME = UrlRejection::SchemeNotAllowed;

const SanitizeCase CASES[] = {
    // Normalisation by the parser is part of the result.
    {"upper_case_scheme_host_default_port_fragment", "HTTPS://Example.TEST:443/a#top",
     "https://example.test/a"},
    {"http_default_port", "http://example.test:80/x", "http://example.test/x"},
    {"port_80_on_https_is_kept", "https://example.test:80/", "https://example.test:80/"},
    {"other_port_kept", "HTTP://EXAMPLE.TEST:8080", "http://example.test:8080/"},
    {"trailing_solidus_added", "https://example.test", "https://example.test/"},
    {"fragment_of_canonical_url", "https://example.test/p?q=1#frag", "https://example.test/p?q=1"},
    {"empty_fragment", "https://example.test/#", "https://example.test/"},
    {"second_hash_is_fragment_too", "http://example.test/a?b#c#d", "http://example.test/a?b"},
    {"dot_segments", "https://example.test/a/../b/./c", "https://example.test/b/c"},
    {"encoded_dot_segments", "https://example.test/%2e%2E/x/%2e/y", "https://example.test/x/y"},
    {"percent_encoding_added", "https://example.test/a b/\xC3\xBC?q=\xC3\xBC v",
     "https://example.test/a%20b/%C3%BC?q=%C3%BC%20v"},
    {"percent_escapes_kept_as_written", "https://example.test/%7e?q=%zz", "https://example.test/%7e?q=%zz"},
    {"percent_encoded_host_decoded", "http://ex%41mple.test/", "http://example.test/"},
    {"backslashes_in_special_url", "http:\\\\example.test\\a", "http://example.test/a"},
    {"special_scheme_without_slashes", "http:example.test", "http://example.test/"},
    {"special_scheme_one_slash", "https:/example.test/p", "https://example.test/p"},
    {"tab_inside_is_removed", "https://exa\tmple.test/", "https://example.test/"},

    // White space around the URL, not only ASCII.
    {"ascii_spaces_around", "  https://example.test  ", "https://example.test/"},
    {"tabs_and_line_breaks_around", "\t\nhttps://example.test/\r\n", "https://example.test/"},
    {"ideographic_space_around", "\xE3\x80\x80https://example.test/a\xE3\x80\x80", "https://example.test/a"},
    {"no_break_space_around", "\xC2\xA0https://example.test/a\xC2\xA0", "https://example.test/a"},
    {"line_separator_around", "\xE2\x80\xA8https://example.test/\xE2\x80\xA8", "https://example.test/"},
    {"mixed_white_space_around", " \xC2\xA0\xE3\x80\x80https://example.test/\xE2\x80\xA8\x0B ",
     "https://example.test/"},
    {"zero_width_space_is_not_white_space", "\xE2\x80\x8Bhttps://example.test/", MALFORMED},
    {"ideographic_space_inside_host", "https://exa\xE3\x80\x80mple.test/", MALFORMED},
    {"only_white_space", " \xE3\x80\x80 ", MALFORMED},

    // Hosts.
    {"idna_to_punycode",
     "https://B\xC3\xBC"
     "cher.example/",
     "https://xn--bcher-kva.example/"},
    {"fullwidth_letters_mapped",
     "https://\xEF\xBD\x85\xEF\xBD\x98\xEF\xBD\x81\xEF\xBD\x8D\xEF\xBD\x90\xEF\xBD\x8C\xEF\xBD\x85.test/",
     "https://example.test/"},
    {"punycode_kept", "https://xn--bcher-kva.example/", "https://xn--bcher-kva.example/"},
    {"ipv4", "http://192.168.0.1:80/", "http://192.168.0.1/"},
    {"ipv4_hex_and_short", "http://0x7f.1/", "http://127.0.0.1/"},
    {"ipv4_single_number", "http://3232235521/", "http://192.168.0.1/"},
    {"ipv4_out_of_range", "http://1.2.3.256/", MALFORMED},
    {"ipv6_compressed", "http://[0:0:0:0:0:0:0:1]/", "http://[::1]/"},
    {"ipv6_upper_case_default_port", "https://[2001:DB8::1]:443/", "https://[2001:db8::1]/"},
    {"ipv6_unclosed", "http://[::1", MALFORMED},
    {"forbidden_host_code_point", "https://ex ample.test/", MALFORMED},
    {"encoded_space_in_host", "https://exa%20mple.test/", MALFORMED},
    {"port_out_of_range", "http://example.test:65536/", MALFORMED},

    // Empty hosts.
    {"nothing_after_slashes", "http://", MALFORMED},
    {"three_slashes_then_nothing", "https:///", MALFORMED},
    {"scheme_alone", "http:", MALFORMED},
    {"credentials_marker_without_host", "http://@/x", MALFORMED},
    {"port_without_host", "http://:80/", MALFORMED},
    {"encoded_space_alone", "http://%20/", MALFORMED},

    // Credentials, judged on the parsed record.
    {"user_name", "https://user@example.test/", CREDENTIALS},
    {"user_name_and_password", "https://user:pw@example.test/", CREDENTIALS},
    {"password_without_user_name", "https://:pw@example.test/", CREDENTIALS},
    {"user_name_with_empty_password", "https://user:@example.test/", CREDENTIALS},
    {"percent_encoded_user_name", "https://%75@example.test/", CREDENTIALS},
    {"empty_user_name_and_password", "https://:@example.test/", "https://example.test/"},
    {"bare_at_sign", "https://@example.test/", "https://example.test/"},
    {"at_sign_without_slashes", "https:@example.test", "https://example.test/"},

    // Schemes other than http and https, whatever else they carry.
    {"ftp", "ftp://example.test/f", SCHEME},
    {"ftp_with_credentials", "ftp://u:p@example.test/", SCHEME},
    {"file", "file:///etc/passwd", SCHEME},
    {"file_with_host", "file://host/x", SCHEME},
    {"data", "data:text/plain,hi", SCHEME},
    {"javascript", "javascript:alert(1)", SCHEME},
    {"javascript_upper_case", "JavaScript:alert(1)", SCHEME},
    {"blob", "blob:https://example.test/0b5e", SCHEME},
    {"chrome_extension", "chrome-extension://abcdefghijklmnop/page.html", SCHEME},
    {"moz_extension", "moz-extension://5a2c/x.html", SCHEME},
    {"websocket", "wss://example.test/", SCHEME},
    {"look_alike_scheme", "httpx://example.test/", SCHEME},

    // Not absolute URLs.
    {"not_a_url", "not a url", MALFORMED},
    {"empty", "", MALFORMED},
    {"path_only", "/relative/path", MALFORMED},
    {"scheme_relative", "//example.test/", MALFORMED},
};

INSTANTIATE_TEST_SUITE_P(Urls, Sanitize, testing::ValuesIn(CASES),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace ondrake::url_policy
