// On Windows the host acts on the machine it runs on; of the set-up
// commands only seed-user-data applies to a real machine.
#include "host/HostMachine.h"
#include "host/machine/SetupCommands.h"

void AddMachineCommands(CLI::App& app, HostAction& action) {
    CLI::App* machine = app.add_subcommand("machine", "put test data on this machine");
    machine->require_subcommand(1);
    AddUserDataSeedCommands(*machine, action);
}

int RunOnMachine(HostContext& host, const HostAction& action) { return action(host); }
