// brisalen: the sample host. It loads the library the way a host
// application does, calls its managers and shows what they answer.
#include "host/BackupCommands.h"
#include "host/HostContext.h"
#include "host/HostMachine.h"
#include "host/InfoCommands.h"
#include "host/OneKeyCommands.h"
#include "host/ProcessCommands.h"
#include "host/ProductCommands.h"
#include "host/QueryCommands.h"
#include "host/RepairCommands.h"
#include "host/ServiceCommands.h"
#include "host/UserDataCommands.h"

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
    AddOneKeyCommands(app, action);
    AddBackupCommands(app, action);
    AddUserDataCommands(app, action);
    AddQueryCommands(app, action);
    AddMachineCommands(app, action);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version end well; any malformed command line is a usage
        // error, whatever CLI11 would number it.
        return app.exit(e) == 0 ? 0 : 2;
    }
    return RunOnMachine(host, action);
}
