// The user-data manager behind CreateItunesUserDataMgr.
#pragma once

#include "include/Brisalen.h"

class CItunesUserDataMgr final : public IItunesUserDataMgr {
public:
    static CItunesUserDataMgr& Instance();

    bool EnumItunesUserData(EnumItunesUserDataCallback callback, void* pUser, bool bDeepScan,
                            bool* pCancleEnumUserData) override;
    bool DeleteItuensUserData(DeleteItunesUserDataCallback callback, void* pUser,
                              std::vector<int32_t>& vecCategory, std::vector<int32_t>& vecItem,
                              bool* pCancel) override;
};
