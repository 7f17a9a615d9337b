// Temporary directories, HOME overrides and fake application bundles for the registration tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>

namespace ondrake::testing_files {

namespace fs = std::filesystem;

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && base[0] == '/' ? base : "/tmp") +
                              "/ondrake-registration-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed for " << pattern;
        }
        std::error_code ignored;
        path_ = fs::canonical(pattern, ignored);
        if (path_.empty()) path_ = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Sets HOME (nullptr: unsets it) and restores the earlier value afterwards.
class ScopedHome {
public:
    explicit ScopedHome(const char* value) {
        if (const char* old = std::getenv("HOME")) saved_ = old;
        if (value) ::setenv("HOME", value, 1);
        else ::unsetenv("HOME");
    }
    explicit ScopedHome(const fs::path& value) : ScopedHome(value.c_str()) {}
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;
    ~ScopedHome() {
        if (saved_) ::setenv("HOME", saved_->c_str(), 1);
        else ::unsetenv("HOME");
    }

private:
    std::optional<std::string> saved_;
};

inline void write_file(const fs::path& path, std::string_view content) {
    std::error_code ignored;
    fs::create_directories(path.parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

// The file's bytes, or nothing when it cannot be opened.
inline std::optional<std::string> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline ino_t inode_of(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

inline std::string xml_info_plist(std::string_view executable_name) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n"
           "\t<key>CFBundleIdentifier</key>\n\t<string>com.ondrake.download</string>\n"
           "\t<key>CFBundleExecutable</key>\n\t<string>" +
           std::string(executable_name) +
           "</string>\n"
           "</dict>\n</plist>\n";
}

// <parent>/<name>.app with Contents/Info.plist naming `main_name`, Contents/MacOS/<main_name> and
// Contents/MacOS/ondrake-native-host (a copy of `host_source` when given, else a stand-in file).
struct FakeBundle {
    fs::path bundle;
    fs::path macos;
    fs::path host;
    fs::path app;

    FakeBundle(const fs::path& parent, std::string_view name, std::string_view main_name,
               const std::optional<fs::path>& host_source = std::nullopt)
        : bundle(parent / (std::string(name) + ".app")),
          macos(bundle / "Contents/MacOS"),
          host(macos / "ondrake-native-host"),
          app(macos / std::string(main_name)) {
        write_file(bundle / "Contents/Info.plist", xml_info_plist(main_name));
        write_file(app, "#!/bin/sh\nexit 0\n");
        if (host_source) {
            std::error_code error;
            fs::copy_file(*host_source, host, fs::copy_options::overwrite_existing, error);
            EXPECT_FALSE(error) << "cannot copy " << *host_source << ": " << error.message();
        } else {
            write_file(host, "stand-in host\n");
        }
    }
};

}  // namespace ondrake::testing_files
