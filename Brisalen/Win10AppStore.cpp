#include "Brisalen/Win10AppStore.h"

#include <vector>

#include "Brisalen/CompanionCall.h"
#include "common/FileHelpers.h"
#include "common/OsInfo.h"
#include "common/PathHelpers.h"
#include "common/ProcessControl.h"
#include "logging/Log.h"
#include "platform/KnownFolders.h"
#include "platform/Platform.h"

namespace {

constexpr int32_t kNoAnswer = -100;
constexpr wchar_t kCompanionName[] = L"RemovePackage.dll";

template <typename Function>
Function ExportOf(platform::ILibrary& library, const char* name) {
    // The export's real signature is the companion's contract; the seam
    // hands every export over as the same generic function type.
    return reinterpret_cast<Function>(library.Export(name));
}

}  // namespace

CWin10AppStore::CWin10AppStore(platform::Platform& os) : m_os(os) {
    if (!COsInfo(os.Machine()).bIsWin10OrLater) {
        LOG_INFO_W(L"CHECK:not need handle micro app store iTunes(OS not win10+)");
        return;
    }
    auto loaded = m_os.Libraries().Load(kCompanionName);
    if (!loaded) {
        LOG_INFO_W(L"load RemovePackage.dll fail 0x%x", loaded.Error());
        return;
    }
    m_library = loaded.Take();
    pfnCheckInstall = ExportOf<CheckInstallFn>(*m_library, "CheckInstallMicrosoftStoreItunes");
    if (pfnCheckInstall == nullptr) LOG_INFO_W(L"ERR:GetProcAddress CheckInstallMicrosoftStoreItunes");
    pfnUninstall = ExportOf<UninstallFn>(*m_library, "UninstallMicrosoftStoreItunes");
    if (pfnUninstall == nullptr) LOG_INFO_W(L"ERR:GetProcAddress UninstallMicrosoftStoreItunes");
}

bool CWin10AppStore::CheckInstallMicrosoftStoreItunesSafe() {
    if (pfnCheckInstall == nullptr) return false;
    std::vector<wchar_t> version(kVersionUnits, L'\0');
    // Written by the companion's call only: it stays false unless the call
    // returned.
    bool installed = false;
    auto check = [&] { installed = pfnCheckInstall(version.data(), 0); };
    if (!CallCompanion(m_os.Process(), kCompanionName, __FILE__,
                       L"CWin10AppStore::CheckInstallMicrosoftStoreItunesSafe", check)) {
        return installed;
    }
    // The companion owes a terminated text; the last unit stays zero
    // whatever it wrote, so the log never reads past the buffer.
    version.back() = L'\0';
    LOG_INFO_W(L"[CheckInstallMicrosoftStoreItunes] ret = %d,version = %s", installed ? 1 : 0,
               std::wstring(version.data()));
    return installed;
}

bool CWin10AppStore::UninstallMicrosoftStoreItunesSafe() {
    if (pfnUninstall == nullptr) return false;
    int32_t code = kNoAnswer;
    auto uninstall = [&] { code = pfnUninstall(); };
    if (CallCompanion(m_os.Process(), kCompanionName, __FILE__, L"CWin10AppStore::UninstallMicrosoftStoreItunesSafe",
                      uninstall)) {
        LOG_INFO_W(L"[UninstallMicrosoftStoreItunesSafe] ret = %d", code);
    }
    CleanUpAfterRemoval();
    return code == 0;
}

void CWin10AppStore::CleanUpAfterRemoval() {
    KillProcessByPartName(m_os, std::wstring(L"AppleMobileDevice"));
    const std::wstring system = GetSpecialFolder(m_os.Machine(), platform::csidl::kSystem);
    if (system.empty()) return;
    std::wstring commonApple;
    commonApple += system[0];
    commonApple += L":\\Program Files (x86)\\Common Files\\Apple";
    // Other vendors' programs may live in the shared Apple folder: a folder
    // that holds an installed product's location stays.
    if (FileExists(m_os.Files(), commonApple)) DeleteProductDir(m_os, commonApple, {});
}
