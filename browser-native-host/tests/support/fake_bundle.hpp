// Fake application bundles for the tests of registration and of where the host is installed.
#pragma once

#include "browser-native-host/tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace ondrake::test {

// An Info.plist in Apple's XML form naming the bundle's main executable.
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
    std::filesystem::path bundle;
    std::filesystem::path macos;
    std::filesystem::path host;
    std::filesystem::path app;

    FakeBundle(const std::filesystem::path& parent, std::string_view name, std::string_view main_name,
               const std::optional<std::filesystem::path>& host_source = std::nullopt)
        : bundle(parent / (std::string(name) + ".app")),
          macos(bundle / "Contents/MacOS"),
          host(macos / "ondrake-native-host"),
          app(macos / std::string(main_name)) {
        write_file(bundle / "Contents/Info.plist", xml_info_plist(main_name));
        write_file(app, "#!/bin/sh\nexit 0\n");
        if (host_source) {
            std::error_code error;
            std::filesystem::copy_file(*host_source, host, std::filesystem::copy_options::overwrite_existing,
                                       error);
            EXPECT_FALSE(error) << "cannot copy " << *host_source << ": " << error.message();
        } else {
            write_file(host, "stand-in host\n");
        }
    }
};

// A bundle made directly in /Applications for one test, holding a copy of `host_source`, removed
// with everything it created, /Applications included when the test had to create it. get() is
// null when the bundle could not be made (writing to /Applications needs root on most systems).
class ApplicationsBundle {
public:
    explicit ApplicationsBundle(const std::filesystem::path& host_source) {
        if (::mkdir("/Applications", 0755) == 0) {
            created_applications_ = true;
        } else if (errno != EEXIST) {
            return;
        }
        std::random_device random;
        std::string name =
            "ondrake-registration-test-" + std::to_string(::getpid()) + "-" + std::to_string(random());
        if (::mkdir(("/Applications/" + name + ".app").c_str(), 0755) != 0) return;
        bundle_.emplace(std::filesystem::path("/Applications"), name, "Ondrake Test", host_source);
    }
    ApplicationsBundle(const ApplicationsBundle&) = delete;
    ApplicationsBundle& operator=(const ApplicationsBundle&) = delete;
    ~ApplicationsBundle() {
        std::error_code ignored;
        if (bundle_) std::filesystem::remove_all(bundle_->bundle, ignored);
        if (created_applications_) ::rmdir("/Applications");
    }

    const FakeBundle* get() const { return bundle_ ? &*bundle_ : nullptr; }

private:
    bool created_applications_ = false;
    std::optional<FakeBundle> bundle_;
};

}  // namespace ondrake::test
