// What the three layers of a hive share: the scan that finds a file's key
// headers (hive_scan.cc), the model of its keys and values (hive_model.cc)
// and the image that writes it back (hive_image.cc). Not for other callers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace sim::hive {

constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";
constexpr size_t kStretch = size_t{1} << 17;  // a large file is read in stretches of this size, which stay in the cache
constexpr uint32_t kNoHeader = std::numeric_limits<uint32_t>::max();

// The length of the path of a key's parent: up to its last separator, 0 for
// a key right below the root.
size_t parentLength(std::string_view path);

// A digest of a path's last 16 bytes, folded, and its length.
uint32_t digestOf(std::string_view path);

// A whole read at offset: fewer bytes only at the file's end or on an error.
size_t readAt(int fd, char* into, size_t size, size_t offset);

}  // namespace sim::hive
