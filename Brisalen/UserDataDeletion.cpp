// The deletion task of the user-data manager: what the host picked from the
// last scan's results, category folders, recorded junk files and backups,
// every one of them through the deletion guard.
#include <algorithm>

#include "Brisalen/ConfigMgr.h"
#include "Brisalen/ItunesLibraryMgr.h"
#include "Brisalen/UserDataDeletionFacts.h"
#include "Brisalen/UserDataDeletionPlan.h"
#include "Brisalen/itunesUserDataMgr.h"
#include "common/DeletionGuard.h"
#include "common/FileHelpers.h"
#include "common/PathHelpers.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/Platform.h"

namespace {

constexpr int32_t kDeleteProgressEvery = 10;
constexpr int32_t kDeleteCancelled = -1;

}  // namespace

// What one deletion works on, copied from the scan's tables so that a scan
// started meanwhile cannot change it underneath.
struct CItunesUserDataMgr::DeletionPlan : UserDataDeletionPlan {
    // The links the scan walked through: the deletion acts through no other.
    UserDataReach reach;
};

namespace {

std::wstring FolderEntry(const std::wstring& folder) {
    std::wstring entry = AsciiLower(folder);
    AddTrailingBackslash(entry);
    return entry;
}

}  // namespace

bool CItunesUserDataMgr::DeleteItuensUserData(DeleteItunesUserDataCallback callback, void* pUser,
                                              std::vector<int32_t>& vecCategory, std::vector<int32_t>& vecItem,
                                              bool* pCancel) {
    try {
        LOG_INFO_W(L"[DeleteItuensUserData] begin...");
        return m_deleteTask.Start(
            [&] {
                m_nDeletedSize = 0;
                m_nTotalSize = 0;
                m_nDeletedFiles = 0;
                m_deleteCallback = callback;
                m_deleteUser = pUser;
                m_pCancelDelete = pCancel;
                m_vecItem = vecItem;
                m_vecCategory = vecCategory;
                if (pCancel != nullptr) *pCancel = false;
            },
            [this] { DeleteItunesUserDataImp(); },
            [this](const TaskEnd& end) {
                if (end.threw) {
                    LOG_INFO_W(L"ERR:user data deletion failed (%s), error %d\n", end.what, end.error);
                    ST_ITUNES_DELETE_INFO record;
                    record.bSuccess = false;
                    record.nResult = end.error;
                    SendDeleteCallback(kDeleteItunesUserDataState_DeleteComplete, &record);
                }
                LOG_INFO_W(L"[DeleteItunesUserDataImp] thread exit");
            });
    } catch (...) {
        return false;
    }
}

bool CItunesUserDataMgr::IsCancle() const { return IsCancelSet(m_pCancelDelete); }

UserDataSelectionFacts CItunesUserDataMgr::SelectionFacts(const std::vector<int32_t>& categories,
                                                          const std::vector<int32_t>& items) const {
    UserDataSelectionFacts facts;
    for (const auto& [code, entry] : m_index) {
        facts.categories.push_back({code, GetItunesCategoryName(code), entry.pInfo->vecFolder, entry.pInfo->nSize});
    }
    for (const auto& [id, item] : m_mapBackups)
        facts.backups.push_back({id, item.strDeviceName, item.strPath, item.nSize});
    // The junk list can be long; it is copied only when it is picked.
    if (std::find(categories.begin(), categories.end(), kCategoryJunk) != categories.end()) {
        facts.junkFiles = m_setJunkFiles;
    }
    facts.pickedCategories = categories;
    facts.pickedBackups = items;
    return facts;
}

CItunesUserDataMgr::DeletionPlan CItunesUserDataMgr::PlanDeletion() {
    DeletionPlan plan;
    {
        // A scan still running owns the tables until it ends.
        std::lock_guard<std::mutex> tables(m_tablesLock);
        static_cast<UserDataDeletionPlan&>(plan) = PlanUserDataDeletion(SelectionFacts(m_vecCategory, m_vecItem));
        plan.reach = m_reach;
    }
    for (const PickedCategory& category : plan.categories) {
        LOG_INFO_W(L"Ready delete %s...\n", category.label);
        if (category.kept) {
            LOG_INFO_W(L"not delete [%s]\n", category.label);
            continue;
        }
        for (const std::wstring& folder : category.folders) LOG_INFO_W(L"delete %s:%s...\n", category.label, folder);
    }
    for (const UserDataBackupFacts& backup : plan.backups) {
        LOG_INFO_W(L"Ready delete backup: id = %d,name=%s,dir=%s...\n", backup.id, backup.deviceName, backup.path);
    }
    m_nTotalSize += plan.totalSize;
    return plan;
}

std::vector<UserDataFileSetEntry> CItunesUserDataMgr::PreviewDeletion(const std::vector<int32_t>& categories,
                                                                      const std::vector<int32_t>& items,
                                                                      int64_t* totalSize) {
    UserDataDeletionPlan plan;
    UserDataReach reach;
    {
        std::lock_guard<std::mutex> tables(m_tablesLock);
        plan = PlanUserDataDeletion(SelectionFacts(categories, items));
        reach = m_reach;
    }
    if (totalSize != nullptr) *totalSize = plan.totalSize;
    const std::set<std::wstring> junk = plan.junkSelected ? plan.junkFiles : std::set<std::wstring>();
    return PlanUserDataFileSet(plan, ReadPlannedFolders(m_os, plan.folders, reach), ReadJunkFiles(m_os, junk, reach),
                               ReadJunkFolders(m_os, junk));
}

void CItunesUserDataMgr::DeleteItunesUserDataImp() {
    LOG_INFO_W(L"[DeleteItunesUserDataImp] second level count = %d,backup count = %d...",
               static_cast<int>(m_vecCategory.size()), static_cast<int>(m_vecItem.size()));
    const DeletionPlan plan = PlanDeletion();
    const SpareFolder spare = [&plan](const std::wstring& folder) {
        return !plan.sparedBackups.empty() && plan.sparedBackups.count(SpareKey(folder)) != 0;
    };
    ST_ITUNES_DELETE_INFO record;
    SendDeleteCallback(kDeleteItunesUserDataState_Deleting);

    // What the folder loop went through, and what it had to leave whole.
    std::vector<std::wstring> walked;
    std::vector<std::wstring> refused;
    for (const std::wstring& folder : plan.folders) {
        if (IsCancle()) {
            LOG_INFO_W(L"canle delete1\n");
            break;
        }
        LOG_INFO_W(L"delete dir:%s...\n", folder);
        switch (FinalDeleletDir(folder, plan, spare)) {
            case FolderOutcome::Absent: break;
            case FolderOutcome::Walked: walked.push_back(folder); break;
            case FolderOutcome::Refused: refused.push_back(folder); break;
        }
    }
    if (plan.junkSelected) DeleteJunkFiles(plan, record);
    if (plan.mediaSelected) {
        LOG_INFO_W(L"Update iTunes Library.itl...");
        // Only the folders the deletion walked: a refused one, or one behind
        // a link, kept its tracks.
        m_library.UpdateItunesLibrary(std::set<std::wstring>(walked.begin(), walked.end()));
    }
    if (IsCancle()) {
        LOG_INFO_W(L"Cancle Success\n");
        record.bSuccess = false;
        record.nResult = kDeleteCancelled;
        SendDeleteCallback(kDeleteItunesUserDataState_DeleteComplete, &record);
        return;
    }
    LOG_INFO_W(L"Check Residual file...");
    std::set<std::wstring> remaining;
    for (const std::wstring& folder : walked) RetryFolder(folder, plan, spare, remaining);
    // A folder left whole is left over while it is there; another
    // category's deletion or the junk may have emptied it since.
    for (const std::wstring& folder : refused) {
        if (FileExists(m_os.Files(), folder)) remaining.insert(FolderEntry(folder));
    }
    record.vecResidual.insert(record.vecResidual.end(), remaining.begin(), remaining.end());
    LOG_INFO_W(L"Find [%d] Residual file!", static_cast<int>(record.vecResidual.size()));
    if (!record.vecResidual.empty()) record.bSuccess = false;
    LOG_INFO_W(L"=> kDeleteItunesUserDataState_DeleteComplete\n");
    SendDeleteCallback(kDeleteItunesUserDataState_DeleteComplete, &record);
}

// A junk file is deleted only when the guard lets it go and the folder
// holding it is reached through no link but those the scan walked through
// (a link swapped in since would lead the deletion elsewhere); its folder
// goes too once it is empty.
void CItunesUserDataMgr::DeleteJunkFiles(const DeletionPlan& plan, ST_ITUNES_DELETE_INFO& record) {
    const std::set<std::wstring>& junkFiles = plan.junkFiles;
    LOG_INFO_W(L"clear garbage: %d...", static_cast<int>(junkFiles.size()));
    platform::IFileSystem& files = m_os.Files();
    const DeletionGuard guard(m_os);
    for (const std::wstring& path : junkFiles) {
        if (IsCancle()) {
            LOG_INFO_W(L"canle delete2");
            break;
        }
        // The entry's own length, as the scan's search data gave it: a file
        // link counts nothing, whatever it leads to.
        const auto attributes = files.GetAttributesEx(path);
        const int64_t size = attributes ? static_cast<int64_t>((*attributes).size) : 0;
        std::wstring parent;
        const bool hasParent = GetParentDir(path, parent);
        std::wstring target;
        std::wstring link;
        if (hasParent && plan.reach.Reaches(parent, true, link) && guard.AllowsFile(path, target)) {
            files.DeleteFile(target);
        }
        if (FileExists(m_os.Files(), path)) {
            record.vecResidual.push_back(path);
            continue;
        }
        std::wstring folder;
        if (hasParent && guard.AllowsTree(parent, folder)) files.RemoveDirectory(folder);
        m_nDeletedSize += size;
    }
}

// A folder is deleted only as the scan reached it: through no junction or
// link from the drive down but those the scan walked through (another leads
// to files the scan never counted there, perhaps another category's). A
// link as the folder itself goes as a link.
CItunesUserDataMgr::FolderOutcome CItunesUserDataMgr::FinalDeleletDir(const std::wstring& folder,
                                                                      const DeletionPlan& plan,
                                                                      const SpareFolder& spare) {
    if (!FileExists(m_os.Files(), folder)) return FolderOutcome::Absent;
    std::wstring link;
    if (!plan.reach.Reaches(folder, false, link)) {
        LOG_INFO_W(L"WARN:not delete [%s]: it is reached through the link [%s]\n", folder, link);
        return FolderOutcome::Refused;
    }
    const bool allowed = DeleteTree(
        m_os, folder,
        // Asked before each entry of each open folder, so every level that
        // still had entries says that it stopped.
        [this] {
            if (!IsCancle()) return false;
            LOG_INFO_W(L"已取消删除3\n");
            return true;
        },
        {}, {},
        [this](const platform::FindData& entry, bool deleted) {
            if (deleted) m_nDeletedSize += static_cast<int64_t>(entry.size);
            if (++m_nDeletedFiles % kDeleteProgressEvery == 0) SendDeleteCallback(kDeleteItunesUserDataState_Deleting);
        },
        spare);
    if (allowed) return FolderOutcome::Walked;
    LOG_INFO_W(L"WARN:not delete [%s]: the deletion guard refused it\n", folder);
    return FolderOutcome::Refused;
}

// One more pass over a deleted folder for what resisted the first (a file
// held then, released since), its bytes counted as any; then what is still
// there, files by name and, where nothing below can be named (too deep to
// reach, or not removable), the folder.
void CItunesUserDataMgr::RetryFolder(const std::wstring& folder, const DeletionPlan& plan, const SpareFolder& spare,
                                     std::set<std::wstring>& remaining) {
    if (!FileExists(m_os.Files(), folder)) return;
    std::wstring link;
    if (!plan.reach.Reaches(folder, false, link)) {
        remaining.insert(FolderEntry(folder));  // swapped for a link since: its files are not named here
        return;
    }
    DeleteTree(
        m_os, folder, [] { return false; }, {}, {},
        [this](const platform::FindData& entry, bool deleted) {
            if (deleted) m_nDeletedSize += static_cast<int64_t>(entry.size);
        },
        spare);
    std::vector<std::wstring> left;
    ListRemains(m_os.Files(), folder, spare, left);
    remaining.insert(left.begin(), left.end());
}

void CItunesUserDataMgr::SendDeleteCallback(int32_t state, ST_ITUNES_DELETE_INFO* record) {
    if (m_deleteCallback == nullptr) return;
    ST_ITUNES_DELETE_INFO fresh;
    ST_ITUNES_DELETE_INFO& info = record != nullptr ? *record : fresh;
    info.nDeletedSize = m_nDeletedSize;
    info.nTotalSize = m_nTotalSize;
    m_deleteCallback(m_deleteUser, state, &info);
    if (state == kDeleteItunesUserDataState_DeleteComplete) {
        LOG_INFO_W(L"Clear Complete: (%s/%s)\n", FormatFileSize(m_nDeletedSize), FormatFileSize(m_nTotalSize));
    }
}
