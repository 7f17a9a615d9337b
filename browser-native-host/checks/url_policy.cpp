#include "browser-native-host/checks/url_policy.hpp"

#include "browser-native-host/common/text.hpp"
#include "whatwg-url/url.hpp"

namespace ondrake::url_policy {

Checked sanitize(std::string& url) {
    // Extensions hand over what users copied from pages, often with a no-break or ideographic
    // space around it that the URL parser would not strip.
    std::string_view trimmed = text::trim_white_space(url);
    if (trimmed.size() != url.size()) url = std::string(trimmed);

    // Parsed where it lies: a URL that is already canonical, as most are, is neither copied nor
    // rewritten, and every check below reads only the positions of its parts.
    std::optional<whatwg::detail::Layout> layout = whatwg::parse_in_place(url);
    if (!layout) return UrlRejection::Malformed;

    std::string_view scheme = std::string_view(url).substr(0, layout->scheme_end);
    if (scheme != "http" && scheme != "https") return UrlRejection::SchemeNotAllowed;

    if (!layout->has_host || layout->host_end == layout->host_start) return UrlRejection::Malformed;

    // Judged on the parsed record: "https://:@host/" keeps no credentials and is fine, while
    // "https://:pw@host/" would hand a password to the application.
    if (layout->has_credentials()) return UrlRejection::HasCredentials;

    // The fragment never reaches a server; the application gets no use from it.
    if (layout->fragment_start != whatwg::detail::ABSENT) url.resize(layout->fragment_start);
    return {};
}

}  // namespace ondrake::url_policy
