#include "host/InfoCommands.h"

#include "host/HostText.h"
#include "platform/Platform.h"

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

int RunInfo(HostContext& host) {
    CreateFixItuensMgrFn create = host.RepairManagerFactory();
    if (create == nullptr) return 2;
    nlohmann::json report;
    report["machine"] = MachineFacts();
    report["repair_manager"] = ManagerAnswers(create);
    host.Print(report);
    return 0;
}

int RunItunesInfo(HostContext& host) {
    IFixItunesMgr* manager = host.RepairManager();
    if (manager == nullptr) return 2;
    host.Print({{"version", ToUtf8(manager->GetItunesVersion())}, {"itunes_64bit", manager->IsItunes64Bit()}});
    return 0;
}

int RunOpenItunes(HostContext& host) {
    IFixItunesMgr* manager = host.RepairManager();
    if (manager == nullptr) return 2;
    const bool opened = manager->OpenItunes();
    host.Print({{"OpenItunes", opened}});
    return opened ? 0 : 1;
}

// The repair manager's slot for the Microsoft Store edition, which the
// library answers through its companion RemovePackage.dll.
int RunStore(HostContext& host) {
    IFixItunesMgr* manager = host.RepairManager();
    if (manager == nullptr) return 2;
    host.Print({{"store_itunes_installed", manager->CheckMicrosoftStoreItunes()}});
    return 0;
}

}  // namespace

void AddInfoCommands(CLI::App& app, HostAction& action) {
    action = RunInfo;  // the default command
    app.add_subcommand("info", "OS facts, known folders and the repair manager's answers (the default)")
        ->callback([&action] { action = RunInfo; });
    app.add_subcommand("itunes", "the installed iTunes version as the library reads it from the registry")
        ->callback([&action] { action = RunItunesInfo; });
    app.add_subcommand("open-itunes", "start iTunes through the library")
        ->callback([&action] { action = RunOpenItunes; });
    app.add_subcommand("store", "whether the Microsoft Store edition of iTunes is installed, as the library sees it")
        ->callback([&action] { action = RunStore; });
}
