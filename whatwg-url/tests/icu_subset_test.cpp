// Checks on the ICU data that this program, like the host, is linked with: the URL library's
// subset (icu-data/items.txt). The conformance cases in the same program show that the subset
// is enough; these show that it is the subset that they ran on, and that UTS #46 opens from it
// without ICU falling back to anything.
#include <gtest/gtest.h>
#include <unicode/udata.h>
#include <unicode/uidna.h>

namespace whatwg {
namespace {

TEST(IcuDataSubset, OpensUts46WithoutError) {
    UErrorCode status = U_ZERO_ERROR;
    UIDNA* idna = uidna_openUTS46(UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ, &status);
    EXPECT_EQ(status, U_ZERO_ERROR) << u_errorName(status);
    if (idna != nullptr) uidna_close(idna);
}

TEST(IcuDataSubset, HoldsTheListedItemsOnly) {
    struct Item {
        const char* type;
        const char* name;
        bool present;
    };
    const Item items[] = {
        {"nrm", "uts46", true},
        {"nrm", "nfkc", false},                // the normaliser data beside it in the full package
        {"res", "root", false},                // locale data
        {"cnv", "ibm-5348_P100-1997", false},  // a converter
    };
    for (const Item& item : items) {
        UErrorCode status = U_ZERO_ERROR;
        UDataMemory* memory = udata_open(nullptr, item.type, item.name, &status);
        EXPECT_EQ(U_SUCCESS(status), item.present)
            << item.name << "." << item.type << ": " << u_errorName(status);
        if (memory != nullptr) udata_close(memory);
    }
}

}  // namespace
}  // namespace whatwg
