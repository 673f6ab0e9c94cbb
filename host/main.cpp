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
#include "host/SessionCommand.h"
#include "host/UserDataCommands.h"

namespace {

// Every command, registered on a fresh parser: a session parses many
// command lines, and a CLI11 parser keeps what it parsed last. The option
// values live in statics of each Add...Commands function, which put them
// back to their defaults on every registration, so a command never
// inherits the options of the one before it.
void AddCommands(CLI::App& app, HostContext& host, HostAction& action) {
    app.require_subcommand(0, 1);
    app.fallthrough();  // global options may follow the command
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
}

const char kDescription[] = "brisalen: checks, repairs, installs and cleans the iTunes family";

}  // namespace

int RunCommandLine(HostContext& host, const std::vector<std::string>& arguments) {
    CLI::App app{kDescription, "brisalen"};
    HostAction action;
    host.json = false;
    AddCommands(app, host, action);
    try {
        // CLI11 takes the arguments last to first.
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    return RunOnMachine(host, action);
}

int main(int argc, char** argv) {
    CLI::App app{kDescription};
    HostContext host;
    HostAction action;
    AddCommands(app, host, action);
    AddSessionCommand(app, action);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version end well; any malformed command line is a usage
        // error, whatever CLI11 would number it.
        return app.exit(e) == 0 ? 0 : 2;
    }
    return RunOnMachine(host, action);
}
