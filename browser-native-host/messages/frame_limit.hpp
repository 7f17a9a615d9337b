// The largest frame body, in bytes. One limit for every frame the host reads or writes: the
// browser's messages, the host's replies and both directions on the application's socket. Chrome
// refuses a host's reply over 1 MiB; the host keeps to 64 KiB, which is far above any message of
// the protocol and keeps every buffer small.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ondrake::framing {

inline constexpr std::uint32_t MAX_FRAME = 65536;

// The rule for every frame's body, whichever way it travels: 1 to MAX_FRAME bytes. Every check of
// a body's size is this one: the frame readers and writers (framing, ipc) report a body that
// breaks it as FrameError Empty or TooLarge, and the encoders, which must not hand a writer such a
// body, ask it before they do.
constexpr bool fits_one_frame(std::size_t size) { return size >= 1 && size <= MAX_FRAME; }

}  // namespace ondrake::framing
