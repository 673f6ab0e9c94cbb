#include "host/inprocess/BackupQueries.h"

#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/ConfigMgr.h"
#include "Brisalen/UserDataItem.h"
#include "common/FileHelpers.h"
#include "common/FolderWalker.h"
#include "common/OsInfo.h"
#include "common/PathHelpers.h"
#include "platform/KnownFolders.h"

namespace inprocess {

namespace {

class BackupSearch {
public:
    // A folder with either manifest is worth the layout test; anything else
    // is only searched through.
    bool TryFolder(const std::wstring& folder) {
        std::wstring prefix = folder;
        AddTrailingBackslash(prefix);
        for (const wchar_t* probe : {L"manifest.db", L"manifest.mbdb"}) {
            if (!FileExists(prefix + probe)) continue;
            ST_ITUNES_USER_DATA_ITEM item = NewUserDataItem();
            if (!CCollectDirMgr::Instance().ParseBackupDir(item, folder)) continue;
            item.bValid = true;
            found_.push_back(std::move(item));
            return true;
        }
        return false;
    }

    static bool OnEntry(void* context, std::wstring dirPath, const platform::FindData* entry, uint32_t code,
                        uint32_t) {
        if (code >= kWalkStartFolderDone || !entry->IsDirectory()) return true;
        // A recognised backup is not entered: its hashed files are no
        // further backups.
        return !static_cast<BackupSearch*>(context)->TryFolder(dirPath + entry->name);
    }

    std::vector<ST_ITUNES_USER_DATA_ITEM> Take() { return std::move(found_); }

private:
    std::vector<ST_ITUNES_USER_DATA_ITEM> found_;
};

}  // namespace

std::vector<std::wstring> DefaultBackupRoots() {
    // The desktop edition keeps them under the roaming AppData folder, the
    // Store edition under the profile itself.
    std::vector<std::wstring> roots;
    for (const std::wstring& root : {CCollectDirMgr::Instance().GetAppDataDir() + L"\\Apple Computer\\MobileSync\\Backup",
                                     GetSpecialFolder(platform::csidl::kProfile) + L"\\Apple\\MobileSync\\Backup"}) {
        if (FileExists(root)) roots.push_back(root);
    }
    return roots;
}

std::vector<ST_ITUNES_USER_DATA_ITEM> FindBackups(const std::vector<std::wstring>& folders) {
    BackupSearch search;
    CFolderWalker walker;
    for (const std::wstring& folder : folders) {
        // A folder named on the command line may be a backup itself.
        if (!search.TryFolder(folder)) walker.AddStartFolder(folder);
    }
    walker.SetHandler(&BackupSearch::OnEntry, &search, nullptr);
    walker.Run();
    return search.Take();
}

std::wstring SizeText(int64_t bytes) { return FormatFileSize(bytes); }

}  // namespace inprocess
