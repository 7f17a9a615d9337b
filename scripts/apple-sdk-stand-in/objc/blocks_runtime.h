// GNUstep's headers include this libobjc2 header for blocks support; Debian's GNUstep is built on
// GCC's runtime, which has none. libblocksruntime's <Block.h> declares the same functions.
#pragma once
#include <Block.h>
