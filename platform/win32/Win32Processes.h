// Other processes of the running Windows: Toolhelp, psapi and WinExec.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/win32/WinApi.h"

#include "platform/Processes.h"

namespace platform::win32 {

class Win32Processes final : public IProcesses {
public:
    Result<std::unique_ptr<IProcessSnapshot>> Snapshot() override;
    uint32_t ListProcessIds(std::vector<uint32_t>& ids) override;
    Result<std::unique_ptr<IProcess>> Open(uint32_t id, uint32_t access) override;
    uint32_t WinExec(const std::string& commandLine, uint32_t show) override;
    Result<std::unique_ptr<IStartedProcess>> CreateProcess(const std::wstring& commandLine, bool hidden) override;
};

}  // namespace platform::win32
