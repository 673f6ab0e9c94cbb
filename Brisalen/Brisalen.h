// The repair manager: the object behind CreateFixItuensMgr. It checks its
// arguments, logs, and hands each operation to the engine that owns it.
#pragma once

#include "include/Brisalen.h"

class CFixItunesMgr final : public IFixItunesMgr {
public:
    bool IsItunes64Bit() override;
    std::wstring GetItunesVersion() override;
    bool CheckMicrosoftStoreItunes() override;
    bool IsOs64Bit() override;
    bool OpenItunes() override;
    bool CheckAllItunesComponent(TaskCallback pfn, void* pUser, bool bVerifyFiles) override;
    bool RepairAllItunesComponent(std::wstring strPackagePath, TaskCallback pfn, void* pUser) override;
    bool RepairBadComponent(TaskCallback pfn, void* pUser) override;
    bool OneKeyUninstall(TaskCallback pfn, void* pUser, bool isDeleteUserData, bool* pCancel) override;
    bool OneKeyInstall(std::wstring strUnzipPath, TaskCallback pfn, void* pUser) override;
};
