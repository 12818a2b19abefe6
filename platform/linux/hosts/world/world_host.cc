// A computer that is a folder of the world: its registry is the hive file
// <folder>/hklm.reg, its accounts the accounts file, and it is out of reach
// while an offline file is there.
//
// A computer's hive is read once in a process and shared by every key on
// it, so that a change made through one key is seen through all, as on
// Windows. Opening a key looks at the file first: when it changed (another
// run wrote it), the hive is read again, and keys on the old one move to the
// new one when next used. Reading values and walking a list of any length
// touch no file otherwise. A change is made under the computer's lock on the
// hive as its file holds it then, and written back atomically; when the
// write fails, the hive is dropped, so that no key sees a change the file
// does not hold.
#include "platform/linux/hosts/host.h"

#include <map>
#include <set>
#include <utility>

#include "platform/linux/machine/codepage.h"
#include "platform/linux/machine/files.h"
#include "platform/linux/hosts/world/hive.h"
#include "platform/linux/machine/lines.h"
#include "platform/linux/machine/trace.h"
#include "platform/linux/machine/world.h"

namespace sim {

namespace {

// A key of a world computer's hive.
struct WorldKey : HostKey {
    std::string folder;  // empty: the local computer has no folder yet
    std::string path;    // below HKEY_LOCAL_MACHINE
    std::shared_ptr<Hive> view;  // the hive the key was last found in
    uint64_t generation = 0;     // of the process's hives then
    RegKey* key = nullptr;       // in view
    ValueCursor cursor;          // where a walk of key's values stands
};

// A computer's hive as its file last held it, with this process's changes.
struct LoadedHive {
    FileIdentity identity;
    bool loaded = false;
    std::shared_ptr<Hive> hive;  // null: the file cannot be read
};

std::string hivePath(const std::string& folder) { return folder + "/hklm.reg"; }

// Counts the changes of which hive a computer has in this process, so that
// a key knows at a glance whether its own is still the one.
uint64_t hivesGeneration = 1;

std::map<std::string, LoadedHive>& hives() {
    static std::map<std::string, LoadedHive> loaded;
    return loaded;
}

void sayUnreadable(const std::string& folder, size_t line) {
    diagnose("%s, line %zu: not a registry file that can be read; every call on it fails with 1009.",
             hivePath(folder).c_str(), line);
}

LONG loadHive(const std::string& folder, const FileIdentity& identity, LoadedHive& loaded) {
    ++hivesGeneration;
    loaded.identity = identity;
    loaded.loaded = true;
    loaded.hive = std::make_shared<Hive>();
    if (!identity.exists) return ERROR_SUCCESS;
    size_t badLine = 0;
    LONG code = loadHiveFile(hivePath(folder), *loaded.hive, badLine);
    if (code == ERROR_BADDB) {  // said why
        loaded.hive.reset();
        return ERROR_SUCCESS;
    }
    if (code) {
        loaded.loaded = false;  // nothing learnt: try again next time
        loaded.hive = std::make_shared<Hive>();
        return code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : code;
    }
    if (badLine) {
        sayUnreadable(folder, badLine);
        loaded.hive.reset();
    }
    return ERROR_SUCCESS;
}

// The hive as its file holds it now; 1009 when the file cannot be read.
LONG currentHive(const std::string& folder, std::shared_ptr<Hive>& hive) {
    if (folder.empty()) {
        hive = std::make_shared<Hive>();  // no folder yet: an empty registry
        return ERROR_SUCCESS;
    }
    LoadedHive& loaded = hives()[folder];
    FileIdentity identity = identityOf(hivePath(folder));
    if (!loaded.loaded || !(identity == loaded.identity)) {
        if (LONG code = loadHive(folder, identity, loaded)) return code;
    }
    if (!loaded.hive) return ERROR_BADDB;
    hive = loaded.hive;
    return ERROR_SUCCESS;
}

// The key at path, or null; 1009 when a header met on the way cannot be
// read, which makes the whole hive unusable.
LONG findKey(const std::string& folder, Hive& hive, const std::string& path, RegKey*& key) {
    key = hive.find(path);
    size_t line = hive.badLine();
    if (!line) return ERROR_SUCCESS;
    key = nullptr;
    auto loaded = hives().find(folder);
    if (loaded != hives().end() && loaded->second.hive.get() == &hive) {
        sayUnreadable(folder, line);
        loaded->second.hive.reset();
        ++hivesGeneration;
    }
    return ERROR_BADDB;
}

// The key's values read from its lines; 1009, said once, when one of them
// cannot be read.
LONG readValues(const std::string& folder, Hive& hive, RegKey& key) {
    size_t line = hive.readValues(key);
    if (!line) return ERROR_SUCCESS;
    static std::set<std::pair<std::string, size_t>> told;
    if (told.emplace(folder, line).second)
        diagnose("%s, line %zu: not a value that can be read; every call on the values of "
                 "HKEY_LOCAL_MACHINE\\%s fails with 1009.",
                 hivePath(folder).c_str(), line, key.path.c_str());
    return ERROR_BADDB;
}

std::string joined(const std::string& path, const KeyPath& parts) {
    std::string out = path;
    for (const std::string& part : parts) {
        if (!out.empty()) out += '\\';
        out += part;
    }
    return out;
}

// A hive file could not carry these names, and Windows takes none.
bool storable(const KeyPath& parts) {
    for (const std::string& part : parts)
        if (!isStorableKeyName(part)) return false;
    return true;
}

// Moves the key to the hive its computer has in this process now, if that
// is another one than it last used (read again, or dropped after a failed
// write).
LONG bind(WorldKey& handle) {
    if (handle.view && (handle.generation == hivesGeneration || handle.folder.empty()))
        return handle.key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
    if (handle.view) {
        auto loaded = hives().find(handle.folder);
        if (loaded != hives().end() && loaded->second.loaded && loaded->second.hive == handle.view) {
            handle.generation = hivesGeneration;
            return handle.key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
        }
    }
    handle.generation = hivesGeneration;
    handle.cursor = {};
    handle.key = nullptr;
    if (LONG code = currentHive(handle.folder, handle.view)) return code;
    if (LONG code = findKey(handle.folder, *handle.view, handle.path, handle.key)) return code;
    return handle.key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// The key bound to its hive with its values read, for the calls that read.
// A walk asks at every step: when nothing changed since the last, that is
// all it costs.
LONG readable(WorldKey& key) {
    if (key.key && key.generation == hivesGeneration && key.key->valuesRead && !key.key->badLine)
        return ERROR_SUCCESS;
    if (LONG code = bind(key)) return code;
    return readValues(key.folder, *key.view, *key.key);
}

// Applies `change` to the current hive under the computer's lock and writes
// the hive back when `change` reports that it changed something. The key then
// sees its own change.
template <class Change>
LONG changeHive(WorldKey& handle, Change change) {
    if (handle.folder.empty()) handle.folder = localComputerFolder(true);
    if (handle.folder.empty()) return localComputerProblem() ? localComputerProblem() : ERROR_CANTWRITE;
    FolderLock lock(handle.folder);
    if (!lock.held()) return lock.code();
    std::shared_ptr<Hive> hive;
    if (LONG code = currentHive(handle.folder, hive)) return code;
    RegKey* at = nullptr;
    if (LONG code = findKey(handle.folder, *hive, handle.path, at)) return code;
    if (!at) return ERROR_KEY_DELETED;
    bool changed = false;
    if (LONG code = change(*hive, *at, changed)) return code;
    if (changed) {
        HiveImage image = imageOf(*hive);
        if (LONG failed = replaceFileAtomically(hivePath(handle.folder), image.fileParts(hive->fileFd()))) {
            hives().erase(handle.folder);  // the file still holds the old hive: so must every key
            ++hivesGeneration;
            return failed;
        }
        // Nobody else writes while we hold the lock: what we hold is the new file.
        hives()[handle.folder].identity = identityOf(hivePath(handle.folder));
    }
    if (handle.view != hive) handle.cursor = {};
    handle.view = hive;
    handle.key = at;
    return ERROR_SUCCESS;
}

// The computer's accounts file holds passwords: read into a buffer of its
// own, wiped before it goes.
bool accountMatches(const std::string& folder, const std::string& user, const char* password) {
    FileText accounts;
    bool matches = false;
    if (readWholeFile(folder + "/accounts", accounts) == ERROR_SUCCESS) {
        for (std::string_view line : LinesOf(accounts.view())) {
            size_t colon = line.find(':');
            if (colon == std::string_view::npos) continue;
            matches = matches || (sameName(line.substr(0, colon), user) && line.substr(colon + 1) == password);
        }
    }
    accounts.wipe();
    return matches;
}

class WorldHost : public Host {
public:
    // An empty folder and not local: a computer the world does not have.
    WorldHost(std::string folder, bool local) : folder_(std::move(folder)), local_(local) {}


    DWORD reach() override {
        std::string here = folder();
        if (here.empty() || isOffline(here)) return ERROR_BAD_NETPATH;
        return static_cast<DWORD>(checkFolder(here));
    }

    DWORD logOn(const std::string& user, const char* password) override {
        return accountMatches(folder(), user, password) ? NO_ERROR : ERROR_LOGON_FAILURE;
    }

    DWORD logOff() override { return NO_ERROR; }

    // Its folder: the local computer's is found at each use, since a run
    // may create it.
    std::string folder() const { return local_ ? localComputerFolder(false) : folder_; }

    HostKey* machineKey() override { return local_ ? &machine_ : nullptr; }

    LONG connectRegistry(const std::string&, bool connected, std::unique_ptr<HostKey>& root) override {
        auto key = std::make_unique<WorldKey>();
        key->folder = folder();
        // The local computer is reached directly, whatever the letter case.
        if (!local_) {
            if (key->folder.empty() || isOffline(key->folder)) return ERROR_BAD_NETPATH;
            if (!connected) return ERROR_ACCESS_DENIED;
        }
        root = std::move(key);
        return ERROR_SUCCESS;
    }

    LONG openKey(HostKey& parent, const KeyPath& path, REGSAM, std::unique_ptr<HostKey>& key) override {
        auto opened = below(parent);
        if (LONG code = openParent(*opened)) return code;
        opened->path = joined(opened->path, path);
        if (LONG code = findKey(opened->folder, *opened->view, opened->path, opened->key)) return code;
        if (!opened->key) return ERROR_FILE_NOT_FOUND;
        key = std::move(opened);
        return ERROR_SUCCESS;
    }

    LONG createKey(HostKey& parent, const KeyPath& path, REGSAM, std::unique_ptr<HostKey>& key,
                   DWORD& disposition) override {
        auto created = below(parent);
        if (LONG code = openParent(*created)) return code;
        const std::string full = joined(created->path, path);
        if (LONG code = findKey(created->folder, *created->view, full, created->key)) return code;
        bool exists = created->key != nullptr;
        if (!exists) {
            if (!storable(path)) return ERROR_INVALID_PARAMETER;
            LONG code = changeHive(*created, [&](Hive& hive, RegKey&, bool& changed) -> LONG {
                hive.create(full, changed);
                return ERROR_SUCCESS;
            });
            if (code) return code;
            created->key = created->view->find(full);
        }
        disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
        created->path = full;
        key = std::move(created);
        return ERROR_SUCCESS;
    }

    LONG queryValue(HostKey& key, std::string_view name, ValueView& value) override {
        WorldKey& at = static_cast<WorldKey&>(key);
        if (LONG code = readable(at)) return code;
        return at.view->findValue(*at.key, name, value) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }

    LONG enumValue(HostKey& key, DWORD index, bool, ValueView& value) override {
        WorldKey& at = static_cast<WorldKey&>(key);
        if (LONG code = readable(at)) return code;
        return at.view->valueAt(*at.key, index, at.cursor, value) ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
    }

    LONG setValue(HostKey& key, std::string_view name, DWORD type, std::string_view data) override {
        WorldKey& at = static_cast<WorldKey&>(key);
        return changeHive(at, [&](Hive& hive, RegKey& changedKey, bool& changed) -> LONG {
            if (LONG code = readValues(at.folder, hive, changedKey)) return code;
            changed = hive.setValue(changedKey, name, type, data);
            return ERROR_SUCCESS;
        });
    }

    LONG setKeyValue(HostKey& parent, const KeyPath& path, std::string_view name, DWORD type,
                     std::string_view data) override {
        if (!storable(path)) return ERROR_INVALID_PARAMETER;
        auto at = below(parent);
        if (LONG code = openParent(*at)) return code;
        const std::string full = joined(at->path, path);
        return changeHive(*at, [&](Hive& hive, RegKey&, bool& changed) -> LONG {
            RegKey* key = nullptr;
            if (LONG code = findKey(at->folder, hive, full, key)) return code;
            if (!key) key = &hive.create(full, changed);
            if (LONG code = readValues(at->folder, hive, *key)) return code;
            changed = hive.setValue(*key, name, type, data) || changed;
            return ERROR_SUCCESS;
        });
    }

    LONG deleteValue(HostKey& key, std::string_view name) override {
        WorldKey& at = static_cast<WorldKey&>(key);
        return changeHive(at, [&](Hive& hive, RegKey& changedKey, bool& changed) -> LONG {
            if (LONG code = readValues(at.folder, hive, changedKey)) return code;
            if (!hive.deleteValue(changedKey, name)) return ERROR_FILE_NOT_FOUND;
            changed = true;
            return ERROR_SUCCESS;
        });
    }

    // Every change is already on disk when its call returns.
    LONG flushKey(HostKey&) override { return ERROR_SUCCESS; }

    LONG closeKey(std::unique_ptr<HostKey>) override { return ERROR_SUCCESS; }

private:
    // A key that starts where parent stands: the same computer and path. A
    // key of the local computer opened before its folder existed finds it
    // now.
    std::unique_ptr<WorldKey> below(HostKey& parent) const {
        const WorldKey& from = static_cast<const WorldKey&>(parent);
        auto key = std::make_unique<WorldKey>();
        key->folder = from.folder.empty() ? folder() : from.folder;
        key->path = from.path;
        return key;
    }

    // The key a parent stands for must still be there.
    static LONG openParent(WorldKey& opened) {
        if (LONG code = currentHive(opened.folder, opened.view)) return code;
        if (opened.path.empty()) return ERROR_SUCCESS;
        RegKey* parent = nullptr;
        if (LONG code = findKey(opened.folder, *opened.view, opened.path, parent)) return code;
        return parent ? ERROR_SUCCESS : ERROR_KEY_DELETED;
    }

    std::string folder_;
    bool local_;
    WorldKey machine_;  // HKEY_LOCAL_MACHINE of the local computer: its folder found at each use
};

}  // namespace

std::unique_ptr<Host> worldHost(const std::string& folder, bool local) {
    return std::make_unique<WorldHost>(folder, local);
}

}  // namespace sim
