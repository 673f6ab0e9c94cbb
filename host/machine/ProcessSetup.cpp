// brisalen machine add-process: a running process on the simulated machine,
// with the modules it has loaded and the files it holds open.
#include <string>
#include <vector>

#include "host/HostText.h"
#include "host/machine/SetupCommands.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/processes/SimProcesses.h"

namespace {

struct ProcessChoice {
    std::string exe;
    std::vector<std::string> modules;
    std::vector<std::string> heldFiles;
    bool isProtected = false;
    bool is64Bit = false;
};

std::vector<std::wstring> Wide(const std::vector<std::string>& texts) {
    std::vector<std::wstring> wide;
    for (const std::string& text : texts) wide.push_back(FromUtf8(text));
    return wide;
}

int AddSimulatedProcess(HostContext& host, const ProcessChoice& choice) {
    auto machine = sim::CurrentMachine();
    const uint32_t pid = sim::AddProcess(*machine, FromUtf8(choice.exe), Wide(choice.modules),
                                         Wide(choice.heldFiles), choice.isProtected, choice.is64Bit);
    host.Print(nlohmann::json{{"pid", pid}});
    return 0;
}

}  // namespace

void AddProcessSetupCommands(CLI::App& machine, HostAction& action) {
    static ProcessChoice choice;
    choice = {};
    CLI::App* add = machine.add_subcommand("add-process", "start a process on the simulated machine");
    add->add_option("exe", choice.exe, "full Windows path of its program")->required();
    add->add_option("--module", choice.modules, "a module it has loaded (repeatable)")->allow_extra_args(false);
    add->add_option("--hold", choice.heldFiles, "a file it keeps open, so it cannot be deleted (repeatable)")
        ->allow_extra_args(false);
    add->add_flag("--protected", choice.isProtected, "refuse to be opened, as protected processes do");
    add->add_flag("--64bit", choice.is64Bit, "a 64-bit program, whose modules the 32-bit library cannot list");
    add->callback([&action] { action = [](HostContext& host) { return AddSimulatedProcess(host, choice); }; });
}
