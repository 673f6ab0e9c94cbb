#include "host/BackupCommands.h"

#include <iostream>
#include <string>
#include <vector>

#include "host/HostText.h"
#include "host/ProgressLine.h"
#include "host/UserDataCommands.h"
#include "platform/Platform.h"

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
                  << ByteText(backup.nSize) << "\n"
                  << "    id   " << ToUtf8(backup.strDeviceId) << "\n"
                  << "    path " << ToUtf8(backup.strPath) << "\n";
    }
    std::cout << backups.size() << (backups.size() == 1 ? " backup" : " backups") << " found\n";
}

// A folder ending in one separator, so that every path below it starts with it.
std::wstring FolderPrefix(const std::wstring& folder) {
    std::wstring full = ResolvedPath(folder);
    if (!full.empty() && full.back() != L'\\') full += L'\\';
    return full;
}

bool IsAtOrBelow(const std::wstring& path, const std::vector<std::wstring>& prefixes) {
    std::wstring candidate = platform::Os().Files().CaseFoldedPath(path);
    if (candidate.empty() || candidate.back() != L'\\') candidate += L'\\';
    for (const std::wstring& prefix : prefixes) {
        if (!prefix.empty() && candidate.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
}

// The library exports no backup listing of its own, so the backups are
// those its user-data scan finds: a quick scan covers the iTunes folders,
// a deep one every fixed drive. Named folders only narrow the list, and
// the deep scan is needed to reach folders outside the iTunes ones.
int RunBackups(HostContext& host, const std::vector<std::string>& folders, bool deep) {
    std::vector<std::wstring> prefixes;
    for (const std::string& folder : folders) {
        const std::wstring prefix = FolderPrefix(FromUtf8(folder));
        if (prefix.empty()) {
            std::cerr << "brisalen backups: not a folder path: " << folder << "\n";
            return 2;
        }
        prefixes.push_back(prefix);
    }
    std::vector<ST_ITUNES_USER_DATA_ITEM> found;
    const int scanned = ScanForBackups(host, deep || !prefixes.empty(), found);
    if (scanned == 2) return 2;
    std::vector<ST_ITUNES_USER_DATA_ITEM> backups;
    for (ST_ITUNES_USER_DATA_ITEM& backup : found) {
        if (prefixes.empty() || IsAtOrBelow(backup.strPath, prefixes)) backups.push_back(std::move(backup));
    }
    if (host.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const ST_ITUNES_USER_DATA_ITEM& backup : backups) list.push_back(DescribeBackup(backup));
        host.Print(nlohmann::json{{"backups", list}, {"cancelled", scanned == 1}});
    } else {
        PrintText(backups);
    }
    return scanned;
}

}  // namespace

void AddBackupCommands(CLI::App& app, HostAction& action) {
    static std::vector<std::string> folders;
    folders = {};
    static bool deep = false;
    deep = false;
    CLI::App* backups = app.add_subcommand(
        "backups", "the iOS device backups the user-data scan finds (Ctrl-C stops the scan)");
    backups->add_option("folder", folders, "list only backups at or below these folders (scans every fixed drive)");
    backups->add_flag("--deep", deep, "search every fixed drive, not only the iTunes folders");
    backups->callback([&action] { action = [](HostContext& host) { return RunBackups(host, folders, deep); }; });
}

std::wstring ResolvedPath(const std::wstring& path) {
    platform::IFileSystem& files = platform::Os().Files();
    std::wstring full = files.CaseFoldedPath(files.FullPathName(path));
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    return full;
}
