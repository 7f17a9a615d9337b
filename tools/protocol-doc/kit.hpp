// The generated half of the extension author's kit (extension-client/): protocol.js, the
// constants and message schemas the client module checks and reads messages with, and index.d.ts,
// the TypeScript declarations of every message, option, result and call. Both come from the same
// tables as the schemas, so the client cannot drift from what the host checks.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tools/protocol-doc/schemas.hpp"

namespace ondrake::protocol_doc {

// Adds the kit's generated files to `files` (path below the source tree to content), and the
// copies of the client module the reference Safari extension carries, since `make bundle` copies
// that extension's directory alone into the bundle. False, with `error` set, when the client
// module cannot be read from `repo`.
bool add_kit_files(const std::filesystem::path& repo, const std::vector<MessageSchema>& schemas,
                   std::map<std::filesystem::path, std::string>& files, std::string& error);

}  // namespace ondrake::protocol_doc
