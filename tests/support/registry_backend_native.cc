#include <windows.h>

#include <string>

#include "tests/support/registry_backend.h"

struct RegistryBackend::State {};

RegistryBackend::RegistryBackend()
    : testKey_("SOFTWARE\\VeskCfgConformance\\" + std::to_string(GetCurrentProcessId()) + "_" +
               std::to_string(GetTickCount())),
      state_(new State) {}

RegistryBackend::~RegistryBackend() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, testKey_.c_str()); }

static bool underWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

bool RegistryBackend::enumeratesInCreationOrder() const { return !underWine(); }
const char* RegistryBackend::name() const { return underWine() ? "Wine" : "Windows"; }
