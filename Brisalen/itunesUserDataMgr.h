// The user-data manager behind CreateItunesUserDataMgr: a scan that sorts
// what iTunes and its companions left on the machine into twenty
// categories and finds iOS device backups, and a deletion of what the host
// picked from the last scan's results. Each runs on a worker thread of its
// own and reports through the host's callback.
//
// The scan owns the result tables for its whole run; a deletion takes a
// copy of them when it begins (waiting for a running scan to finish), so
// neither ever reads tables the other is rebuilding.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Brisalen/UserDataCategories.h"
#include "Brisalen/UserDataDeletionPlan.h"
#include "Brisalen/UserDataReach.h"
#include "common/FileHelpers.h"
#include "common/FolderWalker.h"
#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/ConfigMgr.h"
#include "Brisalen/ItunesLibraryMgr.h"
#include "platform/Platform.h"
#include "common/TaskSlot.h"
#include "include/Brisalen.h"

class CItunesUserDataMgr final : public IItunesUserDataMgr {
public:
    static CItunesUserDataMgr& Instance();
    // Scans and deletes on `os` below the folders `folders` names, keeps the
    // scan's settings in `config` and takes deleted media out of `library`.
    CItunesUserDataMgr(platform::Platform& os, const CCollectDirMgr& folders, CConfigMgr& config,
                       CItunesLibraryMgr& library);

    bool EnumItunesUserData(EnumItunesUserDataCallback callback, void* pUser, bool bDeepScan,
                            bool* pCancleEnumUserData) override;
    bool DeleteItuensUserData(DeleteItunesUserDataCallback callback, void* pUser,
                              std::vector<int32_t>& vecCategory, std::vector<int32_t>& vecItem,
                              bool* pCancel) override;

    // What GetAllItunesTypeInfoMap hands out; empty before the first scan.
    ItunesTypeInfoMap* GetAllItunesTypeInfoMap() { return &m_mapGroups; }

    // Every file and folder a deletion of this pick from the last scan
    // would remove now, with its size, removing nothing (between tasks).
    // `totalSize` (may be null) receives what the scan counted for the pick.
    std::vector<UserDataFileSetEntry> PreviewDeletion(const std::vector<int32_t>& categories,
                                                      const std::vector<int32_t>& items, int64_t* totalSize = nullptr);

    bool IsScanning() const { return m_scanTask.IsRunning(); }
    bool IsDeleting() const { return m_deleteTask.IsRunning(); }
    // Blocks until neither task runs (tests and orderly shutdown).
    void WaitIdle() const;

private:
    // The scan.
    void InitScanFolders();
    void EnumItunesUserDataImp();
    std::vector<std::wstring> ReachableRoots(const std::vector<std::wstring>& roots) const;
    void RunDeepPass(CFolderWalker& walker, const std::vector<std::wstring>& roots);
    const std::wstring& LoweredFolder(const std::wstring& walkedPath);
    static bool OnScanFile(void* context, const std::wstring& walkedPath, const platform::FindData* entry, uint32_t code,
                           uint32_t folderCount);
    bool OnScanFolder(const std::wstring& dirPath, const platform::FindData& entry);
    bool TryAddBackup(const std::wstring& folder);
    void ClassifyFile(const std::wstring& dirPath, const std::wstring& name, int64_t size);
    void SendEnumCallback(int32_t state, const ST_ITUNES_USER_DATA_ITEM* item = nullptr,
                          const ST_ITUNES_CATEGORY_REF* entry = nullptr);
    void SendCategoryTotals();
    bool ScanCancelled() const;

    // The deletion (its own source file).
    struct DeletionPlan;
    void DeleteItunesUserDataImp();
    DeletionPlan PlanDeletion();
    // Under the tables lock.
    UserDataSelectionFacts SelectionFacts(const std::vector<int32_t>& categories,
                                          const std::vector<int32_t>& items) const;
    void DeleteJunkFiles(const DeletionPlan& plan, ST_ITUNES_DELETE_INFO& record);
    enum class FolderOutcome { Absent, Walked, Refused };
    FolderOutcome FinalDeleletDir(const std::wstring& folder, const DeletionPlan& plan, const SpareFolder& spare);
    void RetryFolder(const std::wstring& folder, const DeletionPlan& plan, const SpareFolder& spare,
                     std::set<std::wstring>& remaining);
    void SendDeleteCallback(int32_t state, ST_ITUNES_DELETE_INFO* record = nullptr);
    bool IsCancle() const;

    // Scan state, in the order the host's records refer to it.
    ST_ITUNES_SCAN_PROGRESS m_progress;
    EnumItunesUserDataCallback m_enumCallback = nullptr;
    void* m_enumUser = nullptr;
    bool m_bDeepScan = false;
    bool* m_pCancelScan = nullptr;
    int m_nPass = 0;  // 1 quick, 2 deep
    // The running scan's walker, which answers the backup probes from the
    // folder it read ahead; null outside a scan.
    const CFolderWalker* m_pWalker = nullptr;
    // The last folder the walk handed over, and its lower-cased form.
    struct LoweredPath {
        std::wstring walked;
        std::wstring lowered;
    } m_lowered;

    // Deletion state.
    DeleteItunesUserDataCallback m_deleteCallback = nullptr;
    void* m_deleteUser = nullptr;
    std::vector<int32_t> m_vecCategory;
    std::vector<int32_t> m_vecItem;
    bool* m_pCancelDelete = nullptr;
    int64_t m_nDeletedSize = 0;
    platform::Platform& m_os;
    const CCollectDirMgr& m_folders;
    CConfigMgr& m_config;
    CItunesLibraryMgr& m_library;
    int64_t m_nTotalSize = 0;
    int32_t m_nDeletedFiles = 0;

    // The last scan's results.
    ItunesTypeInfoMap m_mapGroups;
    CategoryIndex m_index;
    ST_ITUNES_CATEGORY_INFO* m_pBackupInfo = nullptr;
    std::map<int32_t, ST_ITUNES_USER_DATA_ITEM> m_mapBackups;
    std::set<std::wstring> m_setJunkFiles;
    // The links the last scan walked through, which its deletion may too.
    UserDataReach m_reach;
    // The registered folders with a backslash appended, each with its
    // category, in the order classification tries them.
    std::vector<std::pair<std::wstring, ST_ITUNES_CATEGORY_REF*>> m_vecClassifyFolders;

    // Held by a scan for its whole run and by a deletion while it copies.
    std::mutex m_tablesLock;
    TaskSlot m_scanTask;
    TaskSlot m_deleteTask;
};
