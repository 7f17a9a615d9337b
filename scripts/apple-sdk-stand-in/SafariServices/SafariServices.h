// SafariServices' umbrella header: the one name of it the adapter uses is in apple_sdk_names.h.
#pragma once
#include "../apple_sdk_names.h"
