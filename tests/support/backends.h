// The harness of the table of command runs that every backend is held to
// (tests/e2e/backends_test.cc): what a row starts from, what it leaves, and
// the backend a run goes through. One header a backend beside this one:
// backend_world.h (the Linux program over the world), backend_wine.h
// (VeskCfg.exe under Wine), backend_samba.h (over Samba servers),
// backend_domain.h (over a Samba AD DC).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "credentials/scramble.h"
#include "tools/support/run_veskcfg.h"
#include "tools/support/temp_world.h"

struct Record {
    std::string server, primary, user, password;
    int isDistributed;
};

// What a row starts from, beside the computers every row has: {P} (the
// primary, where the tool runs; admin:psecret, newadmin:n3w, reader:rsecret),
// DIST (dadmin:dsecret), OTHER (oadmin:osecret), DOWN (offline) and SILENT
// (offline; over a real network it takes connections and never answers).
struct Setup {
    std::vector<Record> records = {};
    std::optional<std::vector<std::string>> list = {};  // {P}'s list, in creation order
    std::vector<std::string> connections = {};          // "\\SERVER\share USER"
    // {P} refuses to create keys (5), as a real server does to reader, who
    // may log on and read but not write. The world fails the call instead;
    // Wine's registry knows no such account, so the Windows run leaves the row out.
    bool refusesWrites = false;
};


// The records the rows most often start from: the primary's own, and DIST's
// naming it.
inline Record primary() { return {"{P}", "{P}", "admin", "psecret", 0}; }
inline Record dist() { return {"DIST", "{P}", "dadmin", "dsecret", 1}; }

// The texts the program prints, as the rows write them.
inline const std::string kOk = "Transaction OK!\n";

inline std::string error(const std::string& text, const std::string& context) {
    return "ERROR! " + text + "\r\n" + context + ".\n";
}

inline std::string prompt(const std::string& server) {
    return " Press <Esc> to quit \n" + server + " : Username = " + server + " : Password = ";
}


inline std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

inline std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A row's records and list, and the connections left, in one comparable text.
struct State {
    std::map<std::string, std::string> records;  // server: what its record holds
    std::vector<std::string> list;               // sorted: the backends' orders differ
    bool hasList = false;
    std::string connections;
    bool operator==(const State&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const State& state) {
    for (const auto& [server, bytes] : state.records) out << server << " " << bytes << "\n";
    out << (state.hasList ? "list:" : "no list");
    for (const std::string& name : state.list) out << " " << name;
    return out << "\nconnections: " << state.connections;
}

// A record's fields, with the primary's own name written {P}, so that the
// backends' records compare although their primaries' names differ.
inline std::string describe(const std::string& bytes, const std::string& primaryName) {
    ServerRoleRecord record = {};
    std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof record));
    char user[CREDENTIAL_FIELD_SIZE + 1] = {}, password[CREDENTIAL_FIELD_SIZE + 1] = {};
    unscrambleText(record.userName, user);
    unscrambleText(record.password, password);
    std::string primary(record.primaryName, strnlen(record.primaryName, sizeof record.primaryName));
    if (primary == primaryName) primary = "{P}";
    return primary + " " + std::to_string(record.isDistributed) + " " + user + ":" + password + " (" +
           std::to_string(bytes.size()) + " bytes)";
}

inline std::string asServer(const std::string& name, const std::string& primaryName) { return name == primaryName ? "{P}" : name; }

class Backend {
public:
    virtual ~Backend() = default;
    virtual std::string primary() const = 0;
    virtual void setUp(const Setup& setup) = 0;
    virtual RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& keys) = 0;
    virtual State state() = 0;
    virtual std::vector<std::string> enumerationOrder(std::vector<std::string> names) const = 0;
    virtual std::string asPrinted(std::string linuxOutput) const = 0;
    virtual int exitStatus(long code) const = 0;

    // The row with {P} and {LIST} filled in for this backend.
    std::string expand(const std::string& text, const Setup& setup) const {
        std::string lines;
        for (const std::string& name : enumerationOrder(setup.list.value_or(std::vector<std::string>())))
            lines += "      attached server: " + name + "\n";
        return replaced(replaced(replaced(text, "{LIST}", lines), "{P}", primary()), "{p}", lower(primary()));
    }
    Record expand(Record record) const {
        record.server = expand(record.server, {});
        record.primary = expand(record.primary, {});
        return record;
    }

    // The row's records in the store of the world's local computer, and its
    // connections as that computer's connections file holds them.
    void storeRecords(const TempWorld& world, const Setup& setup) const {
        for (const Record& record : setup.records) {
            Record filled = expand(record);
            world.storeRecord(filled.server, filled.primary, filled.user, filled.password, filled.isDistributed);
        }
    }
    std::string connectionsOf(const Setup& setup) const {
        std::string connections;
        for (const std::string& line : setup.connections) connections += expand(line, {}) + "\n";
        return connections;
    }
    // What the world's local store holds for the table's computers afterwards.
    std::map<std::string, std::string> recordsIn(const TempWorld& world) const {
        std::map<std::string, std::string> records;
        for (const char* server : {"PRIM", "DIST", "OTHER", "DOWN", "SILENT"}) {
            std::string bytes = world.storedRecordBytes(server);
            if (!bytes.empty()) records[asServer(server, primary())] = describe(bytes, primary());
        }
        return records;
    }
};

