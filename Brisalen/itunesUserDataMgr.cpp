#include "Brisalen/itunesUserDataMgr.h"
#include "common/Singleton.h"

#include <cstdint>

#include "logging/Log.h"

CItunesUserDataMgr& CItunesUserDataMgr::Instance() { return Singleton<CItunesUserDataMgr>::Instance(); }

// The scan and deletion engines are not part of this build yet: both
// requests are logged and refused.
bool CItunesUserDataMgr::EnumItunesUserData(EnumItunesUserDataCallback callback, void* pUser,
                                            bool bDeepScan, bool* pCancleEnumUserData) {
    LOG_INFO_W(L"EnumItunesUserData begin...");
    LOG_INFO_W(L"bDeepScan = 0x%x, pCancleEnumUserData = 0x%x", bDeepScan ? 1 : 0,
               static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pCancleEnumUserData)));
    return false;
}

bool CItunesUserDataMgr::DeleteItuensUserData(DeleteItunesUserDataCallback callback, void* pUser,
                                              std::vector<int32_t>& vecCategory,
                                              std::vector<int32_t>& vecItem, bool* pCancel) {
    LOG_INFO_W(L"[DeleteItuensUserData] begin...");
    return false;
}
