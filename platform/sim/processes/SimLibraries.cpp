#include "platform/sim/processes/SimLibraries.h"

#include <algorithm>
#include <cwchar>

#include "platform/sim/processes/SimItunesLibrary.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/Utf8.h"

namespace sim {

namespace {

constexpr size_t kVersionUnits = 1024;

// A fault as a faulty companion makes one: a write through a null pointer.
// Both the pointer and the write are volatile: with a plain int behind the
// pointer, GCC drops the write as undefined and the stand-in never faults.
void DereferenceNull() {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 0;
}

// Read without keeping the machine: a fault abandons the stand-in's frame
// without running its destructors, and a machine reference held there would
// never be released.
StoreCompanion Behaviour() { return CurrentMachine()->Snapshot<StoreCompanion>(); }

// The stand-in's exports, with the signatures of the real companion. They
// act on the machine the library acts on.
bool CheckInstallStandIn(wchar_t* version, int32_t /*reserved*/) {
    if (Behaviour().checkCrashes) DereferenceNull();
    const std::optional<std::wstring> installed = CurrentMachine()->Snapshot<StoreItunes>().version;
    if (!installed) return false;
    const size_t units = std::min(installed->size(), kVersionUnits - 1);
    std::wmemcpy(version, installed->data(), units);
    version[units] = L'\0';
    return true;
}

int32_t UninstallStandIn() {
    const StoreCompanion behaviour = Behaviour();
    if (behaviour.uninstallCrashes) DereferenceNull();
    if (behaviour.removalResult == 0) SetStoreItunes(*CurrentMachine(), std::nullopt);
    return behaviour.removalResult;
}

class StoreCompanionLibrary final : public platform::ILibrary {
public:
    explicit StoreCompanionLibrary(const StoreCompanion& behaviour) : behaviour_(behaviour) {}

    platform::ExportedFunction Export(const char* name) override {
        const std::string wanted = name;
        if (wanted == kStoreCheckExport && behaviour_.exportsCheck) {
            return reinterpret_cast<platform::ExportedFunction>(&CheckInstallStandIn);
        }
        if (wanted == kStoreUninstallExport && behaviour_.exportsUninstall) {
            return reinterpret_cast<platform::ExportedFunction>(&UninstallStandIn);
        }
        return nullptr;
    }

private:
    // Exports are what the file had when it was loaded.
    const StoreCompanion behaviour_;
};

}  // namespace

void SetStoreItunes(Machine& machine, std::optional<std::wstring> version) {
    machine.Edit<StoreItunes>([&](StoreItunes& store) { store.version = std::move(version); });
}

void SetStoreCompanion(Machine& machine, const StoreCompanion& behaviour) {
    machine.Edit<StoreCompanion>([&](StoreCompanion& companion) { companion = behaviour; });
}

platform::Result<std::unique_ptr<platform::ILibrary>> SimLibraries::Load(const std::wstring& name) {
    if (EqualsNoCase(name, kItunesLibraryCompanionName)) {
        std::unique_ptr<platform::ILibrary> library = LoadItunesLibraryStandIn(*machine_);
        if (!library) return platform::Failure(platform::kErrModuleNotFound);
        return library;
    }
    const StoreCompanion behaviour = machine_->Snapshot<StoreCompanion>();
    if (!EqualsNoCase(name, kStoreCompanionName) || !behaviour.present) {
        return platform::Failure(platform::kErrModuleNotFound);
    }
    return std::unique_ptr<platform::ILibrary>(std::make_unique<StoreCompanionLibrary>(behaviour));
}

}  // namespace sim
