// The generated parts of docs/protocol.md: field tables, limits, codes and statuses, action
// rules, time limits, rendered as Markdown from the same tables as the schemas.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "tools/protocol-doc/schemas.hpp"

namespace ondrake::protocol_doc {

// The most bytes a file of the source tree that the tools read may hold (the reference document,
// the schemas, the demo's messages): far above what they hold, so that a file cut short or run
// away is refused instead of read whole.
inline constexpr std::size_t SOURCE_FILE_CEILING = 4 * 1024 * 1024;

// Region name ("fields:host-request", "codes", ...) to its Markdown, each ending in a line feed.
std::map<std::string, std::string> reference_regions(const std::vector<MessageSchema>& schemas);

// `document` with the text between every "<!-- generated: NAME -->" line and the next
// "<!-- end -->" line replaced by regions[NAME]. Fails (returns false, `error` set) on a region
// the map lacks or a marker without its end.
bool fill_regions(const std::string& document, const std::map<std::string, std::string>& regions,
                  std::string& filled, std::string& error);

}  // namespace ondrake::protocol_doc
