// The largest frame body, in bytes. One limit for every frame the host reads or writes: the
// browser's messages, the host's replies and both directions on the application's socket. Chrome
// refuses a host's reply over 1 MiB; the host keeps to 64 KiB, which is far above any message of
// the protocol and keeps every buffer small.
#pragma once

#include <cstdint>

namespace ondrake::framing {

inline constexpr std::uint32_t MAX_FRAME = 65536;

}  // namespace ondrake::framing
