// record_hex PRIMARY USER PASSWORD DISTRIBUTED: prints the 76 bytes of that
// role record in hex, its credentials scrambled.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "credentials/scramble.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: record_hex PRIMARY USER PASSWORD DISTRIBUTED\n");
        return 2;
    }
    ServerRoleRecord record = {};
    std::strncpy(record.primaryName, argv[1], sizeof record.primaryName - 1);
    record.isDistributed = std::atoi(argv[4]);
    scrambleText(record.userName, argv[2]);
    scrambleText(record.password, argv[3]);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (size_t i = 0; i < sizeof record; ++i) std::printf("%02x", bytes[i]);
    std::printf("\n");
    return 0;
}
