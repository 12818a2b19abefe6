#include "platform/linux/hosts/fault_host.h"

#include <utility>

#include "platform/linux/hosts/faults.h"

namespace sim {

namespace {

// Each call is counted and checked before the host sees it. The calls that
// open or change something read the faults file again when it changed, so
// that a file written during a run is seen at the next open or write; the
// reads and the steps of a walk do not look at it.
class FaultHost : public Host {
public:
    FaultHost(std::unique_ptr<Host> inner, std::function<std::string()> folder)
        : inner_(std::move(inner)), folder_(std::move(folder)) {}

    DWORD reach() override {
        if (LONG code = fresh(Call::WNetAddConnection2A)) return static_cast<DWORD>(code);
        return inner_->reach();
    }
    DWORD logOn(const std::string& user, const char* password) override {
        return inner_->logOn(user, password);
    }
    DWORD logOff() override {
        if (LONG code = fresh(Call::WNetCancelConnection2A)) return static_cast<DWORD>(code);
        return inner_->logOff();
    }

    HostKey* machineKey() override { return inner_->machineKey(); }
    LONG connectRegistry(const std::string& name, bool connected, std::unique_ptr<HostKey>& root) override {
        if (LONG code = fresh(Call::RegConnectRegistryA)) return code;
        return inner_->connectRegistry(name, connected, root);
    }
    LONG openKey(HostKey& parent, const KeyPath& path, REGSAM access, std::unique_ptr<HostKey>& key) override {
        if (LONG code = fresh(Call::RegOpenKeyExA)) return code;
        return inner_->openKey(parent, path, access, key);
    }
    LONG createKey(HostKey& parent, const KeyPath& path, REGSAM access, std::unique_ptr<HostKey>& key,
                   DWORD& disposition) override {
        if (LONG code = fresh(Call::RegCreateKeyExA)) return code;
        return inner_->createKey(parent, path, access, key, disposition);
    }
    LONG queryValue(HostKey& key, std::string_view name, ValueView& value) override {
        if (LONG code = cached(Call::RegQueryValueExA)) return code;
        return inner_->queryValue(key, name, value);
    }
    LONG enumValue(HostKey& key, DWORD index, bool withData, ValueView& value) override {
        if (LONG code = cached(Call::RegEnumValueA)) return code;
        return inner_->enumValue(key, index, withData, value);
    }
    LONG setValue(HostKey& key, std::string_view name, DWORD type, std::string_view data) override {
        if (LONG code = fresh(Call::RegSetValueExA)) return code;
        return inner_->setValue(key, name, type, data);
    }
    LONG setKeyValue(HostKey& parent, const KeyPath& path, std::string_view name, DWORD type,
                     std::string_view data) override {
        if (LONG code = fresh(Call::RegSetKeyValueA)) return code;
        return inner_->setKeyValue(parent, path, name, type, data);
    }
    LONG deleteValue(HostKey& key, std::string_view name) override {
        if (LONG code = fresh(Call::RegDeleteValueA)) return code;
        return inner_->deleteValue(key, name);
    }
    LONG flushKey(HostKey& key) override {
        if (LONG code = fresh(Call::RegFlushKey)) return code;
        return inner_->flushKey(key);
    }
    // An injected failure is reported, but the key is released all the
    // same: a caller could do nothing else with it.
    LONG closeKey(std::unique_ptr<HostKey> key) override {
        LONG fault = cached(Call::RegCloseKey);
        LONG code = key ? inner_->closeKey(std::move(key)) : ERROR_SUCCESS;
        return fault ? fault : code;
    }

private:
    // The computer's faults; null while it has no folder (the local
    // computer's is made by its first change).
    ComputerFaults* faults() {
        if (!faults_) faults_ = faultsOf(folder_());
        return faults_;
    }
    LONG fresh(Call call) {
        beforeWrite(call);
        ComputerFaults* faults = this->faults();
        if (!faults) return 0;
        faults->refresh();
        return faults->check(call);
    }
    LONG cached(Call call) {
        ComputerFaults* faults = this->faults();
        return faults ? faults->check(call) : 0;
    }

    std::unique_ptr<Host> inner_;
    std::function<std::string()> folder_;
    ComputerFaults* faults_ = nullptr;
};

}  // namespace

std::unique_ptr<Host> withFaults(std::unique_ptr<Host> host, std::function<std::string()> folder) {
    return std::make_unique<FaultHost>(std::move(host), std::move(folder));
}

}  // namespace sim
