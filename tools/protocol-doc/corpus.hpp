// The schema test's corpus: every sample message the tests and the demo use, and one message per
// way of being refused, each with the host's own verdict (classify_any for what a browser sends,
// the decoders for what the application sends) and the schemas it must match or fail.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace ondrake::protocol_doc {

// The most bytes a file of the source tree that the tool reads may hold (the reference document,
// the schemas, the demo's messages): far above what they hold, so that a file cut short or run
// away is refused instead of read whole.
inline constexpr std::size_t SOURCE_FILE_CEILING = 4 * 1024 * 1024;

// One JSON object per line:
//   {"name", "body", "schemas": [names checked], "validUnder": name or null, "blindSpot": key or null}
// validUnder is the schema the host's verdict says the body belongs to (null: refused). A refused
// body names the blind spot that lets it pass a schema, when one does. `repo` is the source tree
// (for scripts/demo-messages.txt).
std::string corpus_lines(const std::filesystem::path& repo);

}  // namespace ondrake::protocol_doc
