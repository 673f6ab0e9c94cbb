// brisalen machine set-itl-companion: how the stand-in of ITunesLibrary.dll,
// which reads and writes the media player's library file, behaves.
#include "host/machine/SetupCommands.h"
#include "platform/sim/processes/SimItunesLibrary.h"
#include "platform/sim/SimPlatform.h"

namespace {

struct ItunesLibraryChoice {
    bool absent = false;
    bool readFails = false;
    bool writeFails = false;
};

// The whole behaviour at once: what is not named is as a sound companion has it.
int SetItunesLibraryCompanion(const ItunesLibraryChoice& choice) {
    sim::ItunesLibraryCompanion behaviour;
    behaviour.present = !choice.absent;
    behaviour.readFails = choice.readFails;
    behaviour.writeFails = choice.writeFails;
    sim::SetItunesLibraryCompanion(*sim::CurrentMachine(), behaviour);
    return 0;
}

}  // namespace

void AddItunesLibrarySetupCommands(CLI::App& machine, HostAction& action) {
    static ItunesLibraryChoice choice;
    choice = {};
    CLI::App* command = machine.add_subcommand(
        "set-itl-companion", "how ITunesLibrary.dll behaves (every option not given: as a sound companion)");
    command->add_flag("--absent", choice.absent, "no ITunesLibrary.dll beside the host");
    command->add_flag("--read-fails", choice.readFails, "reading a library file fails");
    command->add_flag("--write-fails", choice.writeFails, "writing a library file fails, leaving it as it was");
    command->callback([&action] { action = [](HostContext&) { return SetItunesLibraryCompanion(choice); }; });
}
