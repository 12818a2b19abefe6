#include "tools/support/temp_world.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "credentials/scramble.h"
#include "store/record_store.h"
#include "store/role_record.h"

TempWorld::TempWorld() {
    char pattern[] = "/tmp/veskcfg-world-XXXXXX";
    root_ = mkdtemp(pattern);
    setenv("VESKCFG_WORLD", root_.c_str(), 1);
    setenv("VESKCFG_COMPUTERNAME", "ALPHA", 1);
    setenv("VESKCFG_TRACE", (root_ + "/trace").c_str(), 1);
    addComputer("ALPHA");
}

TempWorld::~TempWorld() { std::filesystem::remove_all(root_); }

void TempWorld::addComputer(const std::string& name, const std::vector<std::string>& accounts) {
    mkdir(folder(name).c_str(), 0700);
    std::string lines;
    for (const std::string& account : accounts) lines += account + "\n";
    if (!accounts.empty()) write(name + "/accounts", lines);
}

void TempWorld::write(const std::string& relativePath, const std::string& content) const {
    std::ofstream(root_ + "/" + relativePath, std::ios::binary) << content;
}

std::string TempWorld::read(const std::string& relativePath) const {
    std::ifstream file(root_ + "/" + relativePath, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

bool TempWorld::exists(const std::string& relativePath) const {
    return std::filesystem::exists(root_ + "/" + relativePath);
}

std::string roleRecordBytes(const std::string& primary, int isDistributed, const std::string& userName,
                            const std::string& password) {
    ServerRoleRecord record = {};
    std::strncpy(record.primaryName, primary.c_str(), sizeof record.primaryName - 1);
    record.isDistributed = isDistributed;
    scrambleText(record.userName, userName.c_str());
    scrambleText(record.password, password.c_str());
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

void TempWorld::storeRecord(const std::string& server, const std::string& primary, const std::string& userName,
                            const std::string& password, int isDistributed) const {
    storeRecordBytes(server, roleRecordBytes(primary, isDistributed, userName, password));
}

void TempWorld::storeRecordBytes(const std::string& server, std::string bytes) const {
    DWORD size = static_cast<DWORD>(bytes.size());
    writeRecord(server.c_str(), ROLE_RECORD_TYPE, bytes.data(), &size);
}

std::string TempWorld::storedRecordBytes(const std::string& server) const {
    char record[ROLE_RECORD_SIZE] = {};
    DWORD size = sizeof record;
    if (readRecord(server.c_str(), ROLE_RECORD_TYPE, record, &size) != 0) return {};
    return std::string(record, size);
}
