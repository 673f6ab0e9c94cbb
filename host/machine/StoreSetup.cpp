// brisalen machine set-store / set-companion: the Microsoft Store edition of
// iTunes on the simulated machine, and how the stand-in of RemovePackage.dll
// that finds and removes it behaves.
#include <string>

#include "host/HostText.h"
#include "host/machine/SetupCommands.h"
#include "platform/sim/processes/SimLibraries.h"
#include "platform/sim/SimPlatform.h"

namespace {

struct StoreChoice {
    std::string version;
    bool remove = false;
};

struct CompanionChoice {
    bool missing = false;
    bool noCheckExport = false;
    bool noUninstallExport = false;
    int32_t removalCode = 0;
    std::string crash = "none";
};

int SetStore(const StoreChoice& choice) {
    auto machine = sim::CurrentMachine();
    if (choice.remove) sim::SetStoreItunes(*machine, std::nullopt);
    else sim::SetStoreItunes(*machine, FromUtf8(choice.version));
    return 0;
}

// The whole behaviour at once: what is not named is as a sound companion has it.
int SetCompanion(const CompanionChoice& choice) {
    sim::StoreCompanion behaviour;
    behaviour.present = !choice.missing;
    behaviour.exportsCheck = !choice.noCheckExport;
    behaviour.exportsUninstall = !choice.noUninstallExport;
    behaviour.removalResult = choice.removalCode;
    behaviour.checkCrashes = choice.crash == "check";
    behaviour.uninstallCrashes = choice.crash == "uninstall";
    sim::SetStoreCompanion(*sim::CurrentMachine(), behaviour);
    return 0;
}

}  // namespace

void AddStoreSetupCommands(CLI::App& machine, HostAction& action) {
    static StoreChoice store;
    CLI::App* setStore = machine.add_subcommand("set-store", "install or remove the Store edition of iTunes");
    CLI::Option* version = setStore->add_option("--version", store.version, "install it with this version");
    CLI::Option* remove = setStore->add_flag("--remove", store.remove, "remove it");
    version->excludes(remove);
    setStore->require_option(1);
    setStore->callback([&action] { action = [](HostContext&) { return SetStore(store); }; });

    static CompanionChoice companion;
    CLI::App* setCompanion = machine.add_subcommand(
        "set-companion", "how RemovePackage.dll behaves (every option not given: as a sound companion)");
    setCompanion->add_flag("--missing", companion.missing, "no RemovePackage.dll beside the host");
    setCompanion->add_flag("--no-check-export", companion.noCheckExport, "it lacks CheckInstallMicrosoftStoreItunes");
    setCompanion->add_flag("--no-uninstall-export", companion.noUninstallExport,
                           "it lacks UninstallMicrosoftStoreItunes");
    setCompanion->add_option("--removal-code", companion.removalCode,
                             "what the removal returns (0, the default, also removes the package)");
    setCompanion->add_option("--crash", companion.crash, "which export faults: check, uninstall or none")
        ->check(CLI::IsMember({"check", "uninstall", "none"}));
    setCompanion->callback([&action] { action = [](HostContext&) { return SetCompanion(companion); }; });
}
