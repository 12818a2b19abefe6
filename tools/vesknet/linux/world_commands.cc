// The commands that make and change a simulated network: init, add,
// offline and online, fault, calls. A world's files are changed as VeskCfg
// changes them, under its lock and atomically.
#include "tools/vesknet/world_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/linux/console/charset.h"
#include "platform/linux/hosts/faults.h"
#include "platform/linux/machine/codepage.h"
#include "platform/linux/machine/files.h"
#include "platform/linux/machine/world.h"

namespace vesknet {

namespace {

// The folder of an existing computer, or empty after saying why.
std::string computerFolder(const Settings& settings, const std::string& name) {
    if (!std::filesystem::is_directory(settings.world)) {
        fail(settings.world + ": no such world (vesknet init makes one)");
        return {};
    }
    std::string folder = sim::findComputerFolder(name);
    if (folder.empty()) fail("no computer " + sim::ansiToLocale(printable(name)) + " in " + settings.world + " (vesknet add makes one)");
    return folder;
}

// Changes one file of a folder as VeskCfg does: under its lock, atomically.
int replaceFile(const std::string& folder, const std::string& file, const std::string& content) {
    sim::FolderLock lock(folder);
    if (!lock.held()) return fail(folder + ": cannot be locked (error " + std::to_string(lock.code()) + ")");
    if (LONG code = sim::replaceFileAtomically(folder + "/" + file, content))
        return fail(folder + "/" + file + ": cannot be written (error " + std::to_string(code) + ")");
    return 0;
}

std::string fileText(const std::string& path) {
    std::string content;
    sim::readWholeFile(path, content);
    return content;
}

int makeFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return fail(path + ": " + std::strerror(errno));
    return 0;
}

}  // namespace

int initWorld(const Settings& settings) {
    std::error_code failed;
    std::filesystem::create_directories(std::filesystem::path(settings.world).parent_path(), failed);
    if (int code = makeFolder(settings.world)) return code;
    if (int code = makeFolder(settings.world + "/" + settings.console)) return code;
    std::printf("World %s, console %s.\n", settings.world.c_str(), settings.console.c_str());
    return 0;
}

int addComputer(const Settings& settings, const std::string& name, const std::vector<std::string>& accounts) {
    if (!sim::isComputerName(name)) return fail("\"" + sim::ansiToLocale(printable(name)) + "\" cannot be a computer's name");
    if (!std::filesystem::is_directory(settings.world))
        return fail(settings.world + ": no such world (vesknet init makes one)");
    std::string folder = sim::findComputerFolder(name);
    if (folder.empty()) {
        folder = settings.world + "/" + name;
        if (int code = makeFolder(folder)) return code;
    }
    std::string lines = fileText(folder + "/accounts");
    for (const std::string& account : accounts) {
        size_t colon = account.find(':');
        if (colon == std::string::npos || colon == 0 || account.find('\n') != std::string::npos)
            return fail("\"" + account + "\" is not USER:PASSWORD");
        lines += account + "\n";
    }
    return replaceFile(folder, "accounts", lines);
}

int setOffline(const Settings& settings, const std::string& name, bool offline) {
    std::string folder = computerFolder(settings, name);
    if (folder.empty()) return kFailed;
    std::string mark = folder + "/offline";
    if (offline) return replaceFile(folder, "offline", "");
    if (unlink(mark.c_str()) != 0 && errno != ENOENT) return fail(mark + ": " + std::strerror(errno));
    return 0;
}

int setFault(const Settings& settings, const std::string& name, const std::string& call, long long code, long long nth,
             bool clear) {
    std::string folder = computerFolder(settings, name);
    if (folder.empty()) return kFailed;
    if (clear) return replaceFile(folder, "faults", "");
    sim::Call known;
    if (!sim::callNamed(call, known)) {
        std::string names;
        for (size_t i = 0; i < sim::kCallCount; ++i) names += std::string(i ? ", " : "") + sim::callName(static_cast<sim::Call>(i));
        return fail("no call named " + call + "; the calls are " + names);
    }
    std::string line = call + " " + std::to_string(code) + (nth > 0 ? " " + std::to_string(nth) : "") + "\n";
    return replaceFile(folder, "faults", fileText(folder + "/faults") + line);
}

int listCalls() {
    for (size_t i = 0; i < sim::kCallCount; ++i) std::printf("%s\n", sim::callName(static_cast<sim::Call>(i)));
    return 0;
}

}  // namespace vesknet
