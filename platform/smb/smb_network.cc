// The smb network: every computer but the local one is a real SMB server,
// found by name through the system resolver and reached with Samba's client
// libraries, which live in a module of their own (veskcfg-smb.so) loaded on
// first use. Names go to the server in UTF-8 from the ANSI code page and
// come back the same way.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <map>
#include <memory>
#include <string>

#include "platform/codepage.h"
#include "platform/simulated/remote.h"
#include "platform/simulated/trace.h"
#include "platform/smb/smb_client.h"

namespace sim {

// A key on a server, holding the session it was opened in: a session whose
// connection is cancelled ends when its last key is closed.
class RemoteKey {
public:
    std::shared_ptr<SmbSession> session;
    SmbKey* key = nullptr;
};

}  // namespace sim

namespace {

// Long enough for a server across a slow link, short enough that a server
// that is not there is soon reported: Windows gives up after about as long.
constexpr unsigned kAnswerSeconds = 5;

std::string directoryOfProgram() {
    char path[4096] = {};
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    std::string text(path, static_cast<size_t>(length));
    return text.substr(0, text.rfind('/'));
}

class SmbNetwork : public sim::RemoteNetwork {
public:
    DWORD openSession(const std::string& server, const std::string& user, const std::string& password) override {
        if (LONG code = load()) return static_cast<DWORD>(code);
        const std::string known = sim::upperText(server);
        if (sessions_.count(known)) return NO_ERROR;
        std::string host, account, secret;
        if (!sim::ansiToUtf8(server, host) || !sim::ansiToUtf8(user, account) || !sim::ansiToUtf8(password, secret))
            return ERROR_INVALID_NAME;
        SmbSession* opened = nullptr;
        DWORD code = client_->openSession(host.c_str(), account.c_str(), secret.c_str(), kAnswerSeconds, &opened);
        std::fill(secret.begin(), secret.end(), '\0');
        if (code) return code;
        auto close = client_->closeSession;
        sessions_[known] = std::shared_ptr<SmbSession>(opened, [close](SmbSession* session) { close(session); });
        return NO_ERROR;
    }

    void closeSession(const std::string& server) override { sessions_.erase(sim::upperText(server)); }

    LONG connectRegistry(const std::string& server, sim::RemoteKey*& root) override {
        root = nullptr;
        auto session = sessions_.find(sim::upperText(server));
        // A connection this run did not open has no credentials here.
        if (session == sessions_.end()) return ERROR_ACCESS_DENIED;
        SmbKey* machine = nullptr;
        if (LONG code = static_cast<LONG>(client_->openMachine(session->second.get(), &machine))) return code;
        root = new sim::RemoteKey{session->second, machine};
        return ERROR_SUCCESS;
    }

    LONG createKey(sim::RemoteKey& parent, const std::string& path, REGSAM access, sim::RemoteKey*& key,
                   DWORD* disposition) override {
        key = nullptr;
        std::string name;
        if (!sim::ansiToUtf8(path, name)) return ERROR_INVALID_PARAMETER;
        SmbKey* created = nullptr;
        uint32_t action = 0;
        if (LONG code = static_cast<LONG>(client_->createKey(parent.key, name.c_str(), access, &created, &action)))
            return code;
        if (disposition) *disposition = action;
        key = new sim::RemoteKey{parent.session, created};
        return ERROR_SUCCESS;
    }

    LONG openKey(sim::RemoteKey& parent, const std::string& path, REGSAM access, sim::RemoteKey*& key) override {
        key = nullptr;
        std::string name;
        if (!sim::ansiToUtf8(path, name)) return ERROR_FILE_NOT_FOUND;
        SmbKey* opened = nullptr;
        if (LONG code = static_cast<LONG>(client_->openKey(parent.key, name.c_str(), access, &opened))) return code;
        key = new sim::RemoteKey{parent.session, opened};
        return ERROR_SUCCESS;
    }

    LONG setValue(sim::RemoteKey& key, const std::string& name, DWORD type, const BYTE* data, DWORD size) override {
        std::string utf8;
        if (!sim::ansiToUtf8(name, utf8)) return ERROR_INVALID_PARAMETER;
        return static_cast<LONG>(client_->setValue(key.key, utf8.c_str(), type, data, size));
    }

    LONG deleteValue(sim::RemoteKey& key, const std::string& name) override {
        std::string utf8;
        if (!sim::ansiToUtf8(name, utf8)) return ERROR_FILE_NOT_FOUND;
        return static_cast<LONG>(client_->deleteValue(key.key, utf8.c_str()));
    }

    LONG enumValue(sim::RemoteKey& key, DWORD index, std::string& name, DWORD& type) override {
        uint32_t valueType = 0;
        if (LONG code = static_cast<LONG>(client_->enumValue(key.key, index, nameBuffer_, sizeof nameBuffer_, &valueType)))
            return code;
        name = sim::utf8ToAnsi(nameBuffer_);
        type = valueType;
        return ERROR_SUCCESS;
    }

    LONG closeKey(sim::RemoteKey* key) override {
        if (!key) return ERROR_INVALID_HANDLE;
        LONG code = static_cast<LONG>(client_->closeKey(key->key));
        delete key;
        return code;
    }

private:
    // ERROR_NOT_SUPPORTED, said once on standard error, when this build or
    // this machine has no module.
    LONG load() {
        if (client_) return ERROR_SUCCESS;
        if (failed_) return ERROR_NOT_SUPPORTED;
        failed_ = true;
#ifdef VESKCFG_SMB_MODULE
        std::string problem;
        for (const std::string& path :
             {directoryOfProgram() + "/veskcfg-smb.so", directoryOfProgram() + "/" VESKCFG_SMB_MODULE}) {
            void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!module) {
                if (problem.empty() || access(path.c_str(), F_OK) == 0) problem = dlerror();
                continue;
            }
            using Entry = const SmbClient* (*)();
            auto entry = reinterpret_cast<Entry>(dlsym(module, "veskcfg_smb_client"));
            const SmbClient* client = entry ? entry() : nullptr;
            if (client && client->version == SMB_CLIENT_VERSION) {
                client_ = client;
                failed_ = false;
                return ERROR_SUCCESS;
            }
            problem = path + ": not this program's smb module";
        }
        sim::diagnose("VESKCFG_NETWORK=smb: the smb network cannot be loaded (%s); every call on another "
                      "computer fails with 50.",
                      problem.c_str());
#else
        sim::diagnose("VESKCFG_NETWORK=smb: this program was built without the smb network (samba-dev was "
                      "missing); every call on another computer fails with 50.");
#endif
        return ERROR_NOT_SUPPORTED;
    }

    const SmbClient* client_ = nullptr;
    bool failed_ = false;
    // A value name has at most 16,383 characters, each up to 3 bytes in
    // UTF-8: one buffer for every step of a walk.
    char nameBuffer_[3 * 16383 + 1] = {};
    std::map<std::string, std::shared_ptr<SmbSession>> sessions_;  // by upper-cased server name
};

}  // namespace

namespace sim {

RemoteNetwork* remoteNetwork() {
    static RemoteNetwork* network = [] () -> RemoteNetwork* {
        const char* choice = std::getenv("VESKCFG_NETWORK");
        if (!choice || !*choice || strcasecmp(choice, "world") == 0) return nullptr;
        if (strcasecmp(choice, "smb") == 0) return new SmbNetwork;  // lives as long as the run
        diagnose("VESKCFG_NETWORK=\"%s\" is not a network VeskCfg knows (world or smb); world is used.", choice);
        return nullptr;
    }();
    return network;
}

}  // namespace sim
