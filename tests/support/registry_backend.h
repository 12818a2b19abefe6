// Where the registry conformance tests run: a fresh simulated world on Linux,
// a fresh key of the real registry on Windows (or Wine).
#pragma once

#include <memory>
#include <string>

class RegistryBackend {
public:
    RegistryBackend();
    ~RegistryBackend();
    RegistryBackend(const RegistryBackend&) = delete;
    RegistryBackend& operator=(const RegistryBackend&) = delete;

    // A key path under HKEY_LOCAL_MACHINE that nothing else uses.
    const std::string& testKey() const { return testKey_; }
    // Windows and the simulation enumerate values in creation order; Wine
    // keeps them sorted by name.
    bool enumeratesInCreationOrder() const;
    const char* name() const;

private:
    std::string testKey_;
    struct State;
    std::unique_ptr<State> state_;
};
