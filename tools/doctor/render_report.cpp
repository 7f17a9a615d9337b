#include "tools/doctor/render.hpp"

#include "tools/doctor/printable.hpp"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace ondrake::doctor {

namespace fs = std::filesystem;

namespace {

// Extension origins say which extension a manifest admits, and name no page anyone visited.
constexpr std::string_view KEPT_SCHEME = "chrome-extension";
constexpr std::string_view URL_LEFT_OUT = "<URL left out>";

bool continues_a_name(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte >= 0x80 || std::isalnum(byte) != 0 ||
           std::string_view("._-+@~").find(c) != std::string_view::npos;
}

// `text` with `home` written as "~" wherever a path begins with it: not preceded by a name or a
// "/" (so that /Data/Users/bob stays), and followed by "/" or by anything that cannot continue its
// last name (so that /Users/bobby stays when HOME is /Users/bob).
std::string with_home_as_tilde(const std::string& text, std::string home) {
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    if (home.size() <= 1) return text;  // HOME at the root: every path would be "below" it
    std::string out;
    std::size_t at = 0;
    for (std::size_t found; (found = text.find(home, at)) != std::string::npos; at = found + home.size()) {
        std::size_t after = found + home.size();
        bool starts = found == 0 || (text[found - 1] != '/' && !continues_a_name(text[found - 1]));
        bool ends = after == text.size() || text[after] == '/' || !continues_a_name(text[after]);
        out.append(text, at, found - at).append(starts && ends ? std::string("~") : home);
    }
    return out.append(text, at);
}

bool in_scheme(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
}

// `text` with every URL written as URL_LEFT_OUT, from its scheme to the next blank or quote.
std::string without_urls(const std::string& text) {
    std::string out;
    std::size_t at = 0;
    for (std::size_t found; (found = text.find("://", at)) != std::string::npos;) {
        std::size_t start = found;
        while (start > at && in_scheme(text[start - 1])) --start;
        while (start < found && std::isalpha(static_cast<unsigned char>(text[start])) == 0) ++start;
        std::size_t end = text.find_first_of(" \t\n\"'<>", found);
        if (end == std::string::npos) end = text.size();
        out.append(text, at, start - at);
        bool kept = start == found || std::string_view(text).substr(start, found - start) == KEPT_SCHEME;
        if (kept) out.append(text, start, end - start);
        else out.append(URL_LEFT_OUT);
        at = end;
    }
    return out.append(text, at);
}

std::string file_text(const FileIdentity& file) {
    if (!file.exists) return file.path.string() + " (not there)";
    return file.path.string() + " (" + std::to_string(file.size) + " bytes, modified " + file.modified + ")";
}

void bundle_lines(const BundleFacts& bundle, Lines& out) {
    out.line("Application bundle");
    out.line("  ", bundle.path.string());
    if (!bundle.readable) {
        out.line("  Contents/Info.plist cannot be read as text");
        return;
    }
    out.line("  version ", bundle.short_version.value_or("(none)"), " (build ",
             bundle.version.value_or("(none)"), "), identifier ", bundle.identifier.value_or("(none)"),
             ", from Contents/Info.plist");
}

void manifest_lines(const ManifestContent& manifest, Lines& out) {
    out.line("  ", registration::display_name(manifest.browser), ": ", file_text(manifest.file));
    if (!manifest.bytes) {
        if (manifest.file.exists) out.line("    (not a file that can be read whole)");
        return;
    }
    std::string_view rest = *manifest.bytes;
    while (!rest.empty()) {
        std::string_view line = rest.substr(0, rest.find('\n'));
        out.line("    ", line);
        rest.remove_prefix(std::min(rest.size(), line.size() + 1));
    }
}

}  // namespace

std::string render_support_report(const Report& report, const SupportFacts& facts) {
    Lines out;
    out.line("Ondrake Download: a report for support, written by ondrake-doctor at ", facts.written_at);
    out.line("HOME is written as ~. This report holds no message of yours, no URL and no cookie.");
    out.line("");
    out.line("System");
    for (const std::string& line : facts.system) out.line("  ", line);
    out.line("");
    std::string text = out.take() + render_text(report);
    out.line("");
    out.line("Programs");
    for (const FileIdentity& program : facts.programs) out.line("  ", program.role, ": ", file_text(program));
    out.line("");
    if (facts.bundle) {
        bundle_lines(*facts.bundle, out);
        out.line("");
    }
    out.line("Manifests' contents");
    for (const ManifestContent& manifest : facts.manifests) manifest_lines(manifest, out);
    text += out.take();

    text = without_urls(text);
    if (report.home) text = with_home_as_tilde(text, printable(report.home->native()));
    if (facts.home_resolved) text = with_home_as_tilde(text, printable(facts.home_resolved->native()));
    return text;
}

}  // namespace ondrake::doctor
