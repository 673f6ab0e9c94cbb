#include "Brisalen/OneKeyuninstall.h"

#include <algorithm>
#include <memory>

#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/ItunesRegistry.h"
#include "Brisalen/MsiEnum.h"
#include "Brisalen/MsiInstaller.h"
#include "Brisalen/UninstallFacts.h"
#include "Brisalen/UninstallPlan.h"
#include "Brisalen/Win10AppStore.h"
#include "common/DeletionGuard.h"
#include "common/FileHelpers.h"
#include "common/PathHelpers.h"
#include "common/ProcessControl.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/Platform.h"

namespace {

constexpr wchar_t kRefusal[] = L"[OneKeyUninstall] fail! because the previous task is runing!\n";
constexpr size_t kLeftoversLogged = 5;

}  // namespace

COneKeyuninstall::COneKeyuninstall(platform::Platform& os, CMsiEnum& products, CMsiInstaller& installer,
                                   const CCollectDirMgr& folders, CWin10AppStore& store)
    : TaskEngine(os.Process(), FinalReportOrder::ReleaseThenReport, kRefusal),
      m_os(os),
      m_products(products),
      m_installer(installer),
      m_folders(folders),
      m_store(store) {}

bool COneKeyuninstall::IsCancle() const {
    if (!IsCancelSet(m_pCancel)) return false;
    LOG_INFO_W(L"[COneKeyuninstall] user cancle!\n");
    return true;
}

// ---------------------------------------------------------------------------
// The task

bool COneKeyuninstall::OneKeyUninstall(TaskCallback pfn, void* pUser, bool isDeleteUserData, bool* pCancel) {
    auto record = std::make_shared<ST_ONEKEY_UNINSTALL_INFO>();
    return Task().Start(
        [&] {
            SetCallback(pfn, pUser);
            m_isDeleteUserData = isDeleteUserData;
            m_pCancel = pCancel;
        },
        [this, record] {
            try {
                *record = OneKeyUninstallTheadProc();
            } catch (...) {
                // The Store edition goes in every outcome.
                RemoveStoreEdition();
                throw;
            }
            RemoveStoreEdition();
            LOG_INFO_W(L"=>kOneKeyUninstallState_All_UninstallComplete\n");
        },
        [this, record](const TaskEnd& end) { SendFinalReport(*record, end); });
}

ST_ONEKEY_UNINSTALL_INFO COneKeyuninstall::OneKeyUninstallTheadProc() {
    ST_ONEKEY_UNINSTALL_INFO record;
    int error = 0;
    record.bSuccess = OneKeyUninstallImp(error);
    if (record.bSuccess) {
        ReportLeftoversOrDeleteUserData(record, error);
    } else {
        LOG_INFO_W(L"One key uninstall fail! err = 0x%x", error);
    }
    record.nErrorCode = error;
    return record;
}

void COneKeyuninstall::ReportLeftoversOrDeleteUserData(ST_ONEKEY_UNINSTALL_INFO& record, int& error) {
    GetCantDeleteList(record.vecFiles);
    const int count = static_cast<int>(record.vecFiles.size());
    if (count > 0) {
        record.strMessage = FormatString(L"%d Files Cannot be delete", count);
        LOG_INFO_W(L"Find [%d] Residual file", count);
        record.bSuccess = false;
        for (size_t i = 0; i < record.vecFiles.size() && i < kLeftoversLogged; ++i) {
            LOG_INFO_W(L"%s", record.vecFiles[i]);
        }
        error = kFilesRemain;
        return;
    }
    LOG_INFO_W(L"not find any Residual file!");
    if (!m_isDeleteUserData) return;
    LOG_INFO_W(L"Delete user data...");
    OnDeleteItunesUserData(record.vecFiles);
    if (IsCancle()) {
        LOG_INFO_W(L"delete user data is canle,final ret value = %d", kCancelled);
        error = kCancelled;
    }
}

void COneKeyuninstall::RemoveStoreEdition() {
    CWin10AppStore& store = m_store;
    if (store.CheckInstallMicrosoftStoreItunesSafe()) {
        LOG_INFO_W(L"uninstall iTunes from window app store...");
        store.UninstallMicrosoftStoreItunesSafe();
    } else {
        LOG_INFO_W(L"WARN:not check Micro App Store iTunes");
    }
}

void COneKeyuninstall::SendFinalReport(const ST_ONEKEY_UNINSTALL_INFO& record, const TaskEnd& end) const {
    if (!end.threw) {
        Notify(kOneKeyUninstallState_All_UninstallComplete, record);
        return;
    }
    ST_ONEKEY_UNINSTALL_INFO failed;
    failed.nErrorCode = end.error;
    failed.strMessage = FormatString(L"ERR:uninstall failed (%s)", end.what);
    Notify(kOneKeyUninstallState_All_UninstallComplete, failed);
}

// ---------------------------------------------------------------------------
// The products and their folders

bool COneKeyuninstall::OneKeyUninstallImp(int& error) {
    LOG_INFO_W(L"[OneKeyUninstallImp] begin...");
    m_vecResidualFolders.clear();
    const ProductRemovalPlan plan = PlanProductRemoval(ReadFamilyProducts(m_products));
    LOG_INFO_W(L"Ready uninstall %d module...", static_cast<int>(plan.steps.size()));
    m_vecLeavingCodes = plan.leavingCodes;
    bool allOk = true;
    for (const ProductRemovalStep& step : plan.steps) {
        if (!UninstallProduct(step, error)) allOk = false;
    }

    LOG_INFO_W(L"=> analyze folder...");
    const std::set<std::wstring> candidates = ResidualCandidates(m_folders, plan);
    // Judged once: what the guard refused now stays refused, and a folder
    // deleted later stays in the set so its leftovers are still looked for.
    m_vecResidualFolders = PlanResidualFolders(JudgeResidualFolders(m_os, candidates, m_vecLeavingCodes));
    LOG_INFO_W(L"=> kill third process...");
    KillProcessWhenPathInFolderSafe(m_os, m_vecResidualFolders);
    LOG_INFO_W(L"=> delete Residual file ...");
    DeleteResidualFolders();
    LOG_INFO_W(L"=> collect Residual file infomation,and try delete again...");
    EndProgramsAmongLeftovers();
    LOG_INFO_W(L"[OneKeyUninstallImp] end!\n");
    return allOk;
}

bool COneKeyuninstall::UninstallProduct(const ProductRemovalStep& step, int& error) {
    ST_ONEKEY_UNINSTALL_INFO info;
    info.nType = step.product.type;
    info.strProductName = step.product.name;
    LOG_INFO_W(L"=> [%d][%s],InstallLocation = [%s]...", step.position, info.strProductName, step.product.location);
    if (!step.queuesFolder) LOG_INFO_W(L"#######not delete Residual file1!!!######");
    Notify(kOneKeyUninstallState_Item_UninstallBegin, info);
    LOG_INFO_W(L"=> exec Uninstall...");
    const bool removed = m_installer.Uninstall(info.nType, step.product.code, &error);
    Notify(kOneKeyUninstallState_Item_UninstallEnd, info);
    return removed;
}

void COneKeyuninstall::DeleteResidualFolders() {
    ST_ONEKEY_UNINSTALL_INFO info;
    for (const std::wstring& folder : m_vecResidualFolders) {
        // One spelling of a folder may already have taken another.
        if (!FileExists(m_os.Files(), folder)) continue;
        info.strPath = folder;
        Notify(kOneKeyUninstallState_DeleteResidualDir, info);
        LOG_INFO_W(L"delete dir :%s...", folder);
        DeleteProductDir(m_os, folder, m_vecLeavingCodes);
    }
}

// A program that held its own file kept it from being deleted; ending it by
// name lets the worker's second pass take the file.
void COneKeyuninstall::EndProgramsAmongLeftovers() {
    std::vector<std::wstring> leftovers;
    GetCantDeleteList(leftovers);
    std::vector<std::wstring> programs;
    for (const std::wstring& file : leftovers) {
        if (!FileExists(m_os.Files(), file)) continue;
        const std::wstring name = AsciiLower(GetFileNameFromPath(file));
        if (name.find(L".exe") != std::wstring::npos) programs.push_back(name);
    }
    if (programs.empty()) return;
    LOG_INFO_W(L"=> there are [%d] exe in Residual file,try kill those processes...",
               static_cast<int>(programs.size()));
    // Only the program the file is: a leftover named ".exe" or "e.exe" must
    // not end every process whose name merely contains that text.
    KillProcessByImageName(m_os, programs);
}

void COneKeyuninstall::GetCantDeleteList(std::vector<std::wstring>& files) {
    files.clear();
    const std::set<std::wstring> paths = PlanLeftoverDeletion(ListResidualFiles(m_os.Files(), m_vecResidualFolders));
    DeleteLeftovers(paths, files);
}

// The leftovers lie below folders the guard passed for deletion as a whole.
void COneKeyuninstall::DeleteLeftovers(const std::set<std::wstring>& paths, std::vector<std::wstring>& files) {
    platform::IFileSystem& fs = m_os.Files();
    for (const std::wstring& path : paths) {
        fs.DeleteFile(path);
        if (FileExists(m_os.Files(), path)) {
            LOG_INFO_W(L"Find Residual file :%s", path);
            files.push_back(path);
        } else {
            LOG_INFO_W(L"Residual file [%s] has be delete2 ", path);
        }
    }
}

// ---------------------------------------------------------------------------
// The user data

void COneKeyuninstall::OnDeleteItunesUserData(std::vector<std::wstring>& files) {
    LOG_INFO_W(L"delete user data...");
    const std::vector<std::wstring> roots = m_folders.GetScanRoots();
    const int count = static_cast<int>(roots.size());
    for (int i = 0; i < count; ++i) {
        if (IsCancle()) break;
        LOG_INFO_W(L"[ %d/%d] delete : %s....\n", i + 1, count, roots[i]);
        if (IsCancle()) continue;  // the next round's test ends the loop
        DeleteDirWithCancel(roots[i]);
    }
    if (IsCancle()) {
        LOG_INFO_W(L"WARN:操作被取消,不检测残留文件!\n");
        return;
    }
    DeleteFilesInFolders(m_os, roots, files);
    LOG_INFO_W(L"[删除用户数据]残留文件个数=%d!\n", static_cast<int>(files.size()));
}

// The guarded tree deletion does the walk: it refuses what the guard
// refuses, removes a linked sub-folder as a link without entering it, and
// reaches names of dots literally; each folder it enters is reported.
void COneKeyuninstall::DeleteDirWithCancel(std::wstring folder) {
    if (IsCancle() || !FileExists(m_os.Files(), folder)) return;
    RemoveTrailingBackslash(folder);
    DeleteTree(
        m_os, folder, [this] { return IsCancle(); }, {},
        [this](const std::wstring& entered) {
            ST_ONEKEY_UNINSTALL_INFO info;
            info.strPath = entered + L"\\";
            Notify(kOneKeyUninstallState_DeleteUserDataDir, info);
        });
}
