// vesknet: makes, inspects, checks and draws a simulated network for VeskCfg,
// through the same world and hive code that VeskCfg itself runs on.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/simulated/faults.h"
#include "platform/simulated/files.h"
#include "platform/simulated/world.h"
#include "tools/vesknet/network_view.h"

namespace {

constexpr int kFailed = 2;  // the world cannot be read or changed

struct Settings {
    std::string world;
    std::string console;
};

int fail(const std::string& why) {
    std::fprintf(stderr, "vesknet: %s\n", why.c_str());
    return kFailed;
}

// The folder of an existing computer, or empty after saying why.
std::string computerFolder(const Settings& settings, const std::string& name) {
    if (!std::filesystem::is_directory(settings.world)) {
        fail(settings.world + ": no such world (vesknet init makes one)");
        return {};
    }
    std::string folder = sim::findComputerFolder(name);
    if (folder.empty()) fail("no computer " + name + " in " + settings.world + " (vesknet add makes one)");
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

int init(const Settings& settings) {
    std::error_code failed;
    std::filesystem::create_directories(std::filesystem::path(settings.world).parent_path(), failed);
    if (int code = makeFolder(settings.world)) return code;
    if (int code = makeFolder(settings.world + "/" + settings.console)) return code;
    std::printf("World %s, console %s.\n", settings.world.c_str(), settings.console.c_str());
    return 0;
}

int add(const Settings& settings, const std::string& name, const std::vector<std::string>& accounts) {
    if (!sim::isComputerName(name)) return fail("\"" + name + "\" cannot be a computer's name");
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

int setFault(const Settings& settings, const std::string& name, const std::string& call, long code, long nth,
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
    if (nth < 0) return fail("N counts calls from 1");
    std::string line = call + " " + std::to_string(code) + (nth > 0 ? " " + std::to_string(nth) : "") + "\n";
    return replaceFile(folder, "faults", fileText(folder + "/faults") + line);
}

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
    return out;
}

nlohmann::json asJson(const vesknet::NetworkView& view) {
    nlohmann::json computers = nlohmann::json::array();
    for (const vesknet::Computer& computer : view.computers) {
        const vesknet::Record* record = view.record(computer.name);
        nlohmann::json entry = {{"name", computer.name},
                                {"role", vesknet::roleOf(view, computer.name)},
                                {"offline", computer.offline},
                                {"accounts", computer.accounts},
                                {"faults", computer.faults}};
        if (record && record->readable) {
            entry["primary"] = record->primary;
            entry["storedAccount"] = record->userName;
        }
        if (computer.hasList) entry["list"] = computer.list;
        if (computer.hiveBadLine) entry["hiveBadLine"] = computer.hiveBadLine;
        computers.push_back(entry);
    }
    nlohmann::json records = nlohmann::json::array();
    for (const vesknet::Record& record : view.records) {
        nlohmann::json entry = {{"server", record.server}, {"readable", record.readable}};
        if (record.readable) {
            entry["primary"] = record.primary;
            entry["isDistributed"] = record.isDistributed;
            entry["storedAccount"] = record.userName;
        }
        records.push_back(entry);
    }
    return {{"world", view.world}, {"console", view.console}, {"computers", computers}, {"records", records},
            {"connections", view.connections}};
}

void showText(const vesknet::NetworkView& view) {
    std::printf("World %s, console %s.\n\n", view.world.c_str(), view.console.c_str());
    for (const vesknet::Computer& computer : view.computers) {
        const vesknet::Record* record = view.record(computer.name);
        std::string role = vesknet::roleOf(view, computer.name);
        if (role == "distributed") role += " of " + record->primary;
        std::printf("%-16s %-28s", computer.name.c_str(), role.c_str());
        if (record && record->readable) std::printf(" stored account %s", record->userName.c_str());
        if (computer.offline) std::printf(" (offline)");
        std::printf("\n");
        if (computer.hasList) std::printf("%16s lists: %s\n", "", computer.list.empty() ? "(nothing)" : joined(computer.list).c_str());
        if (!computer.faults.empty()) std::printf("%16s faults: %s\n", "", joined(computer.faults).c_str());
        if (computer.hiveBadLine) std::printf("%16s hklm.reg cannot be parsed at line %zu\n", "", computer.hiveBadLine);
    }
    for (const vesknet::Record& record : view.records) {
        if (!view.computer(record.server))
            std::printf("%-16s %-28s (a record of a computer that is not in the world)\n", record.server.c_str(),
                        vesknet::roleOf(view, record.server).c_str());
    }
    std::printf("\nOpen connections of %s: %s\n", view.console.c_str(),
                view.connections.empty() ? "none" : joined(view.connections).c_str());
}

int show(const Settings& settings, bool json) {
    vesknet::NetworkView view;
    std::string why;
    if (!vesknet::readNetwork(settings.world, settings.console, view, why)) return fail(why);
    if (json) std::printf("%s\n", asJson(view).dump(2).c_str());
    else showText(view);
    return 0;
}

int check(const Settings& settings) {
    vesknet::NetworkView view;
    std::string why;
    if (!vesknet::readNetwork(settings.world, settings.console, view, why)) return fail(why);
    std::vector<vesknet::Finding> findings = vesknet::audit(view);
    for (const vesknet::Finding& finding : findings)
        std::printf("%s; mend: %s\n", finding.problem.c_str(), finding.mend.c_str());
    if (findings.empty()) std::printf("consistent: every record and every list agree.\n");
    return findings.empty() ? 0 : 1;
}

std::string quotedId(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Each primary with its distributed servers; offline computers greyed; what
// the audit finds in red.
std::string dotOf(const vesknet::NetworkView& view) {
    std::string dot = "digraph vesklane {\n  rankdir=LR;\n  node [shape=box, style=rounded];\n";
    for (const vesknet::Computer& computer : view.computers) {
        std::string role = vesknet::roleOf(view, computer.name);
        std::string attributes = role == "primary" ? "penwidth=2" : "";
        if (computer.name == view.console) attributes += std::string(attributes.empty() ? "" : ", ") + "shape=note";
        if (computer.offline) attributes += std::string(attributes.empty() ? "" : ", ") + "style=\"rounded,filled\", fillcolor=gray80, fontcolor=gray40";
        dot += "  " + quotedId(computer.name) + (attributes.empty() ? "" : " [" + attributes + "]") + ";\n";
    }
    for (const vesknet::Record& record : view.records) {
        if (!record.readable || record.primary == record.server) continue;
        const vesknet::Computer* primary = view.computer(record.primary);
        bool listed = false;
        for (const std::string& name : primary ? primary->list : std::vector<std::string>())
            if (name == record.server) listed = true;
        dot += "  " + quotedId(record.primary) + " -> " + quotedId(record.server) +
               (listed ? ";\n" : " [color=red, fontcolor=red, label=\"record only\"];\n");
    }
    for (const vesknet::Computer& computer : view.computers) {
        for (const std::string& name : computer.list) {
            const vesknet::Record* record = view.record(name);
            if (record && record->readable && record->primary == computer.name) continue;
            dot += "  " + quotedId(computer.name) + " -> " + quotedId(name) +
                   " [color=red, fontcolor=red, style=dashed, label=\"listed only\"];\n";
        }
    }
    return dot + "}\n";
}

int graph(const Settings& settings, const std::string& format, const std::string& output) {
    vesknet::NetworkView view;
    std::string why;
    if (!vesknet::readNetwork(settings.world, settings.console, view, why)) return fail(why);
    std::string dot = dotOf(view);
    std::string target = output.empty() ? "/dev/stdout" : output;
    if (format == "dot") {
        FILE* file = std::fopen(target.c_str(), "w");
        if (!file) return fail(target + ": " + std::strerror(errno));
        std::fputs(dot.c_str(), file);
        std::fclose(file);
        return 0;
    }
    std::string command = "dot -Tsvg -o '" + target + "'";
    FILE* pipe = popen(command.c_str(), "w");
    if (!pipe) return fail("Graphviz's dot cannot be started");
    std::fputs(dot.c_str(), pipe);
    if (pclose(pipe) != 0) return fail("Graphviz's dot failed; is it installed (apt-get install graphviz)?");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"vesknet: make, inspect, check and draw a simulated network for VeskCfg"};
    app.require_subcommand(1);
    Settings settings;
    app.add_option("--world", settings.world, "The world folder (default: VESKCFG_WORLD, as for VeskCfg)");
    app.add_option("--console", settings.console,
                   "The computer VeskCfg runs on (default: VESKCFG_COMPUTERNAME, else the host's name)");

    auto* initCommand = app.add_subcommand("init", "Create the world (folders 0700) and the console's computer");
    std::string name;
    std::vector<std::string> accounts;
    auto* addCommand = app.add_subcommand("add", "Add a computer, with the accounts that may open its ipc$ share");
    addCommand->add_option("NAME", name, "The computer's name")->required();
    addCommand->add_option("--account", accounts, "USER:PASSWORD, as often as needed");
    auto* offlineCommand = app.add_subcommand("offline", "Take a computer off the network");
    offlineCommand->add_option("NAME", name, "The computer's name")->required();
    auto* onlineCommand = app.add_subcommand("online", "Bring a computer back on the network");
    onlineCommand->add_option("NAME", name, "The computer's name")->required();
    std::string call;
    long code = 0, nth = 0;
    bool clear = false;
    auto* faultCommand = app.add_subcommand("fault", "Make a call acting on a computer fail with a code: every such "
                                                     "call, or only the N-th of a run; --clear removes them all");
    faultCommand->add_option("NAME", name, "The computer's name")->required();
    auto* callOption = faultCommand->add_option("CALL", call, "A call's name, such as RegSetValueExA or writeRecord");
    faultCommand->add_option("CODE", code, "The Windows code it fails with");
    faultCommand->add_option("N", nth, "Only the N-th such call of a run");
    auto* clearFlag = faultCommand->add_flag("--clear", clear, "Remove every injected failure of the computer");
    callOption->excludes(clearFlag);
    bool json = false;
    auto* showCommand = app.add_subcommand("show", "What the network holds: roles, lists, connections, faults");
    showCommand->add_flag("--json", json, "As one JSON document");
    auto* checkCommand = app.add_subcommand(
        "check", "Audit the grouping; one line per inconsistency with the VeskCfg command that mends it "
                 "(exit 0 consistent, 1 not, 2 the world cannot be read)");
    std::string format = "dot", output;
    auto* graphCommand = app.add_subcommand("graph", "Draw the grouping, inconsistencies in red");
    graphCommand->add_option("--format", format, "dot, or svg through Graphviz's dot")->check(CLI::IsMember({"dot", "svg"}));
    graphCommand->add_option("-o", output, "The file to write (default: standard output)");
    CLI11_PARSE(app, argc, argv);

    if (settings.world.empty()) settings.world = sim::worldRoot();
    if (settings.console.empty()) settings.console = sim::localComputerName();
    if (!sim::isComputerName(settings.console)) return fail("\"" + settings.console + "\" cannot be a computer's name");
    // The simulation's own code reads these.
    setenv("VESKCFG_WORLD", settings.world.c_str(), 1);
    setenv("VESKCFG_COMPUTERNAME", settings.console.c_str(), 1);

    if (initCommand->parsed()) return init(settings);
    if (addCommand->parsed()) return add(settings, name, accounts);
    if (offlineCommand->parsed()) return setOffline(settings, name, true);
    if (onlineCommand->parsed()) return setOffline(settings, name, false);
    if (faultCommand->parsed()) {
        if (!clear && (call.empty() || faultCommand->count("CODE") == 0)) return fail("fault NAME CALL CODE [N], or fault NAME --clear");
        return setFault(settings, name, call, code, nth, clear);
    }
    if (showCommand->parsed()) return show(settings, json);
    if (checkCommand->parsed()) return check(settings);
    if (graphCommand->parsed()) return graph(settings, format, output);
    return kFailed;
}
