// Boost.JSON's compiled part, built from its installed sources (its header-only form) for the
// host executable, which then links no Boost library archive at all. Tests and tools link the
// installed library; this translation unit is for the static host only.
#include <boost/json/src.hpp>
