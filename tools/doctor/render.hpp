// The two ways the doctor shows a report: text for a person, one JSON document for support tools.
// Neither looks at anything but the report.
#pragma once

#include "tools/doctor/report.hpp"

#include <string>

namespace ondrake::doctor {

// Sections for the host, the manifests, the record, the socket, then one numbered entry per
// problem with its fix, or a line saying that nothing is wrong.
std::string render_text(const Report& report);

// One compact JSON object and a line feed; its keys are listed in the doctor's --help. Paths that
// are not UTF-8 are shown with U+FFFD in place of each byte that does not decode.
std::string render_json(const Report& report);

}  // namespace ondrake::doctor
