#include "browser-native-host/common/whole_file.hpp"

#include "platform/utf8.hpp"

#include <algorithm>
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

boost::system::error_code last_error() {
    return boost::system::error_code(errno, boost::system::generic_category());
}

}  // namespace

boost::system::result<std::string> read(const std::filesystem::path& path, std::size_t ceiling) {
    namespace errc = boost::system::errc;
    using errc::make_error_code;
    // O_NONBLOCK so that opening a FIFO planted at the path returns at once; the type check
    // below then refuses it. O_NOCTTY so that a terminal planted there never becomes ours.
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0) return last_error();
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return last_error();
    if (S_ISDIR(info.st_mode)) return make_error_code(errc::is_a_directory);
    if (!S_ISREG(info.st_mode)) return make_error_code(errc::invalid_argument);

    // Grown as bytes arrive, never sized by st_size: a sparse file claims terabytes it never
    // holds. Reading one byte past the ceiling tells an oversized file from one that fits exactly.
    std::string content;
    char buffer[16384];
    while (content.size() <= ceiling) {
        std::size_t wanted = std::min(sizeof buffer, ceiling + 1 - content.size());
        ssize_t n = ::read(file.get(), buffer, wanted);
        if (n > 0) {
            content.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return content;
        } else if (errno != EINTR) {
            return last_error();
        }
    }
    return make_error_code(errc::file_too_large);
}

boost::system::result<std::string> read_utf8(const std::filesystem::path& path, std::size_t ceiling) {
    auto content = read(path, ceiling);
    if (content && !platform::is_valid_utf8(*content)) {
        return boost::system::errc::make_error_code(boost::system::errc::illegal_byte_sequence);
    }
    return content;
}

}  // namespace ondrake::whole_file
