// The two ways the doctor shows a report: text for a person, one JSON document for support tools.
// Neither looks at anything but the report.
#pragma once

#include "tools/doctor/report.hpp"
#include "tools/doctor/support_facts.hpp"

#include <string>

namespace ondrake::doctor {

// Sections for the host, the manifests, the record, the socket, then one numbered entry per
// problem with its fix, or a line saying that nothing is wrong.
std::string render_text(const Report& report);

// One compact JSON object and a line feed; its keys are listed in the doctor's --help. Paths that
// are not UTF-8 are shown with U+FFFD in place of each byte that does not decode.
std::string render_json(const Report& report);

// The plain-text file for a support request: what the system is, the findings as render_text
// shows them, the programs and the bundle the set-up is made of, and the manifests' bytes. Every path
// below HOME is written from ~, and every URL is left out but extension origins, which name an
// extension rather than a page.
std::string render_support_report(const Report& report, const SupportFacts& facts);

}  // namespace ondrake::doctor
