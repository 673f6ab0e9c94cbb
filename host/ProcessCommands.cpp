#include "host/ProcessCommands.h"

#include <iostream>
#include <string>
#include <vector>

#include "host/HostText.h"
#include "platform/Platform.h"

#if !defined(_WIN32)
#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimProcesses.h"
#endif

namespace {

// A snapshot entry with the modules of its process, or why they cannot be
// read (most system processes refuse an ordinary user).
nlohmann::json DescribeProcess(platform::IProcesses& processes, const platform::ProcessEntry& entry) {
    nlohmann::json process{{"pid", entry.id}, {"exe", ToUtf8(entry.exeFile)}};
    const auto opened = processes.Open(entry.id, platform::kProcessQueryInformation | platform::kProcessVmRead);
    uint32_t error = opened.Error();
    std::vector<std::wstring> modules;
    if (opened) error = (*opened)->ModulePaths(modules);
    if (error != 0) {
        process["error"] = error;
        return process;
    }
    nlohmann::json paths = nlohmann::json::array();
    for (const std::wstring& module : modules) paths.push_back(ToUtf8(module));
    process["modules"] = paths;
    return process;
}

int ShowProcesses(HostContext& host) {
    platform::IProcesses& processes = platform::Os().Processes();
    const auto snapshot = processes.Snapshot();
    if (!snapshot) {
        std::cerr << "brisalen: no process snapshot (error " << snapshot.Error() << ")\n";
        return 1;
    }
    nlohmann::json list = nlohmann::json::array();
    platform::ProcessEntry entry;
    for (bool more = (*snapshot)->First(entry); more; more = (*snapshot)->Next(entry)) {
        list.push_back(DescribeProcess(processes, entry));
    }
    host.Print(nlohmann::json{{"processes", list}});
    return 0;
}

}  // namespace

void AddProcessCommands(CLI::App& app, HostAction& action) {
    CLI::App* processes = app.add_subcommand("processes", "running processes with their loaded modules");
    processes->callback([&action] { action = ShowProcesses; });
}

#if !defined(_WIN32)

namespace {

struct ProcessChoice {
    std::string exe;
    std::vector<std::string> modules;
    std::vector<std::string> heldFiles;
    bool isProtected = false;
};

std::vector<std::wstring> Wide(const std::vector<std::string>& texts) {
    std::vector<std::wstring> wide;
    for (const std::string& text : texts) wide.push_back(FromUtf8(text));
    return wide;
}

int AddSimulatedProcess(HostContext& host, const ProcessChoice& choice) {
    auto machine = sim::CurrentMachine();
    const uint32_t pid = sim::AddProcess(*machine, FromUtf8(choice.exe), Wide(choice.modules),
                                         Wide(choice.heldFiles), choice.isProtected);
    host.Print(nlohmann::json{{"pid", pid}});
    return 0;
}

}  // namespace

void AddProcessMachineCommands(CLI::App& machine, HostAction& action) {
    static ProcessChoice choice;
    CLI::App* add = machine.add_subcommand("add-process", "start a process on the simulated machine");
    add->add_option("exe", choice.exe, "full Windows path of its program")->required();
    add->add_option("--module", choice.modules, "a module it has loaded (repeatable)")->allow_extra_args(false);
    add->add_option("--hold", choice.heldFiles, "a file it keeps open, so it cannot be deleted (repeatable)")
        ->allow_extra_args(false);
    add->add_flag("--protected", choice.isProtected, "refuse to be opened, as protected processes do");
    add->callback([&action] { action = [](HostContext& host) { return AddSimulatedProcess(host, choice); }; });
}

#endif
