#include "Brisalen/MsiInstaller.h"
#include "common/Singleton.h"

#include <memory>
#include <vector>

#include "Brisalen/FileVerify.h"
#include "Brisalen/ItunesRegistry.h"
#include "Brisalen/MsiDB.h"
#include "Brisalen/MsiEnum.h"
#include "common/FileHelpers.h"
#include "common/PathHelpers.h"
#include "common/ProcessControl.h"
#include "common/ServiceControl.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/Platform.h"

namespace {

constexpr wchar_t kInstallCommandLine[] = L"ACTION=INSTALL REBOOT=ReallySuppress";
constexpr wchar_t kFirstUninstallCommandLine[] = L"REBOOT=ReallySuppress";
constexpr wchar_t kInstallerService[] = L"msiserver";
constexpr wchar_t kInstallerProcessPart[] = L"msiexec";
constexpr wchar_t kMsiZapProcessPart[] = L"MsiZap.exe";
constexpr uint32_t kMsiZapWaitMs = 30000;

uint32_t LastError() { return platform::Os().Process().LastError(); }

uint32_t InstallPackage(const std::wstring& packagePath) {
    return platform::Os().Installer().InstallProduct(packagePath, kInstallCommandLine);
}

uint32_t RemoveProduct(const std::wstring& productCode) {
    return platform::Os().Installer().ConfigureProduct(productCode, platform::kInstallLevelDefault,
                                                       platform::kInstallStateAbsent);
}

std::wstring ProductName(const std::wstring& productCode) {
    std::wstring name;
    CMsiEnum::QueryProductProperty(productCode, L"ProductName", name);
    return name;
}

// The services the package installs, in table order; none when it cannot
// be read. The reader is closed again before the caller goes on, so no
// database handle stays open on the package while it is uninstalled or
// installed.
std::vector<std::wstring> PackageServices(const std::wstring& packagePath) {
    std::vector<std::wstring> services;
    CMsiDB package;
    if (package.Init(packagePath)) package.QueryServiceInstall(services);
    return services;
}

// Deletes each of the services that still exists, in order, and stops at
// the first that Windows already holds marked for deletion: true then, as
// only a restart lets it go.
bool ServiceAwaitsRestart(const std::vector<std::wstring>& services, bool logEach) {
    for (const std::wstring& name : services) {
        if (logEach) LOG_INFO_W(L"Check Service:[%s]....", name);
        if (DeleteServiceCheckPending(name)) return true;
    }
    return false;
}

void SetErr(int* err, int value) {
    if (err) *err = value;
}

}  // namespace

CMsiInstaller& CMsiInstaller::Instance() { return Singleton<CMsiInstaller>::Instance(); }

CMsiInstaller::CMsiInstaller() {
    platform::Os().Installer().SetInternalUI(platform::kInstallUiLevelNone);
    const std::wstring hostFolder = GetExeDir();
    m_strMsiZapPath = FormatString(L"%s\\MsiZap.exe", hostFolder);
    m_strInstallCacheDir = FormatString(L"%s\\install_cache\\", hostFolder);
    // Copies a repair made in an earlier run are of no use any more.
    if (FileExists(m_strInstallCacheDir)) DeleteDir(m_strInstallCacheDir);
    CreateDirTree(m_strInstallCacheDir);
}

bool CMsiInstaller::Uninstall(int productType, const std::wstring& productCode, int* err) {
    SetErr(err, 0);
    std::wstring location;
    CMsiEnum::QueryProductProperty(productCode, L"InstallLocation", location);
    LOG_INFO_W(L"=======[Uninstall] %s begin...=========", ProductName(productCode));

    uint32_t result = platform::Os().Installer().ConfigureProductEx(
        productCode, platform::kInstallLevelDefault, platform::kInstallStateAbsent, kFirstUninstallCommandLine);
    if (result == platform::kErrSuccess) {
        LOG_INFO_W(L"MsiConfigureProductEx SUCCESS!");
    } else {
        LOG_INFO_W(L"ERR:MsiConfigureProductEx FAIL,ret = %d,lastError = %d", result, LastError());
        result = RetryUninstall(productCode, result);
        if (result != platform::kErrSuccess) {
            SetErr(err, static_cast<int>(result));
            LOG_INFO_W(L"ERR:Uninstall Fail,Force uninstall...");
        }
    }

    // Windows Installer may report success and still leave registration
    // behind, so the forced clean-up runs either way.
    LOG_INFO_W(L"=> ForceUninstall...");
    ForceUninstall(productCode);
    DeleteInstallDir(productType, productCode, location);
    LOG_INFO_W(L"=> DeleteProductInstallFiles...");
    CFileVerify::Instance().DeleteProductInstallFiles(productType);

    if (result != platform::kErrSuccess && !ProductName(productCode).empty()) {
        LOG_INFO_W(L"=======[Uninstall] fail:0x%x=========\n", result);
        return false;
    }
    LOG_INFO_W(L"=======[Uninstall] end!=========\n");
    return true;
}

uint32_t CMsiInstaller::RetryUninstall(const std::wstring& productCode, uint32_t result) {
    switch (result) {
        case platform::kErrInstallAlreadyRunning: {
            LOG_INFO_W(L"[0x652]:msiexec running,kill it...");
            KillProcessByPartName(kInstallerProcessPart);
            LOG_INFO_W(L"try second uninstall...");
            result = RemoveProduct(productCode);
            if (result == platform::kErrSuccess) {
                LOG_INFO_W(L"second uninstall success!");
            } else {
                LOG_INFO_W(L"ERR:second uninstall fail:0x%x again!", result);
            }
            return result;
        }
        case platform::kErrInstallServiceFailure: {
            LOG_INFO_W(L"[0x641]:Repair Windows Installer service...");
            if (!EnableServiceIfDisabled(kInstallerService)) return result;
            LOG_INFO_W(L"Repair Windows Installer success,try uninstall again...");
            result = RemoveProduct(productCode);
            if (result == platform::kErrSuccess) LOG_INFO_W(L"After Repair ,uninstall success!!!");
            return result;
        }
        case platform::kErrSuccessRebootRequired:
            LOG_INFO_W(L"ERR:[0xbc2]: need restart system!!!");
            return result;
        default:
            return result;
    }
}

void CMsiInstaller::DeleteInstallDir(int productType, const std::wstring& productCode, const std::wstring& location) {
    if (!MayDeleteInstallDir(productType, location)) {
        LOG_INFO_W(L"#######not delete Residual file2!!!######");
        return;
    }
    if (location.empty() || !FileExists(location)) return;
    LOG_INFO_W(L"delete install dir:[%s]...", location);
    // The location comes from the registry and may name anything; the
    // guard keeps what is not this product's alone, other products'
    // folders included.
    DeleteProductDir(location, {productCode});
}

bool CMsiInstaller::ForceUninstall(const std::wstring& productCode) {
    const std::wstring command = FormatString(L"%s T %s", m_strMsiZapPath, productCode);
    if (!FileExists(m_strMsiZapPath)) {
        LOG_INFO_W(L"ERR:File[%s] not exist!\n", m_strMsiZapPath);
        return false;
    }
    // A copy left hanging by an earlier uninstall would hold the Installer's
    // registration open.
    KillProcessByPartName(kMsiZapProcessPart);
    const auto zap = platform::Os().Processes().CreateProcess(command, true);
    if (!zap) {
        LOG_INFO_W(L"err: createProcess[%s] fail! err = 0x%x\n", command, zap.Error());
        return false;
    }
    const uint32_t waited = (*zap)->Wait(kMsiZapWaitMs);
    // On a time-out the tool is left running; the next uninstall ends it.
    if (waited == platform::kWaitTimeout) LOG_INFO_W(L"wait [MsiZap.exe] timeout:30s");
    LOG_INFO_W(L"ForceUninstall end! (waitRet = 0x%x)\n", waited);
    return true;
}

bool CMsiInstaller::Install(const std::wstring& packagePath, int* err) {
    SetErr(err, 0);
    LOG_INFO_W(L"====[Install] %s begin...", packagePath);
    uint32_t result = InstallPackage(packagePath);
    if (result == platform::kErrSuccess) {
        LOG_INFO_W(L"====Install Success====\n");
        return true;
    }
    LOG_INFO_W(L"ERR:MsiInstallProduct fail,ret = %d,lastError=%d", result, LastError());
    switch (result) {
        case platform::kErrInstallAlreadyRunning:
            LOG_INFO_W(L"[0x652]:try to kill msiexec...");
            KillProcessByPartName(kInstallerProcessPart);
            LOG_INFO_W(L"try second install...");
            result = InstallPackage(packagePath);
            if (result == platform::kErrSuccess) {
                LOG_INFO_W(L"====Install Success====\n");
                return true;
            }
            LOG_INFO_W(L"ERR:Second install fail,ret = %d,lastError=%d", result, LastError());
            break;
        case platform::kErrInstallFailure:
            // A fatal error here is nearly always something still in use;
            // retrying cannot help before Windows restarts.
            LOG_INFO_W(L"Handle [0x643] error,check whether is need restart computer...");
            if (ServiceAwaitsRestart(PackageServices(packagePath), false)) {
                LOG_INFO_W(L"WARN:Need Restart Computer because service has occupy!\n");
            } else {
                LOG_INFO_W(L"WARN:Need Restart Computer because files has occupy!\n");
            }
            SetErr(err, kNeedRestart);
            return false;
        case platform::kErrSuccessRebootRequired:
            LOG_INFO_W(L"Handle [0xbc2] error...");
            LOG_INFO_W(L"WARN:The requested operation succeeded. Changes will not take effect until the system is "
                       L"rebooted!\n");
            return true;
        case platform::kErrInstallServiceFailure:
            LOG_INFO_W(L"[0x641]: Repair Windows Installer Service...");
            if (!EnableServiceIfDisabled(kInstallerService)) break;
            LOG_INFO_W(L"Repair Windows Installer Service Success,try install again...");
            result = InstallPackage(packagePath);
            if (result == platform::kErrSuccess) {
                LOG_INFO_W(L"====Install Success2====\n");
                return true;
            }
            break;
        default:
            break;
    }
    SetErr(err, static_cast<int>(result));
    LOG_INFO_W(L"====Install fail:0x%x====\n", result);
    return false;
}

bool CMsiInstaller::UninstallAndInstall(int productType, const std::wstring& productCode,
                                        const std::wstring& packagePath, const std::wstring& fileName, int* err) {
    LOG_INFO_W(L"[UninstallAndInstall] begin....");
    std::wstring package = FormatString(L"%s\\%s%d", m_strInstallCacheDir, fileName,
                                        platform::Os().Process().TickCount());
    NormalizePath(package);
    LOG_INFO_W(L"CopyFileA:[%s] to [%s]...", packagePath, package);
    // The uninstall takes the product's cached package with it, and the
    // caller's path is often exactly that; the copy outlives it.
    platform::Os().Files().CopyFile(packagePath, package, false);
    if (!FileExists(package) && FileExists(packagePath)) package = packagePath;

    const std::vector<std::wstring> services = PackageServices(package);
    LOG_INFO_W(L"Exec Uninstall....\n");
    Uninstall(productType, productCode, err);

    LOG_INFO_W(L"Uninstall Complete,Checking Service is delete Success....");
    if (ServiceAwaitsRestart(services, true)) {
        LOG_INFO_W(L"Service maybe exception,need restart computer!\n");
        SetErr(err, kNeedRestart);
        return false;
    }
    if (err && *err == static_cast<int>(platform::kErrSuccessRebootRequired)) {
        LOG_INFO_W(L"uninstall ret 0xbc2,so need restart computer!\n");
        *err = kNeedRestart;
        return false;
    }
    LOG_INFO_W(L"Exec Install....");
    if (Install(package, err)) {
        LOG_INFO_W(L"[UninstallAndInstall] SUCCESS!\n\n");
        return true;
    }
    LOG_INFO_W(L"[UninstallAndInstall] FAIL! \n\n");
    return false;
}
