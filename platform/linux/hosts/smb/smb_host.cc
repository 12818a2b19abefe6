// A computer that is a real SMB server, found by name through the system
// resolver and reached with Samba's client libraries, which live in a module
// of their own (veskcfg-smb.so) loaded on first use. Names go to the server
// in UTF-8 from the ANSI code page and come back the same way.
#include "platform/linux/hosts/host.h"

#include <dlfcn.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "platform/linux/machine/codepage.h"
#include "platform/linux/machine/trace.h"
#include "platform/linux/machine/world.h"
#include "platform/linux/hosts/smb/smb_client.h"

namespace sim {

namespace {

// Reaching a server (its name, TCP, negotiate, session setup, tree connect,
// bind) is given a few seconds, as Windows soon reports a server that is
// not there. A call on a session that is up waits as long as Windows' SMB
// client waits for a live server: its session timeout, 60 s by default.
constexpr unsigned kReachSeconds = 5;
constexpr unsigned kCallSeconds = 60;

std::string directoryOfProgram() {
    char path[4096] = {};
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    std::string text(path, static_cast<size_t>(length));
    return text.substr(0, text.rfind('/'));
}

// The module, loaded once a run; null, said once on standard error, when
// this build or this machine has none or it does not fit the library.
const SmbClient* smbClient() {
    static const SmbClient* client = [] () -> const SmbClient* {
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
            const SmbClient* found = entry ? entry() : nullptr;
            if (!found || found->version != SMB_CLIENT_VERSION) {
                problem = path + ": not this program's smb module";
                continue;
            }
            if (const char* misfit = found->problem()) {
                problem = path + ": " + misfit;
                break;
            }
            return found;
        }
        diagnose("VESKCFG_NETWORK=smb: the smb network cannot be loaded (%s); every call on another "
                 "computer fails with 50.",
                 problem.c_str());
#else
        diagnose("VESKCFG_NETWORK=smb: this program was built without the smb network (samba-dev was "
                 "missing); every call on another computer fails with 50.");
#endif
        return nullptr;
    }();
    return client;
}

// A value name has at most 16,383 characters, each up to 3 bytes in UTF-8:
// one buffer for every step of every walk.
char nameBuffer[3 * 16383 + 1];

// A key on the server, holding the session it was opened in: a session whose
// connection is cancelled ends when its last key is closed.
struct SmbHostKey : HostKey {
    std::shared_ptr<SmbSession> session;
    SmbKey* key = nullptr;
};

std::string joined(const KeyPath& path) {
    std::string out;
    for (const std::string& part : path) out += (out.empty() ? "" : "\\") + part;
    return out;
}

class SmbHost : public Host {
public:
    explicit SmbHost(std::string name) : name_(std::move(name)) {}

    // The name is looked up when the session is opened.
    DWORD reach() override { return NO_ERROR; }

    DWORD logOn(const std::string& user, const char* password) override {
        const SmbClient* client = smbClient();
        if (!client) return ERROR_NOT_SUPPORTED;
        if (session_) return NO_ERROR;
        std::string host, account, secret;
        bool converted = ansiToUtf8(name_, host) && ansiToUtf8(user, account) && ansiToUtf8(password, secret);
        SmbSession* opened = nullptr;
        DWORD code = converted ? client->openSession(host.c_str(), account.c_str(), secret.c_str(), kReachSeconds,
                                                     kCallSeconds, &opened)
                               : ERROR_INVALID_NAME;
        explicit_bzero(secret.data(), secret.size());
        if (code) return code;
        auto close = client->closeSession;
        session_ = std::shared_ptr<SmbSession>(opened, [close](SmbSession* session) { close(session); });
        return NO_ERROR;
    }

    DWORD logOff() override {
        session_.reset();
        return NO_ERROR;
    }

    HostKey* machineKey() override { return nullptr; }

    LONG connectRegistry(const std::string&, bool connected, std::unique_ptr<HostKey>& root) override {
        // A connection this run did not open has no session here.
        if (!connected || !session_) return ERROR_ACCESS_DENIED;
        SmbKey* machine = nullptr;
        if (LONG code = static_cast<LONG>(smbClient()->openMachine(session_.get(), &machine))) return code;
        root = keyOf(session_, machine);
        return ERROR_SUCCESS;
    }

    LONG openKey(HostKey& parent, const KeyPath& path, REGSAM access, std::unique_ptr<HostKey>& key) override {
        std::string name;
        if (!ansiToUtf8(joined(path), name)) return ERROR_FILE_NOT_FOUND;
        SmbHostKey& from = static_cast<SmbHostKey&>(parent);
        SmbKey* opened = nullptr;
        if (LONG code = static_cast<LONG>(smbClient()->openKey(from.key, name.c_str(), access, &opened))) return code;
        key = keyOf(from.session, opened);
        return ERROR_SUCCESS;
    }

    LONG createKey(HostKey& parent, const KeyPath& path, REGSAM access, std::unique_ptr<HostKey>& key,
                   DWORD& disposition) override {
        std::string name;
        if (!ansiToUtf8(joined(path), name)) return ERROR_INVALID_PARAMETER;
        SmbHostKey& from = static_cast<SmbHostKey&>(parent);
        SmbKey* created = nullptr;
        uint32_t action = 0;
        if (LONG code = static_cast<LONG>(smbClient()->createKey(from.key, name.c_str(), access, &created, &action)))
            return code;
        disposition = action;
        key = keyOf(from.session, created);
        return ERROR_SUCCESS;
    }

    // No caller reads a value's data on another computer.
    LONG queryValue(HostKey&, std::string_view, ValueView&) override { return ERROR_NOT_SUPPORTED; }

    LONG enumValue(HostKey& key, DWORD index, bool withData, ValueView& value) override {
        if (withData) return ERROR_NOT_SUPPORTED;
        uint32_t type = 0;
        SmbKey* at = static_cast<SmbHostKey&>(key).key;
        if (LONG code = static_cast<LONG>(smbClient()->enumValue(at, index, nameBuffer, sizeof nameBuffer, &type)))
            return code;
        valueName_ = utf8ToAnsi(nameBuffer);
        value = {valueName_, type, {}};
        return ERROR_SUCCESS;
    }

    LONG setValue(HostKey& key, std::string_view name, DWORD type, std::string_view data) override {
        std::string utf8;
        if (!ansiToUtf8(name, utf8)) return ERROR_INVALID_PARAMETER;
        return static_cast<LONG>(smbClient()->setValue(static_cast<SmbHostKey&>(key).key, utf8.c_str(), type,
                                                       reinterpret_cast<const uint8_t*>(data.data()),
                                                       static_cast<uint32_t>(data.size())));
    }

    // The record store, the only caller, is local.
    LONG setKeyValue(HostKey&, const KeyPath&, std::string_view, DWORD, std::string_view) override {
        return ERROR_NOT_SUPPORTED;
    }

    LONG deleteValue(HostKey& key, std::string_view name) override {
        std::string utf8;
        if (!ansiToUtf8(name, utf8)) return ERROR_FILE_NOT_FOUND;
        return static_cast<LONG>(smbClient()->deleteValue(static_cast<SmbHostKey&>(key).key, utf8.c_str()));
    }

    // The server writes its registry out itself.
    LONG flushKey(HostKey&) override { return ERROR_SUCCESS; }

    LONG closeKey(std::unique_ptr<HostKey> key) override {
        return static_cast<LONG>(smbClient()->closeKey(static_cast<SmbHostKey&>(*key).key));
    }

private:
    static std::unique_ptr<HostKey> keyOf(const std::shared_ptr<SmbSession>& session, SmbKey* key) {
        auto made = std::make_unique<SmbHostKey>();
        made->session = session;
        made->key = key;
        return made;
    }

    std::string name_;
    std::shared_ptr<SmbSession> session_;  // this run's, while its connection is open
    std::string valueName_;                // the last one a walk read, in the code page
};

}  // namespace

std::unique_ptr<Host> smbHost(const std::string& name) {
    return std::make_unique<SmbHost>(name);
}

}  // namespace sim
