// Installs the whole iTunes family from a folder into which the host
// unpacked an iTunes installer: support libraries first, iTunes last, one
// package after the other on a worker thread, stopping at the first that
// fails. Packages installed before a failure stay installed. Reports
// through the host's TaskCallback with ST_ONEKEY_INSTALL_INFO records:
// 1 a package begins, 2 it was installed, 3 it failed, 4 the task ended.
#pragma once

#include <string>
#include <vector>

#include "Brisalen/ItunesCheck.h"
#include "Brisalen/MsiInstaller.h"
#include "Brisalen/TaskEngine.h"
#include "include/Brisalen.h"

class COnekeyIntall : public TaskEngine<ST_ONEKEY_INSTALL_INFO> {
public:
    static COnekeyIntall& Instance();
    // Finds the packages through `check` and installs them through `installer`.
    COnekeyIntall(platform::IProcessEnv& process, CItunesCheck& check, CMsiInstaller& installer);
    ~COnekeyIntall() { WaitForTaskEnd(); }

    // `folder` is normalised and known to exist. False, with no callback,
    // when it holds fewer than four of the family's packages or while a
    // task runs (which then keeps its own inputs).
    bool OneKeyInstall(std::wstring folder, TaskCallback pfn, void* pUser);

private:
    bool OneKeyInstallImp(int& error);

    CItunesCheck& m_check;
    CMsiInstaller& m_installer;
    std::wstring strUnzipPath;
    std::vector<std::wstring> vecPackages;  // in installation order
};
