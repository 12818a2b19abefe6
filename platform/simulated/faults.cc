#include "platform/simulated/faults.h"

#include <cstdio>
#include <map>

#include "platform/simulated/files.h"
#include "platform/simulated/lines.h"

namespace sim {

namespace {
struct FaultTable {
    FileIdentity identity;
    std::map<std::string, LONG> codes;
};
}  // namespace

// The faults file is read again only when it changed, so that a walk of a
// long list does not parse it once per step.
LONG faultFor(const std::string& folder, const char* call) {
    if (folder.empty()) return 0;
    static std::map<std::string, FaultTable> tables;
    std::string path = folder + "/faults";
    FileIdentity identity = identityOf(path);
    FaultTable& table = tables[path];
    if (!(identity == table.identity)) {
        table.identity = identity;
        table.codes.clear();
        std::string content;
        if (identity.exists && readWholeFile(path, content)) {
            for (std::string_view line : linesOf(content)) {
                char name[128] = {};
                long code = 0;
                if (std::sscanf(std::string(line).c_str(), "%127s %ld", name, &code) == 2)
                    table.codes[name] = static_cast<LONG>(code);
            }
        }
    }
    auto found = table.codes.find(call);
    return found == table.codes.end() ? 0 : found->second;
}

}  // namespace sim
