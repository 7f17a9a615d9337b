// Dispatch's umbrella header: the names of it the adapter uses are in apple_sdk_names.h.
#pragma once
#include "../apple_sdk_names.h"
