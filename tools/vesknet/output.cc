// What vesknet prints of a network: show's text and JSON, check's findings
// with their mends, graph's DOT; the same on every platform, but for the
// edges (edges.h) where text meets the terminal.
#include "tools/vesknet/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/vesknet/edges.h"

namespace vesknet {

int fail(const std::string& why) {
    std::fprintf(stderr, "vesknet: %s\n", why.c_str());
    return kFailed;
}

std::string printable(const std::string& name, bool ansi, bool doubleBackslashes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char byte : name) {
        // A byte that reaches the terminal as a C1 control, where the
        // platform has one (edges.h).
        bool c1 = ansi && showsAsControl(byte);
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

namespace {

// A line of text output, written in the terminal's character set.
void printConverted(const std::string& line) { std::printf("%s\n", forTerminal(line).c_str()); }

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
    if (toUtf8(name, text)) return text;
    entry[field + "Hex"] = hexOf(name);
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
        bytes.push_back(hexOf(name));
    }
    if (lossy) entry[field + "Hex"] = bytes;
    return list;
}

nlohmann::json asJson(const NetworkView& view) {
    nlohmann::json computers = nlohmann::json::array();
    for (const Computer& computer : view.computers) {
        const Record* record = view.record(computer.name);
        nlohmann::json entry = nlohmann::json::object();
        entry["name"] = jsonName(computer.name, entry, "name");
        entry["role"] = roleOf(view, computer.name);
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
    for (const Record& record : view.records) {
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
    if (!view.world.empty()) document["world"] = jsonName(view.world, document, "world");
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

void showText(const NetworkView& view) {
    // The world is a path, in the locale's character set already.
    if (view.world.empty())
        printConverted("Console " + printable(view.console) + ".");
    else
        std::printf("World %s, console %s.\n", printable(view.world, false).c_str(),
                    forTerminal(printable(view.console)).c_str());
    printLine("");
    const std::string indent(16, ' ');
    for (const Computer& computer : view.computers) {
        const Record* record = view.record(computer.name);
        std::string role = roleOf(view, computer.name);
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
    for (const Record& record : view.records) {
        // On a real network a server is no folder of the world, and only a
        // primary's list is read from it.
        if (!view.computer(record.server))
            printLine(padded(printable(record.server), 16) + " " + padded(roleOf(view, record.server), 28) +
                      (view.realNetwork ? "" : " (a record of a computer that is not in the world)"));
    }
    printLine("");
    printLine("Open connections of " + printable(view.console) + ": " +
              (view.connections.empty() ? "none" : joined(view.connections)));
}

}  // namespace

int show(const Settings& settings, bool json) {
    NetworkView view;
    std::string why;
    if (!readNetwork(settings.world, settings.console, view, why, settings.reading)) return fail(why);
    if (json) std::printf("%s\n", asJson(view).dump(2).c_str());
    else showText(view);
    return 0;
}

int check(const Settings& settings) {
    NetworkView view;
    std::string why;
    if (!readNetwork(settings.world, settings.console, view, why, settings.reading)) return fail(why);
    std::vector<Finding> findings = audit(view);
    for (const Finding& finding : findings)
        printConverted(printable(finding.problem) + "; mend: " + printable(finding.mend, true, false));
    if (findings.empty()) std::printf("consistent: every record and every list agree.\n");
    return findings.empty() ? 0 : 1;
}

namespace {

// A DOT identifier in UTF-8, Graphviz's character set: quotes and
// backslashes escaped, control characters (a NUL would end the text)
// written as \xHH.
std::string quotedId(const std::string& text) {
    std::string out = "\"";
    for (char c : toUtf8OrMark(printable(text))) {
        if (c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Each primary with its distributed servers; offline computers greyed; what
// the audit finds in red.
std::string dotOf(const NetworkView& view) {
    std::string dot = "digraph vesklane {\n  rankdir=LR;\n  node [shape=box, style=rounded];\n";
    for (const Computer& computer : view.computers) {
        std::string role = roleOf(view, computer.name);
        std::string attributes = role == "primary" ? "penwidth=2" : "";
        if (computer.name == view.console) attributes += std::string(attributes.empty() ? "" : ", ") + "shape=note";
        if (computer.offline) attributes += std::string(attributes.empty() ? "" : ", ") + "style=\"rounded,filled\", fillcolor=gray80, fontcolor=gray40";
        dot += "  " + quotedId(computer.name) + (attributes.empty() ? "" : " [" + attributes + "]") + ";\n";
    }
    for (const Record& record : view.records) {
        if (!record.readable || record.primary == record.server) continue;
        const Computer* primary = view.computer(record.primary);
        bool listed = primary && primary->lists(record.server);
        dot += "  " + quotedId(record.primary) + " -> " + quotedId(record.server) +
               (listed ? ";\n" : " [color=red, fontcolor=red, label=\"record only\"];\n");
    }
    for (const Computer& computer : view.computers) {
        for (const std::string& name : computer.list) {
            const Record* record = view.record(name);
            if (record && record->readable && record->primary == computer.name) continue;
            dot += "  " + quotedId(computer.name) + " -> " + quotedId(name) +
                   " [color=red, fontcolor=red, style=dashed, label=\"listed only\"];\n";
        }
    }
    return dot + "}\n";
}

}  // namespace

int graph(const Settings& settings, const std::string& format, const std::string& output) {
    NetworkView view;
    std::string why;
    if (!readNetwork(settings.world, settings.console, view, why, settings.reading)) return fail(why);
    std::string dot = dotOf(view);
    if (format != "dot") return drawSvg(dot, output);
    if (output.empty()) {
        std::fputs(dot.c_str(), stdout);
        return 0;
    }
    FILE* file = std::fopen(output.c_str(), "w");
    if (!file) return fail(output + ": " + std::strerror(errno));
    std::fputs(dot.c_str(), file);
    std::fclose(file);
    return 0;
}

}  // namespace vesknet
