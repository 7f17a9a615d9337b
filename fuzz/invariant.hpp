// How a fuzz target reports a broken invariant: the invariant and the offending values on
// standard error, then abort(), which libFuzzer records as a crash and saves the input for.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace ondrake::fuzz {

[[noreturn]] inline void broken(std::string_view invariant, std::string_view detail = {}) {
    std::fprintf(stderr, "invariant broken: %.*s\n", static_cast<int>(invariant.size()), invariant.data());
    if (!detail.empty()) {
        std::fprintf(stderr, "  with: %.*s\n", static_cast<int>(detail.size()), detail.data());
    }
    std::abort();
}

inline void require(bool holds, std::string_view invariant, std::string_view detail = {}) {
    if (!holds) broken(invariant, detail);
}

}  // namespace ondrake::fuzz
