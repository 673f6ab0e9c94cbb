// Installs, uninstalls and repairs products through Windows Installer,
// silently, climbing a fixed recovery ladder when Windows Installer refuses.
// Every uninstall ends with a forced clean-up (MsiZap.exe, the install
// folder, the remembered files). Error codes written through `err` (which
// may be null): 0, a Windows Installer code, or -3 when Windows must be
// restarted first.
#pragma once

#include <cstdint>
#include <string>

#include "common/Singleton.h"

class CMsiInstaller {
public:
    static constexpr int kNeedRestart = -3;

    static CMsiInstaller& Instance();

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
    friend class Singleton<CMsiInstaller>;
    CMsiInstaller();
    // The one retry the refusal `result` allows; the code of the last attempt.
    uint32_t RetryUninstall(const std::wstring& productCode, uint32_t result);
    void DeleteInstallDir(int productType, const std::wstring& productCode, const std::wstring& location);

    std::wstring m_strInstallCacheDir;
    std::wstring m_strMsiZapPath;
};
