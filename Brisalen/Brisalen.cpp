#include "Brisalen/Brisalen.h"

#include "Brisalen/ItunesCheck.h"
#include "Brisalen/ItunesRegistry.h"
#include "Brisalen/NeverThrow.h"
#include "Brisalen/OneKeyuninstall.h"
#include "Brisalen/OnekeyIntall.h"
#include "Brisalen/Win10AppStore.h"
#include "Brisalen/itunesUserDataMgr.h"
#include "common/OsInfo.h"
#include "common/PathHelpers.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "Brisalen/LibraryContext.h"

namespace {

std::wstring ItunesVersion() {
    std::wstring installDir;
    std::wstring version;
    QueryItunesInfoReg(LibraryPlatform().Registry(), installDir, version);
    return version;
}

bool StartItunes() {
    platform::Platform& os = LibraryPlatform();
    std::wstring installDir;
    std::wstring version;
    QueryItunesInfoReg(os.Registry(), installDir, version);
    const std::wstring program = installDir + L"\\iTunes.exe";
    LOG_INFO_W(L"open itunes[%s]...\n", program);
    if (!FileExists(os.Files(), program)) {
        LOG_INFO_W(L"itunes not exist!\n");
        return false;
    }
    constexpr uint32_t kShow = 5;
    os.Processes().WinExec(WideToNarrow(os.CodePages(), program), kShow);
    return true;
}

}  // namespace

bool CFixItunesMgr::IsItunes64Bit() {
    return NeverThrow(false, [] { return CItunesCheck::Instance().IsItunes64Bit(); });
}

std::wstring CFixItunesMgr::GetItunesVersion() { return NeverThrow(std::wstring(), &ItunesVersion); }

bool CFixItunesMgr::CheckMicrosoftStoreItunes() {
    return NeverThrow(false, [] { return CWin10AppStore::Instance().CheckInstallMicrosoftStoreItunesSafe(); });
}

bool CFixItunesMgr::IsOs64Bit() {
    return NeverThrow(false, [] { return COsInfo(LibraryPlatform().Machine()).bIsWow64; });
}

bool CFixItunesMgr::OpenItunes() { return NeverThrow(false, &StartItunes); }

bool CFixItunesMgr::CheckAllItunesComponent(TaskCallback pfn, void* pUser, bool bVerifyFiles) {
    return NeverThrow(false, [&] {
        LOG_INFO_W(L"[$$CheckAllItunesComponent]...");
        return CItunesCheck::Instance().CheckAllItunesComponent(pfn, pUser, bVerifyFiles);
    });
}

bool CFixItunesMgr::RepairAllItunesComponent(std::wstring strPackagePath, TaskCallback pfn, void* pUser) {
    return NeverThrow(false, [&] {
        LOG_INFO_W(L"[$$RepairAllItunesComponent]...");
        NormalizePath(strPackagePath);
        if (!FileExists(LibraryPlatform().Files(), strPackagePath)) {
            LOG_INFO_W(L"package [%s]not exist!\n", strPackagePath);
            return false;
        }
        return CItunesCheck::Instance().RepairAllItunesComponent(false, strPackagePath, pfn, pUser);
    });
}

bool CFixItunesMgr::RepairBadComponent(TaskCallback pfn, void* pUser) {
    return NeverThrow(false, [&] {
        LOG_INFO_W(L"[$$RepairBadComponent]...");
        return CItunesCheck::Instance().RepairAllItunesComponent(true, std::wstring(), pfn, pUser);
    });
}

bool CFixItunesMgr::OneKeyUninstall(TaskCallback pfn, void* pUser, bool isDeleteUserData, bool* pCancel) {
    // The host's flag is cleared even when the start is then refused.
    if (pCancel != nullptr) *pCancel = false;
    return NeverThrow(false, [&] {
        LOG_INFO_W(L"[$$OneKeyUninstall]: isDeleteUserData=%d...-----\n", isDeleteUserData ? 1 : 0);
        return COneKeyuninstall::Instance().OneKeyUninstall(pfn, pUser, isDeleteUserData, pCancel);
    });
}

bool CFixItunesMgr::OneKeyInstall(std::wstring strUnzipPath, TaskCallback pfn, void* pUser) {
    return NeverThrow(false, [&] {
        LOG_INFO_W(L"[$$OneKeyInstall]:%s...", strUnzipPath);
        NormalizePath(strUnzipPath);
        if (!FileExists(LibraryPlatform().Files(), strUnzipPath)) {
            LOG_INFO_W(L"ERR:install package [%s] not exist!\n", strUnzipPath);
            return false;
        }
        return COnekeyIntall::Instance().OneKeyInstall(strUnzipPath, pfn, pUser);
    });
}

extern "C" BRISALEN_API IFixItunesMgr* BRISALEN_CDECL CreateFixItuensMgr() {
    // Never destroyed: it has no state, and hosts may call it during their
    // own shutdown.
    static CFixItunesMgr instance;
    return &instance;
}

extern "C" BRISALEN_API IItunesUserDataMgr* BRISALEN_CDECL CreateItunesUserDataMgr() {
    return NeverThrow<IItunesUserDataMgr*>(nullptr, [] { return &CItunesUserDataMgr::Instance(); });
}
