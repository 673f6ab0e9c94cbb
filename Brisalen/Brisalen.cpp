#include "Brisalen/Brisalen.h"

#include "Brisalen/ItunesCheck.h"
#include "Brisalen/ItunesRegistry.h"
#include "Brisalen/itunesUserDataMgr.h"
#include "common/OsInfo.h"
#include "common/PathHelpers.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/Platform.h"

// Operations whose engine is not part of this build answer false (or an
// empty string) and start nothing.

bool CFixItunesMgr::IsItunes64Bit() { return CItunesCheck::Instance().IsItunes64Bit(); }

std::wstring CFixItunesMgr::GetItunesVersion() {
    std::wstring installDir;
    std::wstring version;
    QueryItunesInfoReg(installDir, version);
    return version;
}

bool CFixItunesMgr::CheckMicrosoftStoreItunes() { return false; }

bool CFixItunesMgr::IsOs64Bit() { return GetOsInfo().bIsWow64; }

bool CFixItunesMgr::OpenItunes() {
    std::wstring installDir;
    std::wstring version;
    QueryItunesInfoReg(installDir, version);
    const std::wstring program = installDir + L"\\iTunes.exe";
    LOG_INFO_W(L"open itunes[%s]...\n", program);
    if (!FileExists(program)) {
        LOG_INFO_W(L"itunes not exist!\n");
        return false;
    }
    constexpr uint32_t kShow = 5;
    platform::Os().Processes().WinExec(WideToNarrow(program), kShow);
    return true;
}

bool CFixItunesMgr::CheckAllItunesComponent(TaskCallback pfn, void* pUser, bool bVerifyFiles) {
    LOG_INFO_W(L"[$$CheckAllItunesComponent]...");
    return CItunesCheck::Instance().CheckAllItunesComponent(pfn, pUser, bVerifyFiles);
}

bool CFixItunesMgr::RepairAllItunesComponent(std::wstring strPackagePath, TaskCallback pfn, void* pUser) {
    LOG_INFO_W(L"[$$RepairAllItunesComponent]...");
    NormalizePath(strPackagePath);
    if (!FileExists(strPackagePath)) {
        LOG_INFO_W(L"package [%s]not exist!\n", strPackagePath);
        return false;
    }
    return CItunesCheck::Instance().RepairAllItunesComponent(false, strPackagePath, pfn, pUser);
}

bool CFixItunesMgr::RepairBadComponent(TaskCallback pfn, void* pUser) {
    LOG_INFO_W(L"[$$RepairBadComponent]...");
    return CItunesCheck::Instance().RepairAllItunesComponent(true, std::wstring(), pfn, pUser);
}

bool CFixItunesMgr::OneKeyUninstall(TaskCallback pfn, void* pUser, bool isDeleteUserData, bool* pCancel) {
    LOG_INFO_W(L"[$$OneKeyUninstall]: isDeleteUserData=%d...-----\n", isDeleteUserData ? 1 : 0);
    if (pCancel != nullptr) *pCancel = false;
    return false;
}

bool CFixItunesMgr::OneKeyInstall(std::wstring strUnzipPath, TaskCallback pfn, void* pUser) {
    LOG_INFO_W(L"[$$OneKeyInstall]:%s...", strUnzipPath);
    NormalizePath(strUnzipPath);
    if (!FileExists(strUnzipPath)) {
        LOG_INFO_W(L"ERR:install package [%s] not exist!\n", strUnzipPath);
        return false;
    }
    return false;
}

extern "C" BRISALEN_API IFixItunesMgr* BRISALEN_CDECL CreateFixItuensMgr() {
    // Never destroyed: it has no state, and hosts may call it during their
    // own shutdown.
    static CFixItunesMgr* const manager = [] {
        static CFixItunesMgr instance;
        return &instance;
    }();
    return manager;
}

extern "C" BRISALEN_API IItunesUserDataMgr* BRISALEN_CDECL CreateItunesUserDataMgr() {
    return &CItunesUserDataMgr::Instance();
}
