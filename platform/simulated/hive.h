// One computer's HKEY_LOCAL_MACHINE in memory, and its REGEDIT4 file form.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace sim {

struct RegValue {
    std::string name;  // spelled as created
    DWORD type = REG_NONE;
    std::string data;
};

struct RegKey {
    std::string name;  // spelled as created
    std::vector<std::unique_ptr<RegKey>> subkeys;  // in creation order
    std::vector<RegValue> values;                  // in creation order

    RegKey* findSubkey(const std::string& wanted);
    RegKey& subkey(const std::string& wanted, bool& created);
    long findValue(const std::string& wanted) const;  // index, or -1
};

// False when the text is not a REGEDIT4 export that we can read.
bool parseHive(const std::string& text, RegKey& root);
std::string serializeHive(const RegKey& root);

}  // namespace sim
