// A fresh simulated world in a temporary directory, with ALPHA as the local
// computer, and helpers to furnish it and read it back.
#pragma once

#include <string>
#include <vector>

class TempWorld {
public:
    TempWorld();
    ~TempWorld();
    TempWorld(const TempWorld&) = delete;
    TempWorld& operator=(const TempWorld&) = delete;

    const std::string& root() const { return root_; }
    std::string folder(const std::string& computer) const { return root_ + "/" + computer; }

    // A computer of the network and the accounts that may open its ipc$.
    void addComputer(const std::string& name, const std::vector<std::string>& accounts = {});
    void write(const std::string& relativePath, const std::string& content) const;
    std::string read(const std::string& relativePath) const;
    bool exists(const std::string& relativePath) const;

    // Stores a role record for server in the local store, credentials scrambled.
    void storeRecord(const std::string& server, const std::string& primary, const std::string& userName,
                     const std::string& password, int isDistributed) const;
    // Stores bytes as server's role record, whatever they hold.
    void storeRecordBytes(const std::string& server, std::string bytes) const;
    // The record as stored, or empty when there is none.
    std::string storedRecordBytes(const std::string& server) const;

    std::string trace() const { return read("trace"); }
    std::string connections() const { return read("ALPHA/connections"); }

private:
    std::string root_;
};

// A role record's 76 bytes, credentials scrambled.
std::string roleRecordBytes(const std::string& primary, int isDistributed, const std::string& userName,
                            const std::string& password);
