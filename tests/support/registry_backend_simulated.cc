#include "tests/support/registry_backend.h"
#include "tools/support/temp_world.h"

struct RegistryBackend::State {
    TempWorld world;
};

RegistryBackend::RegistryBackend() : testKey_("SOFTWARE\\VeskCfgConformance"), state_(new State) {}
RegistryBackend::~RegistryBackend() = default;
bool RegistryBackend::enumeratesInCreationOrder() const { return true; }
const char* RegistryBackend::name() const { return "simulated"; }
