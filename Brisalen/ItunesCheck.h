// The component check and the component repair of the iTunes family. The
// check diagnoses the six products one after the other on a worker thread
// and writes the missing and damaged ones to the repair list; the repair
// works through that list. Both report through the host's TaskCallback.
//
// The object is one of the library's singletons: it is destroyed only after
// its workers have ended (see common/Singleton.h).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Brisalen/CheckPlan.h"
#include "Brisalen/RepairPlan.h"
#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/FileVerify.h"
#include "Brisalen/MsiEnum.h"
#include "Brisalen/MsiInstaller.h"
#include "platform/Platform.h"
#include "common/TaskSlot.h"
#include "include/Brisalen.h"

class CItunesCheck {
public:
    static CItunesCheck& Instance();
    // Judges the products `products` finds on `os`, verifies their files
    // through `verify` and repairs through `installer`.
    CItunesCheck(platform::Platform& os, CMsiEnum& products, CMsiInstaller& installer, CFileVerify& verify,
                 const CCollectDirMgr& folders);

    bool CheckAllItunesComponent(TaskCallback pfn, void* pUser, bool bVerifyFiles);
    bool RepairAllItunesComponent(bool badOnly, std::wstring folder, TaskCallback pfn, void* pUser);

    bool CheckItuensPackageFile(const std::wstring& folder, std::vector<std::wstring>& packages);
    bool FindComponentPackage(int type, const std::wstring& folder, std::wstring& path) const;

    // The verdicts a check would reach now, product by product, without
    // acting on any (only between tasks: it reads the machine as the check
    // does, files included).
    std::vector<ProductCheckPlan> PreviewCheck(bool bVerifyFiles);

    // The steps a repair of the current list would take now, without
    // taking any (only between tasks).
    std::vector<RepairStep> PreviewRepair(bool badOnly, const std::wstring& folder) const;
    // The steps a check now, followed by that repair, would take: the
    // repair list the check would leave, planned without a check run.
    std::vector<RepairStep> PreviewCheckAndRepair(bool badOnly, const std::wstring& folder);
    bool IsBusy() const { return m_checkTask.IsRunning() || m_repairTask.IsRunning(); }

    bool IsItunes64Bit() const;
    std::vector<ST_MSI_PRODUCT_REPAIR_INFO> RepairList() const;
    // Blocks until neither task runs (tests and orderly shutdown).
    void WaitIdle() const;

private:
    void LoadItunesInfo();
    // The check's body; its summary is reported by the task's final report.
    ST_MSI_PRODUCT_UI_INFO CheckItunesImp();
    ST_MSI_PRODUCT_UI_INFO FailedCheckSummary(const TaskEnd& end) const;
    void EnsureLockdownFolder() const;
    CheckMachineFacts MachineFacts() const;
    ProductCheckFacts ReadProductFacts(int type) const;
    // The verdict of a product that waits for its files, once they are checked.
    ProductCheckPlan PlanWithFiles(ProductCheckFacts& facts, ST_MSI_PRODUCT_UI_INFO& item, bool verifyFiles) const;
    void CheckComponent(int type);
    void LogSkip(SkipReason reason) const;
    // Fills the item from the registration and logs it.
    void DescribeInstalled(const InstalledProductFacts& product, ST_MSI_PRODUCT_UI_INFO& item) const;
    void ReportMissing(ST_MSI_PRODUCT_UI_INFO& item, const ProductCheckPlan& plan);
    FileCheckFacts VerifyFiles(int type, const InstalledProductFacts& product, ST_MSI_PRODUCT_UI_INFO& item,
                               bool verifyByList) const;
    void ReportVerdict(const ProductCheckPlan& plan, ST_MSI_PRODUCT_UI_INFO& item);
    bool RepairItunesImp(int& error);
    std::vector<RepairEntryFacts> ReadRepairFacts(const std::vector<ST_MSI_PRODUCT_REPAIR_INFO>& entries,
                                                  const std::wstring& folder) const;
    bool RepairEntry(const RepairStep& step, int& error);

    void NotifyCheck(int state, const ST_MSI_PRODUCT_UI_INFO& info) const;
    void NotifyRepair(int state, const ST_REPAIR_PROGRESS_INFO& info) const;
    void AppendRepair(const ST_MSI_PRODUCT_REPAIR_INFO& entry);

    platform::Platform& m_os;
    CMsiEnum& m_products;
    CMsiInstaller& m_installer;
    CFileVerify& m_verify;
    const CCollectDirMgr& m_folders;
    // Check task inputs.
    TaskCallback m_checkCallback = nullptr;
    void* m_checkUser = nullptr;
    bool m_bVerifyFiles = false;
    // Repair task inputs.
    TaskCallback m_repairCallback = nullptr;
    void* m_repairUser = nullptr;
    bool m_bBadOnly = false;
    std::wstring m_strPackageFolder;

    std::vector<ST_MSI_PRODUCT_REPAIR_INFO> m_vecRepair;
    const std::wstring m_strHostDir;
    bool m_bItunes64 = false;
    std::map<int, ST_MSI_PRODUCT_RAW_DATA> m_mapInstalled;
    std::wstring m_strItunesVersion;
    bool m_bWindows64 = false;

    // Guards what the host's thread and a worker may touch at once: the
    // repair list, the flag and the repair inputs.
    mutable std::mutex m_lock;
    TaskSlot m_checkTask;
    TaskSlot m_repairTask;
};
