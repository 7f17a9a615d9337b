// UTF-8 well-formedness of the application's reply, which the script receives as a string.
#pragma once

#include <string_view>

namespace ondrake::safari {

// True when `bytes` is well-formed UTF-8 as the Unicode Standard defines it (Table 3-7): no
// overlong forms, no surrogate code points, nothing above U+10FFFF, no truncated sequence.
bool is_well_formed_utf8(std::string_view bytes);

}  // namespace ondrake::safari
