// The lab of Samba servers that scripts/smb-servers.sh starts, as the tests
// that run beside it see it: each server's registry read and written with
// Samba's own net, a second path beside the program's.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The lab's folder (VESKCFG_SMB_LAB); empty outside a lab.
std::string sambaLab();

// The server's smb.conf, for net -s.
std::string sambaConf(const std::string& server);

// The list key of a primary, as net names it.
extern const char kSambaListKey[];

// Leaves the server's registry without the product's keys, then with the
// list given (none: no list key), values in that order. False when net
// could not write it.
bool putSambaList(const std::string& server, const std::optional<std::vector<std::string>>& list,
                  const std::string& scratchFolder);

// The server's list, in its order; nullopt when it has no list key.
std::optional<std::vector<std::string>> sambaList(const std::string& server);
