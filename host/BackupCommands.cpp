#include "host/BackupCommands.h"

#include <iostream>
#include <string>
#include <vector>

#include "host/HostText.h"
#include "host/inprocess/BackupQueries.h"

nlohmann::json DescribeBackup(const ST_ITUNES_USER_DATA_ITEM& backup) {
    return {{"path", ToUtf8(backup.strPath)},
            {"device_name", ToUtf8(backup.strDeviceName)},
            {"ios_version", ToUtf8(backup.strVersion)},
            {"device_id", ToUtf8(backup.strDeviceId)},
            {"date", ToUtf8(backup.strDate)},
            {"date_seconds", backup.nDate},
            {"size", backup.nSize}};
}

namespace {

void PrintText(const std::vector<ST_ITUNES_USER_DATA_ITEM>& backups) {
    for (const ST_ITUNES_USER_DATA_ITEM& backup : backups) {
        const std::string name = backup.strDeviceName.empty() ? "(no name)" : ToUtf8(backup.strDeviceName);
        std::cout << name << "  iOS " << (backup.strVersion.empty() ? "?" : ToUtf8(backup.strVersion)) << "  "
                  << (backup.strDate.empty() ? "(no date)" : ToUtf8(backup.strDate)) << "  "
                  << ToUtf8(inprocess::SizeText(backup.nSize)) << "\n"
                  << "    id   " << ToUtf8(backup.strDeviceId) << "\n"
                  << "    path " << ToUtf8(backup.strPath) << "\n";
    }
    std::cout << backups.size() << (backups.size() == 1 ? " backup" : " backups") << " found\n";
}

int RunBackups(HostContext& host, const std::vector<std::string>& folders) {
    std::vector<std::wstring> roots;
    for (const std::string& folder : folders) roots.push_back(FromUtf8(folder));
    if (roots.empty()) roots = inprocess::DefaultBackupRoots();
    const std::vector<ST_ITUNES_USER_DATA_ITEM> backups = inprocess::FindBackups(roots);
    if (host.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const ST_ITUNES_USER_DATA_ITEM& backup : backups) list.push_back(DescribeBackup(backup));
        host.Print(nlohmann::json{{"backups", list}});
    } else {
        PrintText(backups);
    }
    return 0;
}

}  // namespace

void AddBackupCommands(CLI::App& app, HostAction& action) {
    static std::vector<std::string> folders;
    CLI::App* backups = app.add_subcommand(
        "backups", "the iOS device backups below the folders (default: the user's backup folders)");
    backups->add_option("folder", folders, "folders to search");
    backups->callback([&action] { action = [](HostContext& host) { return RunBackups(host, folders); }; });
}
