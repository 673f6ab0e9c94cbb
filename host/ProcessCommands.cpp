#include "host/ProcessCommands.h"

#include <iostream>
#include <string>
#include <vector>

#include "host/HostText.h"
#include "platform/Platform.h"

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
        // What a 32-bit host still learns of a 64-bit process.
        std::wstring image;
        if (opened && (*opened)->ImagePath(image) == 0) process["image"] = ToUtf8(image);
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
