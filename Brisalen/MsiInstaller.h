// Installs, uninstalls and repairs products through Windows Installer,
// silently, climbing a fixed recovery ladder when Windows Installer refuses.
// Every uninstall ends with a forced clean-up (MsiZap.exe, the install
// folder, the remembered files). Error codes written through `err` (which
// may be null): 0, a Windows Installer code, or -3 when Windows must be
// restarted first.
#pragma once

#include <cstdint>
#include <string>

#include <functional>

#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/FileVerify.h"
#include "Brisalen/MsiEnum.h"
#include "platform/Platform.h"

class CMsiInstaller {
public:
    static constexpr int kNeedRestart = -3;

    static CMsiInstaller& Instance();
    // Installs through `os`; `verify` knows the files an uninstall leaves,
    // `folders` resolve the packages' roots.
    CMsiInstaller(platform::Platform& os, const CMsiEnum& products, CFileVerify& verify, const CCollectDirMgr& folders);

    bool Uninstall(int productType, const std::wstring& productCode, int* err);
    bool ForceUninstall(const std::wstring& productCode);
    bool Install(const std::wstring& packagePath, int* err);
    // The repair: a copy of the package survives the uninstall (which takes
    // the product's cached package with it), then is installed.
    bool UninstallAndInstall(int productType, const std::wstring& productCode, const std::wstring& packagePath,
                             const std::wstring& fileName, int* err);

    const std::wstring& InstallCacheDir() const { return m_strInstallCacheDir; }
    const std::wstring& MsiZapPath() const { return m_strMsiZapPath; }

private:
    // What the recovery ladder logs for one operation, the retries' results
    // included.
    struct RecoveryLines {
        const wchar_t* killInstaller = L"";
        const wchar_t* retryAfterKill = L"";
        std::function<void(uint32_t)> afterKill;
        const wchar_t* repairService = L"";
        const wchar_t* retryAfterRepair = L"";
        std::function<void(uint32_t)> afterRepair;
    };

    uint32_t LastError() const;
    std::wstring ProductName(const std::wstring& productCode) const;
    uint32_t InstallPackage(const std::wstring& packagePath) const;
    uint32_t RemoveProduct(const std::wstring& productCode) const;
    // The one retry a refusal allows: with another installation running
    // (1618) its msiexec is ended, with the Installer service broken (1601)
    // the service is enabled, then `attempt` runs again. The code of the
    // last attempt; the refusal itself when no step applies.
    uint32_t Recover(uint32_t refusal, const RecoveryLines& lines, const std::function<uint32_t()>& attempt) const;
    // The uninstall's retry of the refusal `result`; the code of the last attempt.
    uint32_t RetryUninstall(const std::wstring& productCode, uint32_t result);
    void DeleteInstallDir(int productType, const std::wstring& productCode, const std::wstring& location);

    platform::Platform& m_os;
    const CMsiEnum& m_products;
    CFileVerify& m_verify;
    const CCollectDirMgr& m_folders;
    std::wstring m_strInstallCacheDir;
    std::wstring m_strMsiZapPath;
};
