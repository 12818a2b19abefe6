// Our stand-in for Morvane.dll, the maker's product-information library.
#include <cstring>

#include "platform/maker.h"
#include "platform/standin_faults.h"

static const LONG kRoleRecordType = 65;

// Fills the 28-byte product record: bytes 4-23 the product key name, bytes
// 24-25 a version word.
LONG MorvaneProductInfo(LONG recordType, void* productInfo) {
    if (!productInfo || recordType != kRoleRecordType || StandInFault("productInfo")) return 0;
    unsigned char* record = static_cast<unsigned char*>(productInfo);
    std::memset(record, 0, 28);
    std::memcpy(record + 4, "Vesklane", sizeof "Vesklane");
    record[24] = 1;
    return 1;
}
