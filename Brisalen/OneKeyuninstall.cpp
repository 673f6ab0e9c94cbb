#include "Brisalen/OneKeyuninstall.h"

#include <algorithm>
#include <memory>

#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/ItunesRegistry.h"
#include "Brisalen/MsiEnum.h"
#include "Brisalen/MsiInstaller.h"
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

COneKeyuninstall::COneKeyuninstall() : m_task(platform::Os().Process(), FinalReportOrder::ReleaseThenReport, kRefusal) {}

COneKeyuninstall& COneKeyuninstall::Instance() { return Singleton<COneKeyuninstall>::Instance(); }

bool COneKeyuninstall::IsRunning() const { return m_task.IsRunning(); }

void COneKeyuninstall::WaitIdle() const { m_task.WaitIdle(); }

void COneKeyuninstall::Notify(int state, const ST_ONEKEY_UNINSTALL_INFO& info) const {
    if (m_pfnCallback != nullptr) m_pfnCallback(m_pUser, state, &info);
}

bool COneKeyuninstall::IsCancle() const {
    if (!IsCancelSet(m_pCancel)) return false;
    LOG_INFO_W(L"[COneKeyuninstall] user cancle!\n");
    return true;
}

// ---------------------------------------------------------------------------
// The task

bool COneKeyuninstall::OneKeyUninstall(TaskCallback pfn, void* pUser, bool isDeleteUserData, bool* pCancel) {
    auto record = std::make_shared<ST_ONEKEY_UNINSTALL_INFO>();
    return m_task.Start(
        [&] {
            m_pfnCallback = pfn;
            m_pUser = pUser;
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
    CWin10AppStore& store = CWin10AppStore::Instance();
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
    m_setResidual.clear();
    LoadProducts();
    bool allOk = true;
    for (size_t i = 0; i < m_vecProducts.size(); ++i) {
        if (!UninstallProduct(static_cast<int>(i + 1), m_vecProducts[i], error)) allOk = false;
    }

    LOG_INFO_W(L"=> analyze folder...");
    CCollectDirMgr::Instance().CollectAppleProgramFolders(m_setResidual);
    LOG_INFO_W(L"=> kill third process...");
    KillProcessWhenPathInFolderSafe(platform::Os(), DeletableResidualFolders());
    LOG_INFO_W(L"=> delete Residual file ...");
    DeleteResidualFolders();
    LOG_INFO_W(L"=> collect Residual file infomation,and try delete again...");
    EndProgramsAmongLeftovers();
    LOG_INFO_W(L"[OneKeyUninstallImp] end!\n");
    return allOk;
}

void COneKeyuninstall::LoadProducts() {
    CMsiEnum& products = CMsiEnum::Instance();
    products.LoadAllInstallProduct(false);
    m_vecProducts.clear();
    for (const auto& entry : products.ItunesProducts()) m_vecProducts.push_back(entry.second);
    std::stable_sort(m_vecProducts.begin(), m_vecProducts.end(),
                     [](const auto& a, const auto& b) { return a.nProductTypeCopy < b.nProductTypeCopy; });
    LOG_INFO_W(L"Ready uninstall %d module...", static_cast<int>(m_vecProducts.size()));
    // The family's own locations are theirs to lose; every other product's
    // stays whatever a residual folder holds.
    m_vecLeavingCodes.clear();
    for (const ST_MSI_PRODUCT_RAW_DATA& product : m_vecProducts) m_vecLeavingCodes.push_back(product.strProductCode);
}

bool COneKeyuninstall::UninstallProduct(int position, const ST_MSI_PRODUCT_RAW_DATA& product, int& error) {
    const std::wstring location = ProductProperty(product, L"InstallLocation");
    ST_ONEKEY_UNINSTALL_INFO info;
    info.nType = product.nProductTypeCopy;
    info.strProductName = ProductProperty(product, L"ProductName");
    LOG_INFO_W(L"=> [%d][%s],InstallLocation = [%s]...", position, info.strProductName, location);
    QueueInstallFolder(info.nType, location);
    Notify(kOneKeyUninstallState_Item_UninstallBegin, info);
    LOG_INFO_W(L"=> exec Uninstall...");
    const bool removed = CMsiInstaller::Instance().Uninstall(info.nType, product.strProductCode, &error);
    Notify(kOneKeyUninstallState_Item_UninstallEnd, info);
    return removed;
}

void COneKeyuninstall::QueueInstallFolder(int type, std::wstring location) {
    NormalizePath(location);
    AsciiLowerInPlace(location);
    // An iTunes folder that does not say "itunes" (a bare drive, say) is no
    // folder of ours to take. An empty location stays in the set: nothing
    // exists under that name, so nothing acts on it.
    if (MayDeleteInstallDir(type, location)) {
        m_setResidual.insert(location);
    } else {
        LOG_INFO_W(L"#######not delete Residual file1!!!######");
    }
}

std::vector<std::wstring> COneKeyuninstall::DeletableResidualFolders() {
    const DeletionGuard guard(platform::Os(), m_vecLeavingCodes);
    std::vector<std::wstring> folders;
    for (auto it = m_setResidual.begin(); it != m_setResidual.end();) {
        std::wstring canonical;
        if (!FileExists(platform::Os().Files(), *it)) {
            ++it;
        } else if (guard.AllowsProductTree(*it, canonical)) {
            folders.push_back(*it++);
        } else {
            it = m_setResidual.erase(it);  // the guard logged why
        }
    }
    return folders;
}

void COneKeyuninstall::DeleteResidualFolders() {
    ST_ONEKEY_UNINSTALL_INFO info;
    for (const std::wstring& folder : DeletableResidualFolders()) {
        // One spelling of a folder may already have taken another.
        if (!FileExists(platform::Os().Files(), folder)) continue;
        info.strPath = folder;
        Notify(kOneKeyUninstallState_DeleteResidualDir, info);
        LOG_INFO_W(L"delete dir :%s...", folder);
        DeleteProductDir(platform::Os(), folder, m_vecLeavingCodes);
    }
}

// A program that held its own file kept it from being deleted; ending it by
// name lets the worker's second pass take the file.
void COneKeyuninstall::EndProgramsAmongLeftovers() {
    std::vector<std::wstring> leftovers;
    GetCantDeleteList(leftovers);
    std::vector<std::wstring> programs;
    for (const std::wstring& file : leftovers) {
        if (!FileExists(platform::Os().Files(), file)) continue;
        const std::wstring name = AsciiLower(GetFileNameFromPath(file));
        if (name.find(L".exe") != std::wstring::npos) programs.push_back(name);
    }
    if (programs.empty()) return;
    LOG_INFO_W(L"=> there are [%d] exe in Residual file,try kill those processes...",
               static_cast<int>(programs.size()));
    // Only the program the file is: a leftover named ".exe" or "e.exe" must
    // not end every process whose name merely contains that text.
    KillProcessByImageName(platform::Os(), programs);
}

void COneKeyuninstall::GetCantDeleteList(std::vector<std::wstring>& files) {
    files.clear();
    std::set<std::wstring> paths;
    for (const std::wstring& folder : DeletableResidualFolders()) {
        if (IsLink(platform::Os().Files(), folder)) continue;
        std::vector<std::wstring> listed;
        ListFilesRecursive(platform::Os().Files(), folder, listed);
        for (std::wstring& path : listed) {
            NormalizePath(path);
            AsciiLowerInPlace(path);
            paths.insert(std::move(path));
        }
    }
    platform::IFileSystem& fs = platform::Os().Files();
    for (const std::wstring& path : paths) {
        fs.DeleteFile(path);
        if (FileExists(platform::Os().Files(), path)) {
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
    const std::vector<std::wstring> roots = CCollectDirMgr::Instance().GetScanRoots();
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
    DeleteFilesInFolders(platform::Os(), roots, files);
    LOG_INFO_W(L"[删除用户数据]残留文件个数=%d!\n", static_cast<int>(files.size()));
}

// The guarded tree deletion does the walk: it refuses what the guard
// refuses, removes a linked sub-folder as a link without entering it, and
// reaches names of dots literally; each folder it enters is reported.
void COneKeyuninstall::DeleteDirWithCancel(std::wstring folder) {
    if (IsCancle() || !FileExists(platform::Os().Files(), folder)) return;
    RemoveTrailingBackslash(folder);
    DeleteTree(platform::Os(), 
        folder, [this] { return IsCancle(); }, {},
        [this](const std::wstring& entered) {
            ST_ONEKEY_UNINSTALL_INFO info;
            info.strPath = entered + L"\\";
            Notify(kOneKeyUninstallState_DeleteUserDataDir, info);
        });
}
