// Removes the whole iTunes family in one task: every installed product of
// the family through Windows Installer, the programs still running from the
// family's folders, those folders and what is left in them, optionally the
// user's iTunes data folders, and last the Store edition. Runs on a worker
// thread and reports through the host's TaskCallback with
// ST_ONEKEY_UNINSTALL_INFO records.
//
// Every folder it deletes passes the deletion guard first: install
// locations come from the registry and may name anything.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "common/Singleton.h"
#include "common/TaskSlot.h"
#include "include/Brisalen.h"

class COneKeyuninstall {
public:
    // The final error when files could not be deleted, and when the host
    // cancelled the user data deletion.
    static constexpr int kFilesRemain = -2;
    static constexpr int kCancelled = -1;

    static COneKeyuninstall& Instance();

    // Stores the inputs and starts the worker; false (and nothing changed)
    // while a run is going on. `pCancel` may be null.
    bool OneKeyUninstall(TaskCallback pfn, void* pUser, bool isDeleteUserData, bool* pCancel);
    bool IsRunning() const;
    // Blocks until no run is going on (tests and orderly shutdown).
    void WaitIdle() const;

private:
    friend class Singleton<COneKeyuninstall>;
    COneKeyuninstall();

    // The worker's body up to the Store step; the final record.
    ST_ONEKEY_UNINSTALL_INFO OneKeyUninstallTheadProc();
    void ReportLeftoversOrDeleteUserData(ST_ONEKEY_UNINSTALL_INFO& record, int& error);
    static void RemoveStoreEdition();
    void SendFinalReport(const ST_ONEKEY_UNINSTALL_INFO& record, const TaskEnd& end) const;

    bool OneKeyUninstallImp(int& error);
    void LoadProducts();
    bool UninstallProduct(int position, const ST_MSI_PRODUCT_RAW_DATA& product, int& error);
    void QueueInstallFolder(int type, std::wstring location);
    // The existing folders of the residual set that the guard lets go;
    // refused ones leave the set, so nothing acts on them.
    std::vector<std::wstring> DeletableResidualFolders();
    void DeleteResidualFolders();
    void EndProgramsAmongLeftovers();
    void GetCantDeleteList(std::vector<std::wstring>& files);

    void OnDeleteItunesUserData(std::vector<std::wstring>& files);
    void DeleteDirWithCancel(std::wstring folder);
    bool IsCancle() const;

    void Notify(int state, const ST_ONEKEY_UNINSTALL_INFO& info) const;

    TaskCallback m_pfnCallback = nullptr;
    void* m_pUser = nullptr;
    bool m_isDeleteUserData = false;
    bool* m_pCancel = nullptr;
    std::vector<ST_MSI_PRODUCT_RAW_DATA> m_vecProducts;
    // Product codes of the family being removed: their own locations are
    // not protected from the residual deletion, every other product's is.
    std::vector<std::wstring> m_vecLeavingCodes;
    // Lower-case folder paths in ordinal order.
    std::set<std::wstring> m_setResidual;
    TaskSlot m_task;
};
