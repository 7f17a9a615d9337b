// The schema test's corpus: every sample message the tests and the demo use, and one message per
// way of being refused, each with the host's own verdict (classify_any for what a browser sends,
// the decoders for what the application sends) and the schemas it must match or fail.
#pragma once

#include <filesystem>
#include <string>

namespace ondrake::protocol_doc {

// One JSON object per line:
//   {"name", "body", "schemas": [names checked], "validUnder": name or null, "blindSpot": key or null}
// validUnder is the schema the host's verdict says the body belongs to (null: refused). A refused
// body names the blind spot that lets it pass a schema, when one does. `repo` is the source tree
// (for scripts/demo-messages.txt).
std::string corpus_lines(const std::filesystem::path& repo);

}  // namespace ondrake::protocol_doc
