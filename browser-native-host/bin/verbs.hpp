// The command-line verbs of ondrake-native-host. A verb runs at once, without the event loop,
// and its result is the exit status; any other first argument leaves the program to the
// native-messaging session.
#pragma once

#include "browser-native-host/common/diagnostics.hpp"

#include <optional>
#include <string_view>

namespace ondrake::verbs {

// Runs one verb, printing through `out`; returns the exit status (0 or 1).
using Operation = int (*)(Diagnostics& out);

// The operation bound to `argument` when it is exactly one of the verbs (byte for byte, case
// and blanks included), or nothing.
std::optional<Operation> find_verb(std::string_view argument);

}  // namespace ondrake::verbs
