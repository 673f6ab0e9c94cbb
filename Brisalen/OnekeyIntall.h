// Installs the whole iTunes family from a folder into which the host
// unpacked an iTunes installer: support libraries first, iTunes last, one
// package after the other on a worker thread, stopping at the first that
// fails. Packages installed before a failure stay installed. Reports
// through the host's TaskCallback with ST_ONEKEY_INSTALL_INFO records:
// 1 a package begins, 2 it was installed, 3 it failed, 4 the task ended.
#pragma once

#include <string>
#include <vector>

#include "common/Singleton.h"
#include "common/TaskSlot.h"
#include "include/Brisalen.h"

class COnekeyIntall {
public:
    static COnekeyIntall& Instance();

    // `folder` is normalised and known to exist. False, with no callback,
    // when it holds fewer than four of the family's packages or while a
    // task runs (which then keeps its own inputs).
    bool OneKeyInstall(std::wstring folder, TaskCallback pfn, void* pUser);
    bool IsRunning() const;
    // Blocks until no task runs (tests and orderly shutdown).
    void WaitIdle() const;

private:
    friend class Singleton<COnekeyIntall>;
    COnekeyIntall();

    bool OneKeyInstallImp(int& error);
    void Notify(int state, const ST_ONEKEY_INSTALL_INFO& info) const;

    std::wstring strUnzipPath;
    std::vector<std::wstring> vecPackages;  // in installation order
    TaskCallback pfnCallback = nullptr;
    void* pUser = nullptr;
    TaskSlot m_task;
};
