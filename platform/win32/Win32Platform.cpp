// The real back end: the Windows the library runs on.
#include "platform/win32/WinApi.h"

#include "platform/Platform.h"
#include "platform/win32/Win32CodePages.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Installer.h"
#include "platform/win32/Win32Libraries.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Services.h"
#include "platform/win32/Win32MachineInfo.h"
#include "platform/win32/Win32ProcessEnv.h"
#include "platform/win32/Win32Processes.h"

namespace platform {

namespace win32 {

class Win32Platform final : public Platform {
public:
    IFileSystem& Files() override { return files_; }
    IMachineInfo& Machine() override { return machine_; }
    IProcessEnv& Process() override { return process_; }
    IProcesses& Processes() override { return processes_; }
    ICodePages& CodePages() override { return codePages_; }
    IInstaller& Installer() override { return installer_; }
    ILibraries& Libraries() override { return libraries_; }
    IRegistry& Registry() override { return registry_; }
    IServiceManager& Services() override { return services_; }

private:
    Win32FileSystem files_;
    Win32MachineInfo machine_;
    Win32ProcessEnv process_;
    Win32Processes processes_;
    Win32CodePages codePages_;
    Win32Installer installer_;
    Win32Libraries libraries_;
    Win32Registry registry_;
    Win32Services services_;
};

}  // namespace win32

Platform& Os() {
    static win32::Win32Platform os;
    return os;
}

}  // namespace platform
