// Libraries the simulated machine can load. It has two, each a stand-in
// whose behaviour the machine keeps: RemovePackage.dll, the companion that
// finds and removes the Store edition of iTunes (beside the Store package it
// acts on, here), and ITunesLibrary.dll (SimItunesLibrary.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Libraries.h"
#include "platform/sim/Api.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/store/MachineJson.h"

namespace sim {

// The Store edition of iTunes for the current user; installed while it has
// a version.
struct StoreItunes {
    static constexpr const char* kKey = "storeItunes";
    std::optional<std::wstring> version;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(StoreItunes, version)

// How the stand-in of RemovePackage.dll behaves. By default it is beside the
// host program, exports both functions, and a removal succeeds.
struct StoreCompanion {
    static constexpr const char* kKey = "storeCompanion";
    bool present = true;
    bool exportsCheck = true;
    bool exportsUninstall = true;
    // What the removal returns; 0 also removes the package.
    int32_t removalResult = 0;
    bool checkCrashes = false;
    bool uninstallCrashes = false;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(StoreCompanion, present, exportsCheck, exportsUninstall, removalResult,
                                                checkCrashes, uninstallCrashes)

// The companion's file name and exports, as the library asks for them.
inline constexpr const wchar_t* kStoreCompanionName = L"RemovePackage.dll";
inline constexpr const char* kStoreCheckExport = "CheckInstallMicrosoftStoreItunes";
inline constexpr const char* kStoreUninstallExport = "UninstallMicrosoftStoreItunes";

// Installs (with a version) or removes (nullopt) the Store edition.
SIM_API void SetStoreItunes(Machine& machine, std::optional<std::wstring> version);
SIM_API void SetStoreCompanion(Machine& machine, const StoreCompanion& behaviour);

class SIM_API SimLibraries : public platform::ILibraries {
public:
    explicit SimLibraries(std::shared_ptr<Machine> machine) : machine_(std::move(machine)) {}
    platform::Result<std::unique_ptr<platform::ILibrary>> Load(const std::wstring& name) override;

private:
    std::shared_ptr<Machine> machine_;
};

}  // namespace sim
