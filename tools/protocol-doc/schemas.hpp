// The JSON Schemas (draft 2020-12) of every message of the protocol, built from the same member
// tables the codec decodes and encodes with, the enumerations' text tables and the checks of
// classification (limits, id rule, per-action rules).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <boost/json/value.hpp>

namespace ondrake::protocol_doc {

// Something the host checks that a JSON Schema cannot say. Messages the host refuses for one of
// these reasons may still be valid under the schema; each schema's description names the ones
// that concern it and docs/protocol.md lists them all.
struct BlindSpot {
    std::string_view key;  // the corpus names it to explain such a verdict
    std::string text;      // one sentence for the document and the descriptions
};

const std::vector<BlindSpot>& blind_spots();

struct MessageSchema {
    std::string name;  // file docs/schema/<name>.schema.json
    std::string title;
    boost::json::value schema;
};

// Every message, in both directions, in the order the document presents them.
std::vector<MessageSchema> message_schemas();

// `value` as indented JSON, two spaces per level, members in their order, one final line feed.
std::string pretty_json(const boost::json::value& value);

}  // namespace ondrake::protocol_doc
