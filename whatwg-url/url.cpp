#include "whatwg-url/url.hpp"

namespace whatwg {

void detail::UrlRecord::clear() {
    scheme.clear();
    username.clear();
    password.clear();
    host.clear();
    has_host = false;
    port = -1;
    path.clear();
    has_opaque_path = false;
    query.clear();
    has_query = false;
    fragment.clear();
    has_fragment = false;
    scheme_type = SchemeType::NotSpecial;
}

uint32_t Url::query_end() const noexcept {
    return has_fragment() ? layout_.fragment_start : static_cast<uint32_t>(href_.size());
}

uint32_t Url::path_end() const noexcept { return has_query() ? layout_.query_start : query_end(); }

std::string_view Url::protocol() const noexcept { return slice(0, layout_.scheme_end + 1); }

bool Url::is_special() const noexcept { return whatwg::is_special(scheme_type(scheme())); }

std::string_view Url::host() const noexcept {
    return layout_.port < 0 ? hostname() : slice(layout_.host_start, layout_.path_start);
}

std::optional<uint16_t> Url::port_number() const noexcept {
    if (layout_.port < 0) return std::nullopt;
    return static_cast<uint16_t>(layout_.port);
}

std::string_view Url::port() const noexcept {
    if (layout_.port < 0) return {};
    return slice(layout_.host_end + 1, layout_.path_start);
}

std::string_view Url::pathname() const noexcept { return slice(layout_.path_start, path_end()); }

std::string_view Url::query() const noexcept {
    if (!has_query()) return {};
    return slice(layout_.query_start + 1, query_end());
}

std::string_view Url::search() const noexcept {
    if (!has_query() || query_end() - layout_.query_start == 1) return {};
    return slice(layout_.query_start, query_end());
}

std::string_view Url::fragment() const noexcept {
    if (!has_fragment()) return {};
    return slice(layout_.fragment_start + 1, static_cast<uint32_t>(href_.size()));
}

std::string_view Url::hash() const noexcept {
    if (!has_fragment() || href_.size() - layout_.fragment_start == 1) return {};
    return slice(layout_.fragment_start, static_cast<uint32_t>(href_.size()));
}

// https://url.spec.whatwg.org/#concept-url-origin, serialised.
std::string Url::origin() const {
    SchemeType type = scheme_type(scheme());
    // "ftp", "http", "https", "ws", "wss": the tuple origin (scheme, host, port).
    if (whatwg::is_special(type) && type != SchemeType::File) {
        std::string serialized(protocol());
        serialized += "//";
        serialized += host();
        return serialized;
    }
    if (scheme() == "blob") {
        // A blob URL's origin is that of the URL in its path, when that one is http(s).
        auto path_url = parse(pathname());
        if (path_url) {
            SchemeType path_type = scheme_type(path_url->scheme());
            if (path_type == SchemeType::Http || path_type == SchemeType::Https) return path_url->origin();
        }
    }
    // "file" (left to the implementation; opaque here) and every other scheme: an opaque origin.
    return "null";
}

}  // namespace whatwg
