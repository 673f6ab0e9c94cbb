// The deletion task of the user-data manager: what the host picked from the
// last scan's results, category folders, recorded junk files and backups,
// every one of them through the deletion guard.
#include <algorithm>

#include "Brisalen/ConfigMgr.h"
#include "Brisalen/ItunesLibraryMgr.h"
#include "Brisalen/itunesUserDataMgr.h"
#include "common/DeletionGuard.h"
#include "common/FileHelpers.h"
#include "common/PathHelpers.h"
#include "logging/Log.h"
#include "platform/Platform.h"

namespace {

constexpr int32_t kDeleteProgressEvery = 10;
constexpr int32_t kDeleteCancelled = -1;

}  // namespace

// What one deletion works on, copied from the scan's tables so that a scan
// started meanwhile cannot change it underneath.
struct CItunesUserDataMgr::DeletionPlan {
    std::set<std::wstring> folders;  // ordered by code unit
    std::set<std::wstring> junkFiles;
    bool mediaSelected = false;
    bool junkSelected = false;
};

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

CItunesUserDataMgr::DeletionPlan CItunesUserDataMgr::PlanDeletion() {
    // A scan still running owns the tables until it ends.
    std::lock_guard<std::mutex> tables(m_tablesLock);
    DeletionPlan plan;
    for (const auto& [code, entry] : m_index) {
        if (std::find(m_vecCategory.begin(), m_vecCategory.end(), code) == m_vecCategory.end()) continue;
        const std::wstring label = GetItunesCategoryName(code);
        LOG_INFO_W(L"Ready delete %s...\n", label);
        if (code == kCategorySpecialItl) {
            LOG_INFO_W(L"not delete [%s]\n", label);
            continue;
        }
        if (IsMediaCategory(code)) plan.mediaSelected = true;
        if (code == kCategoryJunk) {
            plan.junkSelected = true;
            plan.junkFiles = m_setJunkFiles;
        }
        for (const std::wstring& folder : entry.pInfo->vecFolder) {
            LOG_INFO_W(L"delete %s:%s...\n", label, folder);
            plan.folders.insert(folder);
        }
        m_nTotalSize += entry.pInfo->nSize;
    }
    for (int32_t id : m_vecItem) {
        auto backup = m_mapBackups.find(id);
        if (backup == m_mapBackups.end()) continue;
        const ST_ITUNES_USER_DATA_ITEM& item = backup->second;
        LOG_INFO_W(L"Ready delete backup: id = %d,name=%s,dir=%s...\n", id, item.strDeviceName, item.strPath);
        plan.folders.insert(item.strPath);
        m_nTotalSize += item.nSize;
    }
    return plan;
}

void CItunesUserDataMgr::DeleteItunesUserDataImp() {
    LOG_INFO_W(L"[DeleteItunesUserDataImp] second level count = %d,backup count = %d...",
               static_cast<int>(m_vecCategory.size()), static_cast<int>(m_vecItem.size()));
    const DeletionPlan plan = PlanDeletion();
    ST_ITUNES_DELETE_INFO record;
    SendDeleteCallback(kDeleteItunesUserDataState_Deleting);

    for (const std::wstring& folder : plan.folders) {
        if (IsCancle()) {
            LOG_INFO_W(L"canle delete1\n");
            break;
        }
        LOG_INFO_W(L"delete dir:%s...\n", folder);
        FinalDeleletDir(folder);
    }
    if (plan.junkSelected) DeleteJunkFiles(plan.junkFiles, record);
    if (plan.mediaSelected) {
        LOG_INFO_W(L"Update iTunes Library.itl...");
        CItunesLibraryMgr::Instance().UpdateItunesLibrary(plan.folders);
    }
    if (IsCancle()) {
        LOG_INFO_W(L"Cancle Success\n");
        record.bSuccess = false;
        record.nResult = kDeleteCancelled;
        SendDeleteCallback(kDeleteItunesUserDataState_DeleteComplete, &record);
        return;
    }
    LOG_INFO_W(L"Check Residual file...");
    std::vector<std::wstring> residual;
    DeleteFilesInFolders(std::vector<std::wstring>(plan.folders.begin(), plan.folders.end()), residual);
    record.vecResidual.insert(record.vecResidual.end(), residual.begin(), residual.end());
    LOG_INFO_W(L"Find [%d] Residual file!", static_cast<int>(record.vecResidual.size()));
    if (!record.vecResidual.empty()) record.bSuccess = false;
    LOG_INFO_W(L"=> kDeleteItunesUserDataState_DeleteComplete\n");
    SendDeleteCallback(kDeleteItunesUserDataState_DeleteComplete, &record);
}

// A junk file is deleted only when the guard lets it go and the folder
// holding it is no link (a link swapped in since the scan would lead the
// deletion elsewhere); its folder goes too once it is empty.
void CItunesUserDataMgr::DeleteJunkFiles(const std::set<std::wstring>& junkFiles, ST_ITUNES_DELETE_INFO& record) {
    LOG_INFO_W(L"clear garbage: %d...", static_cast<int>(junkFiles.size()));
    platform::IFileSystem& files = platform::Os().Files();
    const DeletionGuard guard;
    for (const std::wstring& path : junkFiles) {
        if (IsCancle()) {
            LOG_INFO_W(L"canle delete2");
            break;
        }
        const int64_t size = GetFileSizeByPath(path);
        std::wstring parent;
        const bool hasParent = GetParentDir(path, parent);
        std::wstring target;
        if (hasParent && !IsReparsePoint(parent) && guard.AllowsFile(path, target)) files.DeleteFile(target);
        if (FileExists(path)) {
            record.vecResidual.push_back(path);
            continue;
        }
        std::wstring folder;
        if (hasParent && guard.AllowsTree(parent, folder)) files.RemoveDirectory(folder);
        m_nDeletedSize += size;
    }
}

void CItunesUserDataMgr::FinalDeleletDir(const std::wstring& folder) {
    if (!FileExists(folder)) return;
    bool cancelLogged = false;
    DeleteTree(
        folder,
        [this, &cancelLogged] {
            if (!IsCancle()) return false;
            if (!cancelLogged) LOG_INFO_W(L"已取消删除3\n");
            cancelLogged = true;
            return true;
        },
        {}, {},
        [this](const platform::FindData& entry, bool deleted) {
            if (deleted) m_nDeletedSize += static_cast<int64_t>(entry.size);
            if (++m_nDeletedFiles % kDeleteProgressEvery == 0) SendDeleteCallback(kDeleteItunesUserDataState_Deleting);
        });
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
