#include "Brisalen/OnekeyIntall.h"

#include <memory>
#include <utility>

#include "Brisalen/ItunesCheck.h"
#include "Brisalen/MsiInstaller.h"
#include "logging/Log.h"

namespace {

constexpr wchar_t kRefusal[] = L"[OneKeyInstall] FAIL! (the old task is runing)\n";

struct InstallOutcome {
    bool success = false;
    int error = 0;
};

}  // namespace

COnekeyIntall::COnekeyIntall() : m_task(FinalReportOrder::ReleaseThenReport, kRefusal) {}

COnekeyIntall& COnekeyIntall::Instance() { return Singleton<COnekeyIntall>::Instance(); }

bool COnekeyIntall::IsRunning() const { return m_task.IsRunning(); }

void COnekeyIntall::WaitIdle() const { m_task.WaitIdle(); }

void COnekeyIntall::Notify(int state, const ST_ONEKEY_INSTALL_INFO& info) const {
    if (pfnCallback != nullptr) pfnCallback(pUser, state, &info);
}

bool COnekeyIntall::OneKeyInstall(std::wstring folder, TaskCallback pfn, void* user) {
    // Built into fresh storage: a running task keeps the list it has.
    std::vector<std::wstring> packages;
    if (!CItunesCheck::Instance().CheckItuensPackageFile(folder, packages)) {
        LOG_INFO_W(L"invalid iTunes unzip path!\n");
        return false;
    }
    auto outcome = std::make_shared<InstallOutcome>();
    return m_task.Start(
        [&] {
            vecPackages = std::move(packages);
            strUnzipPath = std::move(folder);
            pfnCallback = pfn;
            pUser = user;
        },
        [this, outcome] {
            outcome->success = OneKeyInstallImp(outcome->error);
            if (outcome->success) {
                LOG_INFO_W(L"[OneKeyInstallTheadProc] success!!!\n");
            } else {
                LOG_INFO_W(L"[OneKeyInstallTheadProc] fail!!!\n");
            }
        },
        [this, outcome](const TaskEnd& end) {
            ST_ONEKEY_INSTALL_INFO summary;
            summary.bSuccess = outcome->success && !end.threw;
            summary.nErrorCode = end.threw ? end.error : outcome->error;
            Notify(kOneKeyInstallState_All_Complete, summary);
        });
}

bool COnekeyIntall::OneKeyInstallImp(int& error) {
    error = 0;
    for (const std::wstring& package : vecPackages) {
        ST_ONEKEY_INSTALL_INFO info;
        info.strPackage = package;
        LOG_INFO_W(L"安装:[%s]\n", package);
        Notify(kOneKeyInstallState_Item_Begin, info);
        if (CMsiInstaller::Instance().Install(package, &info.nErrorCode)) {
            Notify(kOneKeyInstallState_Item_Success, info);
            continue;
        }
        error = info.nErrorCode;
        Notify(kOneKeyInstallState_Item_Fail, info);
        return false;
    }
    return true;
}
