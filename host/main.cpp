// brisalen: the sample host. It loads the library the way a host
// application does, calls its managers and shows what they answer.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "host/HostText.h"
#include "host/LibraryLoader.h"
#include "include/Brisalen.h"
#include "platform/Platform.h"

#if !defined(_WIN32)
#include "platform/sim/Machine.h"
#include "platform/sim/SimPlatform.h"
#endif

namespace {

struct KnownFolder {
    int csidl;
    const char* name;
};

constexpr KnownFolder kKnownFolders[] = {
    {0x1a, "AppData"},          {0x1c, "Local AppData"},         {0x0d, "My Music"},
    {0x23, "ProgramData"},      {0x26, "Program Files"},         {0x2a, "Program Files (x86)"},
    {0x2b, "Common Files"},     {0x2c, "Common Files (x86)"},    {0x25, "System"},
};

const char* DriveTypeName(platform::DriveType type) {
    switch (type) {
        case platform::DriveType::Fixed: return "fixed";
        case platform::DriveType::CdRom: return "cd-rom";
        case platform::DriveType::Remote: return "remote";
        case platform::DriveType::Removable: return "removable";
        case platform::DriveType::RamDisk: return "ram disk";
        default: return "unknown";
    }
}

nlohmann::json MachineFacts() {
    auto& machine = platform::Os().Machine();
    nlohmann::json facts;
    const platform::OsVersion reported = machine.ReportedVersion();
    facts["reported_version"] = std::to_string(reported.major) + "." + std::to_string(reported.minor);
    platform::OsVersion real;
    if (machine.TrueVersion(real)) {
        facts["true_version"] =
            std::to_string(real.major) + "." + std::to_string(real.minor) + "." + std::to_string(real.build);
    }
    bool available = false;
    facts["windows_64bit"] = machine.Is64BitWindows(available) && available;
    facts["program"] = ToUtf8(platform::Os().Process().ExecutablePath());
    nlohmann::json drives = nlohmann::json::array();
    for (const std::wstring& root : machine.LogicalDrives()) {
        nlohmann::json drive{{"root", ToUtf8(root)}, {"type", DriveTypeName(machine.GetDriveType(root))}};
        platform::DiskSpace space;
        if (machine.GetDiskSpace(root, space)) {
            drive["total_bytes"] = space.total;
            drive["free_bytes"] = space.totalFree;
        }
        drives.push_back(drive);
    }
    facts["drives"] = drives;
    nlohmann::json folders = nlohmann::json::object();
    for (const KnownFolder& folder : kKnownFolders) {
        folders[folder.name] = ToUtf8(machine.SpecialFolder(folder.csidl));
    }
    facts["known_folders"] = folders;
    return facts;
}

// Asks every repair-manager query that changes nothing on the machine.
nlohmann::json ManagerAnswers(CreateFixItuensMgrFn create) {
    IFixItunesMgr* manager = create();
    nlohmann::json answers;
    answers["same_instance"] = manager == create();
    answers["IsItunes64Bit"] = manager->IsItunes64Bit();
    answers["GetItunesVersion"] = ToUtf8(manager->GetItunesVersion());
    answers["CheckMicrosoftStoreItunes"] = manager->CheckMicrosoftStoreItunes();
    answers["IsOs64Bit"] = manager->IsOs64Bit();
    // A folder that does not exist is refused before any task starts.
    const std::wstring missing = L"C:\\Brisalen-no-such-folder";
    answers["RepairAllItunesComponent(missing folder)"] = manager->RepairAllItunesComponent(missing, nullptr, nullptr);
    answers["OneKeyInstall(missing folder)"] = manager->OneKeyInstall(missing, nullptr, nullptr);
    return answers;
}

void PrintText(const nlohmann::json& value, int indent = 0) {
    for (auto it = value.begin(); it != value.end(); ++it) {
        const std::string pad(static_cast<size_t>(indent), ' ');
        if (it->is_object()) {
            std::cout << pad << it.key() << ":\n";
            PrintText(*it, indent + 2);
        } else if (it->is_array()) {
            std::cout << pad << it.key() << ":\n";
            for (const auto& entry : *it) std::cout << pad << "  - " << entry.dump() << "\n";
        } else {
            std::cout << pad << it.key() << ": " << (it->is_string() ? it->get<std::string>() : it->dump())
                      << "\n";
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"brisalen: checks, repairs, installs and cleans the iTunes family"};
    app.require_subcommand(0, 1);
    app.fallthrough();  // global options may follow the command
    std::string libraryPath = DefaultLibraryPath();
    bool json = false;
    app.add_option("--library", libraryPath, "the Brisalen library to load");
    app.add_flag("--json", json, "print JSON instead of text");
#if !defined(_WIN32)
    std::string machineFolder;
    app.add_option("--machine", machineFolder,
                   "folder of the simulated Windows machine (default: $BRISALEN_MACHINE or "
                   "~/.local/share/brisalen/machine)");
#endif
    app.add_subcommand("info", "OS facts, known folders and the repair manager's answers (the default)");
    CLI11_PARSE(app, argc, argv);

#if !defined(_WIN32)
    // The machine must be in place before the library loads: its load entry
    // already writes the log beside the (simulated) host program.
    try {
        if (!machineFolder.empty()) sim::UseMachine(sim::Machine::Open(machineFolder));
        else sim::CurrentMachine();
    } catch (const std::exception& e) {
        std::cerr << "brisalen: cannot open the simulated machine: " << e.what() << "\n";
        return 2;
    }
#endif

    std::string error;
    std::unique_ptr<LoadedLibrary> library = LoadedLibrary::Load(libraryPath, error);
    if (!library) {
        std::cerr << "brisalen: " << error << "\n";
        return 2;
    }
    auto create = reinterpret_cast<CreateFixItuensMgrFn>(library->Symbol("CreateFixItuensMgr"));
    if (create == nullptr || library->Symbol("CreateItunesUserDataMgr") == nullptr) {
        std::cerr << "brisalen: the library lacks its factory exports\n";
        return 2;
    }

    nlohmann::json report;
    report["machine"] = MachineFacts();
    report["repair_manager"] = ManagerAnswers(create);
    if (json) std::cout << report.dump(2) << "\n";
    else PrintText(report);
    return 0;
}
