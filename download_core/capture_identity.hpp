// What a browser saw of the HTTP response of a download it started on its own. The download
// engine compares it with its own request to tell whether it fetches the same resource.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace download_core {

struct ObservedResponse {
    std::optional<std::string> final_url;  // the URL after redirects
    std::optional<std::string> mime;       // the response's media type
    std::optional<std::int64_t> total_bytes;
    std::optional<std::string> etag;

    bool operator==(const ObservedResponse&) const = default;
};

}  // namespace download_core
