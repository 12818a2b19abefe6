// What the Linux platform's registry offers beside the Win32 calls.
#pragma once

#include <cstddef>
#include <string>

namespace sim {

// Key handles that are open now; tests use it to find leaks.
size_t openKeyCount();

}  // namespace sim
