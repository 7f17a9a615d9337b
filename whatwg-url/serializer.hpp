// The URL serialiser: from the record the parser built to one buffer with component positions.
#pragma once

#include "whatwg-url/url.hpp"

namespace whatwg::detail {

// Writes the serialisation of `url` into `href` (replacing its contents) and returns where its
// components lie. nullopt when the serialisation would not fit the 32-bit positions.
std::optional<Layout> serialize(const UrlRecord& url, std::string& href);

}  // namespace whatwg::detail
