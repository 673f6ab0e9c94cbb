#include "Brisalen/MsiInstaller.h"

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

// The services the package installs, in table order; none when it cannot
// be read. The reader is closed again before the caller goes on, so no
// database handle stays open on the package while it is uninstalled or
// installed.
std::vector<std::wstring> PackageServices(platform::Platform& os, const CCollectDirMgr& folders,
                                          const std::wstring& packagePath) {
    std::vector<std::wstring> services;
    CMsiDB package(os, folders);
    if (package.Init(packagePath)) package.QueryServiceInstall(services);
    return services;
}

// Deletes each of the services that still exists, in order, and stops at
// the first that Windows already holds marked for deletion: true then, as
// only a restart lets it go.
bool ServiceAwaitsRestart(platform::IServiceManager& manager, const std::vector<std::wstring>& services, bool logEach) {
    for (const std::wstring& name : services) {
        if (logEach) LOG_INFO_W(L"Check Service:[%s]....", name);
        if (DeleteServiceCheckPending(manager, name)) return true;
    }
    return false;
}

void SetErr(int* err, int value) {
    if (err) *err = value;
}

}  // namespace

CMsiInstaller::CMsiInstaller(platform::Platform& os, const CMsiEnum& products, CFileVerify& verify,
                             const CCollectDirMgr& folders)
    : m_os(os), m_products(products), m_verify(verify), m_folders(folders) {
    m_os.Installer().SetInternalUI(platform::kInstallUiLevelNone);
    const std::wstring hostFolder = GetExeDir(m_os.Process());
    m_strMsiZapPath = FormatString(L"%s\\MsiZap.exe", hostFolder);
    m_strInstallCacheDir = FormatString(L"%s\\install_cache\\", hostFolder);
    // Copies a repair made in an earlier run are of no use any more.
    if (FileExists(m_os.Files(), m_strInstallCacheDir)) DeleteDir(m_os, m_strInstallCacheDir);
    CreateDirTree(m_os.Files(), m_strInstallCacheDir);
}

uint32_t CMsiInstaller::LastError() const { return m_os.Process().LastError(); }

std::wstring CMsiInstaller::ProductName(const std::wstring& productCode) const {
    std::wstring name;
    m_products.QueryProductProperty(productCode, L"ProductName", name);
    return name;
}

uint32_t CMsiInstaller::InstallPackage(const std::wstring& packagePath) const {
    return m_os.Installer().InstallProduct(packagePath, kInstallCommandLine);
}

uint32_t CMsiInstaller::RemoveProduct(const std::wstring& productCode) const {
    return m_os.Installer().ConfigureProduct(productCode, platform::kInstallLevelDefault,
                                             platform::kInstallStateAbsent);
}

uint32_t CMsiInstaller::Recover(uint32_t refusal, const RecoveryLines& lines,
                                const std::function<uint32_t()>& attempt) const {
    switch (refusal) {
        case platform::kErrInstallAlreadyRunning: {
            LOG_INFO_W(L"%s", lines.killInstaller);
            KillProcessByPartName(m_os, kInstallerProcessPart);
            LOG_INFO_W(L"%s", lines.retryAfterKill);
            const uint32_t result = attempt();
            lines.afterKill(result);
            return result;
        }
        case platform::kErrInstallServiceFailure: {
            LOG_INFO_W(L"%s", lines.repairService);
            if (!EnableServiceIfDisabled(m_os.Services(), kInstallerService)) return refusal;
            LOG_INFO_W(L"%s", lines.retryAfterRepair);
            const uint32_t result = attempt();
            lines.afterRepair(result);
            return result;
        }
        default: return refusal;
    }
}

bool CMsiInstaller::Uninstall(int productType, const std::wstring& productCode, int* err) {
    SetErr(err, 0);
    std::wstring location;
    m_products.QueryProductProperty(productCode, L"InstallLocation", location);
    LOG_INFO_W(L"=======[Uninstall] %s begin...=========", ProductName(productCode));

    uint32_t result = m_os.Installer().ConfigureProductEx(productCode, platform::kInstallLevelDefault,
                                                          platform::kInstallStateAbsent, kFirstUninstallCommandLine);
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
    m_verify.DeleteProductInstallFiles(productType);

    if (result != platform::kErrSuccess && !ProductName(productCode).empty()) {
        LOG_INFO_W(L"=======[Uninstall] fail:0x%x=========\n", result);
        return false;
    }
    LOG_INFO_W(L"=======[Uninstall] end!=========\n");
    return true;
}

uint32_t CMsiInstaller::RetryUninstall(const std::wstring& productCode, uint32_t result) {
    if (result == platform::kErrSuccessRebootRequired) {
        LOG_INFO_W(L"ERR:[0xbc2]: need restart system!!!");
        return result;
    }
    RecoveryLines lines;
    lines.killInstaller = L"[0x652]:msiexec running,kill it...";
    lines.retryAfterKill = L"try second uninstall...";
    lines.afterKill = [](uint32_t second) {
        if (second == platform::kErrSuccess) {
            LOG_INFO_W(L"second uninstall success!");
        } else {
            LOG_INFO_W(L"ERR:second uninstall fail:0x%x again!", second);
        }
    };
    lines.repairService = L"[0x641]:Repair Windows Installer service...";
    lines.retryAfterRepair = L"Repair Windows Installer success,try uninstall again...";
    lines.afterRepair = [](uint32_t second) {
        if (second == platform::kErrSuccess) LOG_INFO_W(L"After Repair ,uninstall success!!!");
    };
    return Recover(result, lines, [&] { return RemoveProduct(productCode); });
}

void CMsiInstaller::DeleteInstallDir(int productType, const std::wstring& productCode, const std::wstring& location) {
    if (!MayDeleteInstallDir(productType, location)) {
        LOG_INFO_W(L"#######not delete Residual file2!!!######");
        return;
    }
    if (location.empty() || !FileExists(m_os.Files(), location)) return;
    LOG_INFO_W(L"delete install dir:[%s]...", location);
    // The location comes from the registry and may name anything; the
    // guard keeps what is not this product's alone, other products'
    // folders included.
    DeleteProductDir(m_os, location, {productCode});
}

bool CMsiInstaller::ForceUninstall(const std::wstring& productCode) {
    const std::wstring command = FormatString(L"%s T %s", m_strMsiZapPath, productCode);
    if (!FileExists(m_os.Files(), m_strMsiZapPath)) {
        LOG_INFO_W(L"ERR:File[%s] not exist!\n", m_strMsiZapPath);
        return false;
    }
    // A copy left hanging by an earlier uninstall would hold the Installer's
    // registration open.
    KillProcessByPartName(m_os, kMsiZapProcessPart);
    const auto zap = m_os.Processes().CreateProcess(command, true);
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
        case platform::kErrInstallServiceFailure: {
            RecoveryLines lines;
            lines.killInstaller = L"[0x652]:try to kill msiexec...";
            lines.retryAfterKill = L"try second install...";
            lines.afterKill = [this](uint32_t second) {
                if (second == platform::kErrSuccess) {
                    LOG_INFO_W(L"====Install Success====\n");
                } else {
                    LOG_INFO_W(L"ERR:Second install fail,ret = %d,lastError=%d", second, LastError());
                }
            };
            lines.repairService = L"[0x641]: Repair Windows Installer Service...";
            lines.retryAfterRepair = L"Repair Windows Installer Service Success,try install again...";
            lines.afterRepair = [](uint32_t second) {
                if (second == platform::kErrSuccess) LOG_INFO_W(L"====Install Success2====\n");
            };
            result = Recover(result, lines, [&] { return InstallPackage(packagePath); });
            if (result == platform::kErrSuccess) return true;
            break;
        }
        case platform::kErrInstallFailure:
            // A fatal error here is nearly always something still in use;
            // retrying cannot help before Windows restarts.
            LOG_INFO_W(L"Handle [0x643] error,check whether is need restart computer...");
            if (ServiceAwaitsRestart(m_os.Services(), PackageServices(m_os, m_folders, packagePath), false)) {
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
    std::wstring package = FormatString(L"%s\\%s%d", m_strInstallCacheDir, fileName, m_os.Process().TickCount());
    NormalizePath(package);
    LOG_INFO_W(L"CopyFileA:[%s] to [%s]...", packagePath, package);
    // The uninstall takes the product's cached package with it, and the
    // caller's path is often exactly that; the copy outlives it.
    m_os.Files().CopyFile(packagePath, package, false);
    if (!FileExists(m_os.Files(), package) && FileExists(m_os.Files(), packagePath)) package = packagePath;

    const std::vector<std::wstring> services = PackageServices(m_os, m_folders, package);
    LOG_INFO_W(L"Exec Uninstall....\n");
    Uninstall(productType, productCode, err);

    LOG_INFO_W(L"Uninstall Complete,Checking Service is delete Success....");
    if (ServiceAwaitsRestart(m_os.Services(), services, true)) {
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
