// Our stand-in for Morvane.dll, the maker's product-information library.
#include <cstring>

#include "platform/maker.h"
#include "platform/standin_faults.h"

// Fills the product record: the product key name, then a version word in
// bytes 24-25.
LONG MorvaneProductInfo(LONG recordType, void* productInfo) {
    if (!productInfo || recordType != ROLE_RECORD_TYPE || StandInFault("productInfo")) return 0;
    unsigned char* record = static_cast<unsigned char*>(productInfo);
    std::memset(record, 0, PRODUCT_INFO_SIZE);
    std::memcpy(record + PRODUCT_NAME_OFFSET, "Vesklane", sizeof "Vesklane");
    record[PRODUCT_NAME_OFFSET + PRODUCT_NAME_SIZE] = 1;
    return 1;
}
