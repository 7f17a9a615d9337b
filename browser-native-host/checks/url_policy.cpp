#include "browser-native-host/checks/url_policy.hpp"

#include "browser-native-host/common/text.hpp"
#include "whatwg-url/url.hpp"

namespace ondrake::url_policy {

Sanitized sanitize(std::string url) {
    // Extensions hand over what users copied from pages, often with a no-break or ideographic
    // space around it that the URL parser would not strip.
    std::string_view trimmed = text::trim_white_space(url);
    auto parsed = trimmed.size() == url.size() ? whatwg::parse_owned(std::move(url)) : whatwg::parse(trimmed);
    if (!parsed) return UrlRejection::Malformed;

    std::string_view scheme = parsed->scheme();
    if (scheme != "http" && scheme != "https") return UrlRejection::SchemeNotAllowed;

    if (!parsed->has_host() || parsed->hostname().empty()) return UrlRejection::Malformed;

    // Judged on the parsed record: "https://:@host/" keeps no credentials and is fine, while
    // "https://:pw@host/" would hand a password to the application.
    if (!parsed->username().empty() || !parsed->password().empty()) return UrlRejection::HasCredentials;

    // The fragment never reaches a server; the application gets no use from it.
    parsed->clear_fragment();
    return std::move(*parsed).take_href();
}

}  // namespace ondrake::url_policy
