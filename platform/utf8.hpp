// UTF-8 validity, the one check of it for both deliverables: the host checks every text it
// encodes or reads from a file, the Safari handler the application's reply, which the script
// receives as a string. Not a system call, but it sits here because the platform layer is what
// the Safari handler may share with the host.
#pragma once

#include <string_view>

namespace ondrake::platform {

// True when `bytes` is well-formed UTF-8 as the Unicode Standard defines it (Table 3-7): no
// overlong forms, no surrogate code points, nothing above U+10FFFF, no truncated sequence.
bool is_valid_utf8(std::string_view bytes);

}  // namespace ondrake::platform
