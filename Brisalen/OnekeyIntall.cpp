#include "Brisalen/OnekeyIntall.h"

#include <memory>
#include <utility>

#include "logging/Log.h"

namespace {

constexpr wchar_t kRefusal[] = L"[OneKeyInstall] FAIL! (the old task is runing)\n";

struct InstallOutcome {
    bool success = false;
    int error = 0;
};

}  // namespace

COnekeyIntall::COnekeyIntall(platform::IProcessEnv& process, CItunesCheck& check, CMsiInstaller& installer)
    : TaskEngine(process, FinalReportOrder::ReleaseThenReport, kRefusal), m_check(check), m_installer(installer) {}

bool COnekeyIntall::OneKeyInstall(std::wstring folder, TaskCallback pfn, void* user) {
    // Built into fresh storage: a running task keeps the list it has.
    std::vector<std::wstring> packages;
    if (!m_check.CheckItuensPackageFile(folder, packages)) {
        LOG_INFO_W(L"invalid iTunes unzip path!\n");
        return false;
    }
    auto outcome = std::make_shared<InstallOutcome>();
    return Task().Start(
        [&] {
            vecPackages = std::move(packages);
            strUnzipPath = std::move(folder);
            SetCallback(pfn, user);
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
        if (m_installer.Install(package, &info.nErrorCode)) {
            Notify(kOneKeyInstallState_Item_Success, info);
            continue;
        }
        error = info.nErrorCode;
        Notify(kOneKeyInstallState_Item_Fail, info);
        return false;
    }
    return true;
}
