// The Microsoft Store edition of iTunes, which Windows Installer does not
// see: found and removed through our companion RemovePackage.dll. Every
// call into the companion is guarded, so a fault inside it becomes a false
// result and a log line, never the end of the host's process.
#pragma once

#include <cstdint>
#include <memory>

#include "include/Brisalen.h"
#include "platform/Platform.h"

class CWin10AppStore {
public:
    // The companion's exports, as it is built to be called.
    using CheckInstallFn = bool(BRISALEN_CDECL*)(wchar_t* version, int32_t reserved);
    using UninstallFn = int32_t(BRISALEN_CDECL*)();
    static constexpr size_t kVersionUnits = 1024;

    static CWin10AppStore& Instance();
    // Loads the companion through `os` on Windows 10 and later.
    explicit CWin10AppStore(platform::Platform& os);

    bool CheckInstallMicrosoftStoreItunesSafe();
    // Whatever the companion answers, the Store edition's leftovers (its
    // device service processes, the common Apple folder) are cleaned up.
    bool UninstallMicrosoftStoreItunesSafe();

private:
    void CleanUpAfterRemoval();

    platform::Platform& m_os;

    // Kept for as long as the object: the companion stays loaded.
    std::unique_ptr<platform::ILibrary> m_library;
    CheckInstallFn pfnCheckInstall = nullptr;
    UninstallFn pfnUninstall = nullptr;
};
