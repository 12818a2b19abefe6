// The local computer's open connections, kept in its connections file.
#pragma once

#include <string>

namespace sim {

bool hasConnection(const std::string& server, const std::string& share);

}  // namespace sim
