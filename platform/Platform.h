// The OS seam. Everything above platform/ reaches Windows only through the
// object returned by Os(): the real Win32 back end in the Windows builds,
// the simulated machine in the Linux build.
#pragma once

#include "platform/CodePages.h"
#include "platform/FileSystem.h"
#include "platform/Installer.h"
#include "platform/Libraries.h"
#include "platform/MachineInfo.h"
#include "platform/ProcessEnv.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "platform/Services.h"
#include "platform/Types.h"

namespace platform {

class Platform {
public:
    virtual ~Platform() = default;
    virtual IFileSystem& Files() = 0;
    virtual IMachineInfo& Machine() = 0;
    virtual IProcessEnv& Process() = 0;
    virtual IProcesses& Processes() = 0;
    virtual ICodePages& CodePages() = 0;
    virtual IInstaller& Installer() = 0;
    virtual ILibraries& Libraries() = 0;
    virtual IRegistry& Registry() = 0;
    virtual IServiceManager& Services() = 0;
};

// The process-wide back end.
Platform& Os();

}  // namespace platform
