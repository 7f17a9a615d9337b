// What a report for support adds to the doctor's findings: the files the set-up is made of (paths,
// sizes, modification times), the application bundle's version, the manifests' bytes and the
// system's version. Gathering them reads files and writes nothing.
#pragma once

#include "tools/doctor/report.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ondrake::doctor {

struct FileIdentity {
    std::string role;  // what the file is to the set-up: "host", "application", ...
    std::filesystem::path path;
    bool exists = false;
    std::uintmax_t size = 0;
    std::string modified;  // UTC, ISO 8601
};

struct BundleFacts {
    std::filesystem::path path;
    bool readable = false;  // its Contents/Info.plist could be read as text
    std::optional<std::string> identifier;
    std::optional<std::string> short_version;
    std::optional<std::string> version;
};

struct ManifestContent {
    SupportedBrowser browser = SupportedBrowser::Chrome;
    FileIdentity file;
    std::optional<std::string> bytes;  // none: no regular file that could be read whole
};

struct SupportFacts {
    std::string written_at;  // UTC, ISO 8601
    // HOME with symbolic links resolved, when that differs from HOME as set: paths below it are
    // written from ~ as well.
    std::optional<std::filesystem::path> home_resolved;
    std::vector<std::string> system;  // the system's name and version, then the kernel's
    std::vector<FileIdentity> programs;
    std::optional<BundleFacts> bundle;
    std::vector<ManifestContent> manifests;  // one per manifest file, in registration order
};

// `doctor`: where the doctor itself runs from, when the system tells.
SupportFacts gather_support_facts(const Report& report, const std::optional<std::filesystem::path>& doctor);

}  // namespace ondrake::doctor
