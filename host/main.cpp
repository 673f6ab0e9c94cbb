// brisalen: the sample host. It loads the library the way a host
// application does, calls its managers and shows what they answer.
#include <iostream>
#include <string>

#include "host/HostContext.h"
#include "host/ProcessCommands.h"
#include "host/ProductCommands.h"
#include "host/RepairCommands.h"
#include "host/ServiceCommands.h"

#if !defined(_WIN32)
#include "host/InstallerCommands.h"
#include "platform/sim/Machine.h"
#include "platform/sim/SimPlatform.h"
#endif

int main(int argc, char** argv) {
    CLI::App app{"brisalen: checks, repairs, installs and cleans the iTunes family"};
    app.require_subcommand(0, 1);
    app.fallthrough();  // global options may follow the command
    HostContext host;
    HostAction action;
    app.add_option("--library", host.libraryPath, "the Brisalen library to load");
    app.add_flag("--json", host.json, "print JSON instead of text");
    AddInfoCommands(app, action);
    AddServiceCommands(app, action);
    AddProcessCommands(app, action);
    AddProductCommands(app, action);
    AddRepairCommands(app, action);
#if !defined(_WIN32)
    std::string machineFolder;
    app.add_option("--machine", machineFolder,
                   "folder of the simulated Windows machine (default: $BRISALEN_MACHINE or "
                   "~/.local/share/brisalen/machine)");
    CLI::App* machine = app.add_subcommand("machine", "set the simulated Windows machine up");
    machine->require_subcommand(1);
    AddMachineCommands(*machine, action);
    AddServiceMachineCommands(*machine, action);
    AddProcessMachineCommands(*machine, action);
    AddInstallerMachineCommands(*machine, action);
#endif
    CLI11_PARSE(app, argc, argv);

#if !defined(_WIN32)
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
#else
    return action(host);
#endif
}
