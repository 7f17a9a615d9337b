// Reading a small file in one piece, for the files registration compares or searches and the
// launcher follows. Every read has a ceiling: the files live under the user's home or inside a
// bundle, where anything can be planted, so the size a file claims is never trusted.
#pragma once

#include <boost/system/result.hpp>

#include <cstddef>
#include <filesystem>
#include <string>

namespace ondrake::whole_file {

// The most bytes each kind of file may hold; a larger file is refused like an unreadable one.
// Each is far above what a sound file holds and far below what would weigh on the host's memory.
// The application-path record holds one path: macOS paths end at PATH_MAX (1024 bytes), and the
// rest leaves room for white space that the launcher trims.
inline constexpr std::size_t PATH_RECORD_CEILING = 4 * 1024;
// A native-messaging manifest: ours is well under 1 KiB; a hand-edited one with many admitted
// extensions still fits.
inline constexpr std::size_t MANIFEST_CEILING = 64 * 1024;
// A bundle's Info.plist: a few KiB usually, some 100 KiB for an application that declares many
// document types and URL schemes.
inline constexpr std::size_t PROPERTY_LIST_CEILING = 1024 * 1024;

// The whole content of the regular file at `path` (symbolic links followed). Fails when it is
// missing or unreadable, when it is not a regular file (a FIFO or device is refused without
// blocking), and with errc::file_too_large when it holds more than `ceiling` bytes. At most
// `ceiling` + 1 bytes are ever read or held, whatever the file claims to hold.
[[nodiscard]] boost::system::result<std::string> read(const std::filesystem::path& path, std::size_t ceiling);

// The same, and errc::illegal_byte_sequence when the content is not valid UTF-8.
[[nodiscard]] boost::system::result<std::string> read_utf8(const std::filesystem::path& path,
                                                           std::size_t ceiling);

}  // namespace ondrake::whole_file
