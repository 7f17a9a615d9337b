#include "whatwg-url/serializer.hpp"

#include <charconv>

namespace whatwg::detail {

// https://url.spec.whatwg.org/#concept-url-serializer, recording where each component lands. The
// record keeps its host serialized and its path as the URL path serializer writes it.
std::optional<Layout> serialize(const UrlRecord& url, std::string& href) {
    char port_digits[5];
    size_t port_length = 0;
    if (url.port >= 0) {
        port_length =
            static_cast<size_t>(std::to_chars(port_digits, port_digits + 5, url.port).ptr - port_digits);
    }
    bool credentials = !url.username.empty() || !url.password.empty();
    // 3. A path whose first segment is empty would read as a host after "//" when there is no host.
    bool dot_prefix = !url.has_host && !url.has_opaque_path && url.path.size() > 1 && url.path[0] == '/' &&
                      url.path[1] == '/';

    size_t size = url.scheme.size() + 1 + (url.has_host ? 2 + url.host.size() : 0) +
                  (credentials ? url.username.size() + 1 + url.password.size() + 1 : 0) +
                  (url.port >= 0 ? 1 + port_length : 0) + (dot_prefix ? 2 : 0) + url.path.size() +
                  (url.has_query ? 1 + url.query.size() : 0) +
                  (url.has_fragment ? 1 + url.fragment.size() : 0);
    if (size >= ABSENT) return std::nullopt;

    Layout layout;
    href.clear();
    href.reserve(size);
    // 1. scheme ":".
    href += url.scheme;
    layout.scheme_end = static_cast<uint32_t>(href.size());
    href += ':';
    // 2. A host:
    if (url.has_host) {
        layout.has_host = true;
        // 2.1. "//".
        href += "//";
        // 2.2. Credentials: 2.2.1. username, 2.2.2. ":" password when not empty, 2.2.3. "@".
        if (credentials) {
            href += url.username;
            layout.username_end = static_cast<uint32_t>(href.size());
            if (!url.password.empty()) {
                href += ':';
                href += url.password;
            }
            href += '@';
        } else {
            layout.username_end = static_cast<uint32_t>(href.size());
        }
        // 2.3. The host, serialized.
        layout.host_start = static_cast<uint32_t>(href.size());
        href += url.host;
        layout.host_end = static_cast<uint32_t>(href.size());
        // 2.4. ":" port, when there is one.
        if (url.port >= 0) {
            layout.port = url.port;
            href += ':';
            href.append(port_digits, port_length);
        }
    } else {
        layout.username_end = layout.host_start = layout.host_end = static_cast<uint32_t>(href.size());
    }
    if (dot_prefix) href += "/.";
    // 4. The path.
    layout.path_start = static_cast<uint32_t>(href.size());
    layout.has_opaque_path = url.has_opaque_path;
    href += url.path;
    // 5. "?" query, when not null.
    if (url.has_query) {
        layout.query_start = static_cast<uint32_t>(href.size());
        href += '?';
        href += url.query;
    }
    // 6. "#" fragment, when not null.
    if (url.has_fragment) {
        layout.fragment_start = static_cast<uint32_t>(href.size());
        href += '#';
        href += url.fragment;
    }
    return layout;
}

}  // namespace whatwg::detail
