// The registry of the simulated machine: the "registry" section of
// machine.json maps full key paths ("HKLM\SOFTWARE\...") to their string
// values. Key and value names compare without regard to case, and a 32-bit
// view of HKLM\SOFTWARE on 64-bit Windows is redirected to WOW6432Node as
// Windows does for the 32-bit library.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/Registry.h"
#include "platform/sim/Api.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/store/MachineJson.h"

namespace sim {

// A key's values by name.
using RegistryValues = std::map<std::wstring, std::wstring, LessNoCase>;

struct Registry {
    static constexpr const char* kKey = "registry";
    // By the key's full name in the 64-bit view, "HKLM\SOFTWARE\WOW6432Node\...".
    std::map<std::wstring, RegistryValues, LessNoCase> keys;
};
SIM_JSON_STORED_AS(Registry, keys)

class SIM_API SimRegistry : public platform::IRegistry {
public:
    explicit SimRegistry(std::shared_ptr<Machine> machine) : machine_(std::move(machine)) {}

    platform::Result<std::unique_ptr<platform::IRegistryKey>> OpenKey(platform::RegistryRoot root,
                                                                      const std::wstring& path,
                                                                      uint32_t access) override;
    platform::Result<std::unique_ptr<platform::IRegistryKey>> CreateKey(platform::RegistryRoot root,
                                                                        const std::wstring& path,
                                                                        uint32_t access) override;

private:
    std::shared_ptr<Machine> machine_;
};

// Set-up for tests and the host: writes one string value in the 64-bit view.
SIM_API void SetRegistryString(Machine& machine, const std::wstring& keyPath, const std::wstring& name,
                               const std::wstring& value);
// Removes a key with its values; with `onlyIfEmpty`, only a key that has
// no values left, as the Installer does with the keys it wrote to.
SIM_API void DeleteRegistryKey(Machine& machine, const std::wstring& keyPath, bool onlyIfEmpty = false);

}  // namespace sim
