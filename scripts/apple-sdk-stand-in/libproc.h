// Darwin's <libproc.h>: the names of it our Apple branches use are in darwin_names.h.
#pragma once
#include "darwin_names.h"
