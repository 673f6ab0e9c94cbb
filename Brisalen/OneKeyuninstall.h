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

#include "Brisalen/UninstallPlan.h"
#include "Brisalen/UserDataDeletionPlan.h"
#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/MsiEnum.h"
#include "Brisalen/MsiInstaller.h"
#include "Brisalen/TaskEngine.h"
#include "Brisalen/Win10AppStore.h"
#include "platform/Platform.h"
#include "include/Brisalen.h"

// What a run would do on the machine as it stands.
struct UninstallPreview {
    std::vector<ProductRemovalStep> steps;       // each removed through Windows Installer
    std::vector<std::wstring> residualFolders;   // the family's folders, as the guard passed them
    std::vector<std::wstring> programs;          // running from those folders: ended first
    std::vector<UserDataFileSetEntry> paths;     // every file and folder that goes, by folded path
    std::vector<std::wstring> userDataFolders;   // with the user data: the folders that go too
    bool storeEdition = false;                   // the Store edition is there and goes last
};

class DoomedPaths;

class COneKeyuninstall : public TaskEngine<ST_ONEKEY_UNINSTALL_INFO> {
public:
    // The final error when files could not be deleted, and when the host
    // cancelled the user data deletion.
    static constexpr int kFilesRemain = -2;
    static constexpr int kCancelled = -1;

    static COneKeyuninstall& Instance();
    // Removes what `products` finds on `os` through `installer`, the folders
    // `folders` names and the Store edition through `store`.
    COneKeyuninstall(platform::Platform& os, CMsiEnum& products, CMsiInstaller& installer,
                     const CCollectDirMgr& folders, CWin10AppStore& store);
    ~COneKeyuninstall() { WaitForTaskEnd(); }

    // Stores the inputs and starts the worker; false (and nothing changed)
    // while a run is going on. `pCancel` may be null.
    bool OneKeyUninstall(TaskCallback pfn, void* pUser, bool isDeleteUserData, bool* pCancel);

    // What OneKeyUninstall would remove now, removing nothing (between
    // runs). The residual folders are those that stand now; a run judges
    // them after the products went, when the installer may have taken some.
    UninstallPreview Preview(bool isDeleteUserData);

private:
    // The worker's body up to the Store step; the final record.
    ST_ONEKEY_UNINSTALL_INFO OneKeyUninstallTheadProc();
    void ReportLeftoversOrDeleteUserData(ST_ONEKEY_UNINSTALL_INFO& record, int& error);
    void RemoveStoreEdition();
    void SendFinalReport(const ST_ONEKEY_UNINSTALL_INFO& record, const TaskEnd& end) const;

    bool OneKeyUninstallImp(int& error);
    bool UninstallProduct(const ProductRemovalStep& step, int& error);
    void DeleteResidualFolders();
    void EndProgramsAmongLeftovers();
    void GetCantDeleteList(std::vector<std::wstring>& files);
    void DeleteLeftovers(const std::set<std::wstring>& paths, std::vector<std::wstring>& files);

    // The files the family's packages placed that are there now.
    void AddPackageFiles(DoomedPaths& doomed) const;

    void OnDeleteItunesUserData(std::vector<std::wstring>& files);
    void DeleteDirWithCancel(std::wstring folder);
    bool IsCancle() const;

    platform::Platform& m_os;
    CMsiEnum& m_products;
    CMsiInstaller& m_installer;
    const CCollectDirMgr& m_folders;
    CWin10AppStore& m_store;
    bool m_isDeleteUserData = false;
    bool* m_pCancel = nullptr;
    // Product codes of the family being removed: their own locations are
    // not protected from the residual deletion, every other product's is.
    std::vector<std::wstring> m_vecLeavingCodes;
    // The residual folders the guard let go, judged once per run.
    std::vector<std::wstring> m_vecResidualFolders;
};
