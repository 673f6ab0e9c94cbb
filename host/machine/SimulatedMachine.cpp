// On Linux the host acts on a simulated Windows machine kept in a folder.
#include <iostream>
#include <string>

#include "host/HostMachine.h"
#include "host/machine/SetupCommands.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/SimPlatform.h"

namespace {

std::string machineFolder;

}  // namespace

void AddMachineCommands(CLI::App& app, HostAction& action) {
    app.add_option("--machine", machineFolder,
                   "folder of the simulated Windows machine (default: $BRISALEN_MACHINE or "
                   "~/.local/share/brisalen/machine)");
    CLI::App* machine = app.add_subcommand("machine", "set the simulated Windows machine up");
    machine->require_subcommand(1);
    AddSystemSetupCommands(*machine, action);
    AddServiceSetupCommands(*machine, action);
    AddProcessSetupCommands(*machine, action);
    AddInstallerSetupCommands(*machine, action);
    AddStoreSetupCommands(*machine, action);
    AddUserDataSeedCommands(*machine, action);
    AddItunesLibrarySetupCommands(*machine, action);
}

int RunOnMachine(HostContext& host, const HostAction& action) {
    // The machine must be in place before the library loads: its load entry
    // already writes the log beside the (simulated) host program.
    try {
        // Every change the library makes to the machine is written as it
        // happens, so nothing is saved at exit: a save then would put back
        // what other hosts on the same machine have changed meanwhile.
        if (!machineFolder.empty()) sim::UseMachine(sim::Machine::Open(machineFolder));
        return action(host);
    } catch (const std::exception& e) {
        std::cerr << "brisalen: simulated machine: " << e.what() << "\n";
        return 2;
    }
}
