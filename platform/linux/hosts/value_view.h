// One registry value as a call sees it.
#pragma once

#include <string_view>

#include "platform/win32.h"

namespace sim {

// The views last until the next call on whatever holds the value (a hive, a
// host).
struct ValueView {
    std::string_view name;
    DWORD type = REG_NONE;
    std::string_view data;
};

}  // namespace sim
