// A user's set-up in a temporary directory, healthy to begin with: manifests exactly as register
// writes them for a stand-in host, an application-path record naming a stand-in application, and
// a listener on the socket. Tests then break one thing at a time.
#pragma once

#include "browser-native-host/installation/registration.hpp"
#include "browser-native-host/tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace ondrake::doctor::testing_setup {

namespace fs = std::filesystem;
using registration::SupportedBrowser;

inline constexpr std::string_view STATE_DIR = "Library/Application Support/OndrakeDownload";

// A file with the given permissions, as the doctor checks whether a host or application can run.
inline void write_file(const fs::path& path, std::string_view content, mode_t mode = 0644) {
    test::write_file(path, content);
    ::chmod(path.c_str(), mode);
}

// A Unix stream socket bound at `path`, listening unless told otherwise.
class Listener {
public:
    explicit Listener(const std::string& path, bool listening = true, int backlog = 16) : path_(path) {
        fs::create_directories(fs::path(path).parent_path());
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (fd_ < 0 || path.size() >= sizeof address.sun_path) {
            ADD_FAILURE() << "cannot listen on " << path;
            return;
        }
        path.copy(address.sun_path, path.size());
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            (listening && ::listen(fd_, backlog) != 0)) {
            ADD_FAILURE() << "cannot listen on " << path;
        }
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    ~Listener() { close(true); }

    // Stops listening; the socket file stays unless `remove_file`.
    void close(bool remove_file) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (remove_file) ::unlink(path_.c_str());
    }
    int fd() const { return fd_; }

private:
    std::string path_;
    int fd_ = -1;
};

class UserSetUp {
public:
    // `home_name` below the temporary directory; a long one makes the socket path too long.
    explicit UserSetUp(const std::string& home_name = "h")
        : root(fs::canonical(dir.path())),
          home(root / home_name),
          host(root / "bin/ondrake-native-host"),
          app(root / "app/Ondrake Download") {
        fs::create_directories(home);
        write_file(host, "#!/bin/sh\nexit 0\n", 0755);
        write_file(app, "#!/bin/sh\nexit 0\n", 0755);
    }

    fs::path manifest(SupportedBrowser browser) const {
        auto subdirectory = registration::application_support_subdirectory(browser);
        return home / "Library/Application Support" / std::string(*subdirectory) / "NativeMessagingHosts" /
               registration::manifest_file_name();
    }
    fs::path record() const { return home / STATE_DIR / "app-path"; }
    std::string endpoint() const { return (home / STATE_DIR / "ipc/browser.sock").string(); }

    // What register writes, for every browser that has a manifest directory.
    void write_manifests(const fs::path& for_host, bool development = false) const {
        for (SupportedBrowser browser : registration::ALL_BROWSERS) {
            if (!registration::application_support_subdirectory(browser)) continue;
            auto manifest = registration::manifest_json_for(registration::is_firefox(browser), development,
                                                            for_host.string());
            ASSERT_TRUE(manifest.has_value());
            write_file(this->manifest(browser), *manifest);
        }
    }

    // Manifests, record and listener: nothing wrong.
    void make_healthy() {
        write_manifests(host);
        write_file(record(), app.string());
        listener = std::make_unique<Listener>(endpoint());
    }

    test::TempDir dir;  // short, so that the socket path fits a socket address
    fs::path root;      // dir with symbolic links resolved, as the doctor resolves the host
    fs::path home;
    fs::path host;
    fs::path app;
    std::unique_ptr<Listener> listener;
};

// Everything below `root` that a change would show: type, permissions, size, modification time,
// and a file's bytes or a link's target. Access times are left out: reading is not changing.
inline std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat info {};
        if (::lstat(entry.path().c_str(), &info) != 0) continue;
        std::string description = std::to_string(info.st_mode) + " " + std::to_string(info.st_size) + " " +
                                  std::to_string(info.st_ino);
        if (S_ISLNK(info.st_mode)) {
            description +=
                " " + std::to_string(info.st_mtime) + " -> " + fs::read_symlink(entry.path()).string();
        } else {
            // The file clock's count is a 128-bit integer under libc++, which std::to_string has no
            // overload for: nanoseconds are as fine a grain and fit in 64 bits.
            std::error_code ignored;
            auto since_epoch = fs::last_write_time(entry.path(), ignored).time_since_epoch();
            description +=
                " " +
                std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count());
        }
        if (S_ISREG(info.st_mode)) description += " " + test::read_file(entry.path()).value_or("?");
        tree[fs::relative(entry.path(), root).string()] = description;
    }
    return tree;
}

}  // namespace ondrake::doctor::testing_setup
