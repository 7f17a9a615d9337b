// The search for CFBundleExecutable in an Info.plist's text, over arbitrary text. It never
// parses, so it must never fail on any input; whatever it finds is used as a file name beside
// the host, and so must be a single, trimmed, non-empty path component found in the text.
#include "browser-native-host/installation/install_location.hpp"
#include "browser-native-host/common/text.hpp"
#include "fuzz/invariant.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using ondrake::fuzz::require;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto name = ondrake::install_location::bundle_executable_name(text);
    if (!name) return 0;
    require(!name->empty(), "an executable name is not empty");
    require(name->find('/') == std::string::npos, "an executable name holds no \"/\"", *name);
    require(name->find('\0') == std::string::npos, "an executable name holds no NUL", *name);
    require(ondrake::text::trim_white_space(*name) == *name, "an executable name is trimmed", *name);
    require(text.find(*name) != std::string_view::npos, "an executable name comes from the text", *name);
    return 0;
}
