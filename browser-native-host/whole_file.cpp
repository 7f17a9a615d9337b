#include "browser-native-host/whole_file.hpp"

#include "browser-native-host/text.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ondrake::whole_file {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

std::optional<std::string> read(const std::filesystem::path& path) {
    // O_NONBLOCK so that opening a FIFO planted at the path returns at once; the type check
    // below then refuses it.
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;

    std::string content;
    content.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n > 0) {
            content.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return content;
        } else if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> read_utf8(const std::filesystem::path& path) {
    auto content = read(path);
    if (!content || !text::is_valid_utf8(*content)) return std::nullopt;
    return content;
}

}  // namespace ondrake::whole_file
