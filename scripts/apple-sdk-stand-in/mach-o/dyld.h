// Darwin's <mach-o/dyld.h>: the name of it our Apple branches use is in darwin_names.h.
#pragma once
#include "../darwin_names.h"
