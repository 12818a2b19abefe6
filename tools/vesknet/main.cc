// vesknet: makes, inspects, checks and draws a simulated network for VeskCfg,
// through the same world and hive code that VeskCfg itself runs on.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/linux/machine/codepage.h"
#include "platform/process.h"
#include "platform/linux/console/charset.h"
#include "platform/linux/hosts/faults.h"
#include "platform/linux/machine/files.h"
#include "platform/linux/machine/world.h"
#include "tools/vesknet/network_view.h"

namespace {

constexpr int kFailed = 2;  // the world cannot be read or changed, or the command line is wrong

struct Settings {
    std::string world;
    std::string console;
    vesknet::RemoteReading reading;  // of the primaries of a real network
};

int fail(const std::string& why) {
    std::fprintf(stderr, "vesknet: %s\n", why.c_str());
    return kFailed;
}

// A name as text output shows it: control characters, which a name read
// from a hand-edited file or a server may hold, and backslashes written \xHH
// and \\, so that nothing reaches the terminal raw and every name reads one
// way. Still in the code page: the line it goes in is converted whole. A
// path (ansi false) is in the locale's character set already; a mend, whose
// names are quoted for a shell, keeps its backslashes single.
std::string printable(const std::string& name, bool ansi = true, bool doubleBackslashes = true) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char byte : name) {
        // A byte that reaches a terminal as a C1 control: in the C locale
        // on a terminal only (a pipe gets the bytes as they are, for the
        // scripts that read them), in another wherever it goes.
        bool c1 = ansi && sim::showsAsControl(byte) && (sim::consoleConverts() || isatty(STDOUT_FILENO) == 1);
        if (byte < 0x20 || byte == 0x7F || c1) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            if (byte == '\\' && doubleBackslashes) out += '\\';
            out += static_cast<char>(byte);
        }
    }
    return out;
}

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

int init(const Settings& settings) {
    std::error_code failed;
    std::filesystem::create_directories(std::filesystem::path(settings.world).parent_path(), failed);
    if (int code = makeFolder(settings.world)) return code;
    if (int code = makeFolder(settings.world + "/" + settings.console)) return code;
    std::printf("World %s, console %s.\n", settings.world.c_str(), settings.console.c_str());
    return 0;
}

int add(const Settings& settings, const std::string& name, const std::vector<std::string>& accounts) {
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
    std::string line = call + " " + std::to_string(code) + (nth > 0 ? " " + std::to_string(nth) : "") + "\n";
    return replaceFile(folder, "faults", fileText(folder + "/faults") + line);
}

// A line of text output, written in the locale's character set.
void printConverted(const std::string& line) { std::printf("%s\n", sim::ansiToLocale(line).c_str()); }

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) out += (out.empty() ? "" : ", ") + printable(item);
    return out;
}

// A name for JSON: its UTF-8 text; one that does not convert is given with
// U+FFFD for what does not, and its bytes in hex under `<field>Hex` of
// `entry`, so that nothing is lost.
nlohmann::json jsonName(const std::string& name, nlohmann::json& entry, const std::string& field) {
    std::string text;
    if (sim::ansiToUtf8(name, text)) return text;
    entry[field + "Hex"] = vesknet::hexOf(name);
    std::string replaced;
    for (unsigned char byte : name) {
        if (byte < 0x80) replaced += static_cast<char>(byte);
        else replaced += "\xEF\xBF\xBD";  // U+FFFD
    }
    return replaced;
}

nlohmann::json jsonNames(const std::vector<std::string>& names, nlohmann::json& entry, const std::string& field) {
    nlohmann::json list = nlohmann::json::array();
    nlohmann::json bytes = nlohmann::json::array();
    bool lossy = false;
    for (const std::string& name : names) {
        nlohmann::json one = nlohmann::json::object();
        list.push_back(jsonName(name, one, "name"));
        lossy = lossy || one.contains("nameHex");
        bytes.push_back(vesknet::hexOf(name));
    }
    if (lossy) entry[field + "Hex"] = bytes;
    return list;
}

nlohmann::json asJson(const vesknet::NetworkView& view) {
    nlohmann::json computers = nlohmann::json::array();
    for (const vesknet::Computer& computer : view.computers) {
        const vesknet::Record* record = view.record(computer.name);
        nlohmann::json entry = nlohmann::json::object();
        entry["name"] = jsonName(computer.name, entry, "name");
        entry["role"] = vesknet::roleOf(view, computer.name);
        entry["offline"] = computer.offline;
        entry["accounts"] = jsonNames(computer.accounts, entry, "accounts");
        entry["faults"] = jsonNames(computer.faults, entry, "faults");
        if (record && record->readable) {
            entry["primary"] = jsonName(record->primary, entry, "primary");
            entry["storedAccount"] = jsonName(record->userName, entry, "storedAccount");
        }
        if (computer.hasList) entry["list"] = jsonNames(computer.list, entry, "list");
        if (computer.hiveBadLine) entry["hiveBadLine"] = computer.hiveBadLine;
        if (!computer.hiveProblem.empty()) entry["hiveProblem"] = computer.hiveProblem;
        computers.push_back(entry);
    }
    nlohmann::json records = nlohmann::json::array();
    for (const vesknet::Record& record : view.records) {
        nlohmann::json entry = nlohmann::json::object();
        entry["server"] = jsonName(record.server, entry, "server");
        entry["readable"] = record.readable;
        if (record.readable) {
            entry["primary"] = jsonName(record.primary, entry, "primary");
            entry["isDistributed"] = record.isDistributed;
            entry["storedAccount"] = jsonName(record.userName, entry, "storedAccount");
        }
        records.push_back(entry);
    }
    nlohmann::json document = nlohmann::json::object();
    document["world"] = jsonName(view.world, document, "world");
    document["console"] = jsonName(view.console, document, "console");
    document["computers"] = computers;
    document["records"] = records;
    document["connections"] = jsonNames(view.connections, document, "connections");
    return document;
}

// One line of text output, without the blanks that padding left at its end.
void printLine(std::string line) {
    line.erase(line.find_last_not_of(' ') + 1);
    printConverted(line);
}

std::string padded(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

void showText(const vesknet::NetworkView& view) {
    // The world is a path, in the locale's character set already.
    std::printf("World %s, console %s.\n", printable(view.world, false).c_str(),
                sim::ansiToLocale(printable(view.console)).c_str());
    printLine("");
    const std::string indent(16, ' ');
    for (const vesknet::Computer& computer : view.computers) {
        const vesknet::Record* record = view.record(computer.name);
        std::string role = vesknet::roleOf(view, computer.name);
        if (role == "distributed") role += " of " + printable(record->primary);
        std::string line = padded(printable(computer.name), 16) + " " + padded(role, 28);
        if (record && record->readable) line += " stored account " + printable(record->userName);
        if (computer.offline) line += " (offline)";
        printLine(line);
        if (computer.hasList) printLine(indent + " lists: " + (computer.list.empty() ? "(nothing)" : joined(computer.list)));
        if (!computer.faults.empty()) printLine(indent + " faults: " + joined(computer.faults));
        if (computer.hiveBadLine)
            printLine(indent + " hklm.reg cannot be parsed at line " + std::to_string(computer.hiveBadLine));
        if (!computer.hiveProblem.empty()) printLine(indent + " hklm.reg " + computer.hiveProblem);
    }
    for (const vesknet::Record& record : view.records) {
        // On a real network a server is no folder of the world, and only a
        // primary's list is read from it.
        if (!view.computer(record.server))
            printLine(padded(printable(record.server), 16) + " " + padded(vesknet::roleOf(view, record.server), 28) +
                      (view.realNetwork ? "" : " (a record of a computer that is not in the world)"));
    }
    printLine("");
    printLine("Open connections of " + printable(view.console) + ": " +
              (view.connections.empty() ? "none" : joined(view.connections)));
}

int show(const Settings& settings, bool json) {
    vesknet::NetworkView view;
    std::string why;
    if (!vesknet::readNetwork(settings.world, settings.console, view, why, settings.reading)) return fail(why);
    if (json) std::printf("%s\n", asJson(view).dump(2).c_str());
    else showText(view);
    return 0;
}

int check(const Settings& settings) {
    vesknet::NetworkView view;
    std::string why;
    if (!vesknet::readNetwork(settings.world, settings.console, view, why, settings.reading)) return fail(why);
    std::vector<vesknet::Finding> findings = vesknet::audit(view);
    for (const vesknet::Finding& finding : findings)
        printConverted(printable(finding.problem) + "; mend: " + printable(finding.mend, true, false));
    if (findings.empty()) std::printf("consistent: every record and every list agree.\n");
    return findings.empty() ? 0 : 1;
}

// A DOT identifier in UTF-8, Graphviz's character set: quotes and
// backslashes escaped, control characters (a NUL would end the text)
// written as \xHH.
std::string quotedId(const std::string& text) {
    std::string out = "\"";
    for (char c : sim::ansiToUtf8OrMark(printable(text))) {
        if (c == '"') out += '\\';
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
        bool listed = primary && primary->lists(record.server);
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

// Graphviz's dot, started with its arguments as they are (no shell reads
// the file's name), the DOT text on its standard input.
int drawSvg(const std::string& dot, const std::string& target) {
    int input[2];
    if (pipe2(input, O_CLOEXEC) != 0) return fail(std::string("a pipe for dot: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    std::vector<std::string> arguments = {"dot", "-Tsvg", "-o", target};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    int started = posix_spawnp(&child, "dot", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    if (started != 0) {
        close(input[1]);
        return fail("Graphviz's dot cannot be started (" + std::string(std::strerror(started)) +
                    "); is it installed (apt-get install graphviz)?");
    }
    signal(SIGPIPE, SIG_IGN);  // a dot that ends early is told by its status
    for (size_t written = 0; written < dot.size();) {
        ssize_t count = write(input[1], dot.data() + written, dot.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        written += static_cast<size_t>(count);
    }
    close(input[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return fail("Graphviz's dot failed to write " + target);
    return 0;
}

int graph(const Settings& settings, const std::string& format, const std::string& output) {
    vesknet::NetworkView view;
    std::string why;
    if (!vesknet::readNetwork(settings.world, settings.console, view, why, settings.reading)) return fail(why);
    std::string dot = dotOf(view);
    std::string target = output.empty() ? "/dev/stdout" : output;
    if (format == "dot") {
        FILE* file = std::fopen(target.c_str(), "w");
        if (!file) return fail(target + ": " + std::strerror(errno));
        std::fputs(dot.c_str(), file);
        std::fclose(file);
        return 0;
    }
    return drawSvg(dot, target);
}

}  // namespace

int main(int argc, char** argv) {
    // Its readers unscramble the stored passwords: nothing of it may be
    // dumped, from the first line on (its processes inherit it).
    KeepSecretsFromOthers();
    CLI::App app{"vesknet: make, inspect, check and draw a simulated network for VeskCfg", "vesknet"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "vesknet " VESKCFG_VERSION);
    Settings settings;
    app.add_option("--world", settings.world, "The world folder (default: VESKCFG_WORLD, as for VeskCfg)")
        ->type_name("DIR");
    app.add_option("--console", settings.console,
                   "The computer VeskCfg runs on (default: VESKCFG_COMPUTERNAME, else the host's name)")
        ->type_name("NAME");
    app.add_option("--jobs", settings.reading.jobs,
                   "On a real network (VESKCFG_NETWORK=smb), how many primaries are read at once (16)")
        ->check(CLI::Range(1u, 256u))
        ->type_name("N");
    app.add_option("--timeout", settings.reading.seconds,
                   "On a real network, how many seconds a primary is given to be read before it is a finding (120)")
        ->check(CLI::Range(1u, 86400u))
        ->type_name("SECONDS");

    auto* initCommand = app.add_subcommand("init", "Create the world (folders 0700) and the console's computer");
    std::string name;
    std::vector<std::string> accounts;
    auto* addCommand = app.add_subcommand("add", "Add a computer, with the accounts that may open its ipc$ share");
    addCommand->add_option("NAME", name, "The computer's name")->required()->type_name("NAME");
    addCommand->add_option("--account", accounts, "USER:PASSWORD, as often as needed")->type_name("USER:PASSWORD");
    auto* offlineCommand = app.add_subcommand("offline", "Take a computer off the network");
    offlineCommand->add_option("NAME", name, "The computer's name")->required()->type_name("NAME");
    auto* onlineCommand = app.add_subcommand("online", "Bring a computer back on the network");
    onlineCommand->add_option("NAME", name, "The computer's name")->required()->type_name("NAME");
    std::string call;
    long code = 0, nth = 0;
    bool clear = false;
    auto* faultCommand = app.add_subcommand("fault", "Make a call acting on a computer fail with a code: every such "
                                                     "call, or only the N-th of a run; --clear removes them all");
    faultCommand->add_option("NAME", name, "The computer's name")->required()->type_name("NAME");
    auto* callOption = faultCommand->add_option("CALL", call, "A call's name, such as RegSetValueExA or writeRecord "
                                                              "(vesknet calls lists them)")->type_name("CALL");
    // As the faults file takes them: a 0 would inject nothing, and VeskCfg
    // would pass over the line.
    faultCommand->add_option("CODE", code, "The Windows code it fails with")
        ->check(CLI::Range(1L, 4294967295L))
        ->type_name("CODE");
    faultCommand->add_option("N", nth, "Only the N-th such call of a run")
        ->check(CLI::Range(1L, 4294967295L))
        ->type_name("N");
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
    graphCommand->add_option("--format", format, "dot, or svg through Graphviz's dot")
        ->check(CLI::IsMember({"dot", "svg"}))
        ->type_name("FORMAT");
    graphCommand->add_option("-o", output, "The file to write (default: standard output)")->type_name("FILE");
    auto* callsCommand = app.add_subcommand("calls", "List the calls that fault can make fail, one a line");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& asked) {
        return app.exit(asked);
    } catch (const CLI::CallForAllHelp& asked) {
        return app.exit(asked);
    } catch (const CLI::CallForVersion& asked) {
        return app.exit(asked);
    } catch (const CLI::ParseError& wrong) {
        // As the manual says: one line, and 2.
        std::fprintf(stderr, "vesknet: %s (vesknet --help says how)\n", wrong.what());
        return kFailed;
    }
    // Names and accounts as VeskCfg takes them: from the locale's character
    // set into the code page, never mangled.
    for (std::string* text : {&name, &settings.console}) {
        std::string ansi;
        char32_t lacking = 0;
        if (!sim::localeToAnsi(*text, ansi, lacking)) return fail("a name holds " + sim::lackingText(lacking));
        *text = ansi;
    }
    for (std::string& account : accounts) {
        std::string ansi;
        char32_t lacking = 0;
        if (!sim::localeToAnsi(account, ansi, lacking)) return fail("an account holds " + sim::lackingText(lacking));
        account = ansi;
    }
    if (callsCommand->parsed()) {
        for (size_t i = 0; i < sim::kCallCount; ++i) std::printf("%s\n", sim::callName(static_cast<sim::Call>(i)));
        return 0;
    }

    if (settings.world.empty()) settings.world = sim::worldRoot();
    if (settings.console.empty()) settings.console = sim::localComputerName();
    if (settings.console.empty()) return kFailed;  // VESKCFG_COMPUTERNAME was refused, and said so in its one line
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
