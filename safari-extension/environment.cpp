#include "safari-extension/environment.hpp"

#include "platform/platform.hpp"

namespace ondrake::safari {

Clock monotonic_clock() {
    return [] { return platform::monotonic_raw_ns(); };
}

}  // namespace ondrake::safari
