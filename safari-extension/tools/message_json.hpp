// JSON text to and from the message model, for the command-line driver: what the extension's
// script sends is a JSON-compatible object, and JSON is how a person writes one by hand.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "safari-extension/message.hpp"

namespace ondrake::safari {

// One JSON document (RFC 8259) as a value; numbers become numbers whatever their JSON form.
// Nothing when the text is not exactly one JSON document; `error` then says why.
std::optional<Value> value_from_json(std::string_view text, std::string& error);

// The compact JSON text of `dictionary`, keys in the dictionary's order.
std::string json_from_dictionary(const Dictionary& dictionary);

}  // namespace ondrake::safari
