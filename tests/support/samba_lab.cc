#include "tests/support/samba_lab.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

namespace {

// Samba's net on a server's registry: what it printed, and whether it
// succeeded.
std::pair<std::string, bool> net(const std::string& server, const std::vector<std::string>& args) {
    std::string command = "net -s '" + sambaConf(server) + "' registry";
    for (const std::string& arg : args) command += " '" + arg + "'";
    std::string out;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return {"", false};
    char buffer[4096];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
    return {out, pclose(pipe) == 0};
}

}  // namespace

const char kSambaListKey[] = "HKLM\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers";

std::string sambaLab() {
    const char* lab = std::getenv("VESKCFG_SMB_LAB");
    return lab ? lab : "";
}

std::string sambaConf(const std::string& server) { return sambaLab() + "/" + server + "/smb.conf"; }

bool putSambaList(const std::string& server, const std::optional<std::vector<std::string>>& list,
                  const std::string& scratchFolder) {
    net(server, {"deletekey_recursive", "HKLM\\SOFTWARE\\Tallmere"});
    if (!list) return true;
    std::string reg = "REGEDIT4\n\n[" + std::string(kSambaListKey) + "]\n";
    for (const std::string& name : *list) reg += "\"" + name + "\"=\"\"\n";
    const std::string file = scratchFolder + "/list.reg";
    std::ofstream(file) << reg << "\n";
    return net(server, {"import", file}).second;
}

std::optional<std::vector<std::string>> sambaList(const std::string& server) {
    auto [listing, listed] = net(server, {"enumerate", kSambaListKey});
    if (!listed) return std::nullopt;
    std::vector<std::string> names;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("Valuename", 0) == 0) names.push_back(line.substr(line.find("= ") + 2));
    return names;
}
