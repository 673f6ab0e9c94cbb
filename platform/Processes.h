// Other processes of the machine: the Toolhelp snapshot, process identifiers,
// opened processes with their loaded modules, termination, and WinExec.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Result.h"
#include "platform/Types.h"

namespace platform {

// Access rights asked for when opening a process (PROCESS_*).
enum ProcessAccess : uint32_t {
    kProcessTerminate = 0x0001,
    kProcessVmRead = 0x0010,
    kProcessQueryInformation = 0x0400,
};

// The useful part of PROCESSENTRY32W.
struct ProcessEntry {
    uint32_t id = 0;
    // The executable's file name as Toolhelp reports it ("iTunes.exe").
    std::wstring exeFile;
};

// A CreateToolhelp32Snapshot of the processes; closed when the object goes.
class IProcessSnapshot {
public:
    virtual ~IProcessSnapshot() = default;
    // Process32FirstW and Process32NextW. False, with the thread's last
    // error set, when there is no such entry.
    virtual bool First(ProcessEntry& entry) = 0;
    virtual bool Next(ProcessEntry& entry) = 0;
};

// An open process handle; closed when the object goes.
class IProcess {
public:
    virtual ~IProcess() = default;
    // The full paths of the loaded modules, the executable's first
    // (EnumProcessModules with GetModuleFileNameExW on each). Needs query
    // and memory-read access. Returns a Windows error code, 0 on success.
    virtual uint32_t ModulePaths(std::vector<std::wstring>& paths) = 0;
    // The full path of the executable (QueryFullProcessImageNameW). Unlike
    // the module list it can be read of a process of either bitness: a
    // 32-bit process on 64-bit Windows cannot list a 64-bit process's
    // modules (ERROR_PARTIAL_COPY). Needs query access. A Windows error
    // code, 0 on success.
    virtual uint32_t ImagePath(std::wstring& path) = 0;
    // TerminateProcess. Needs terminate access. A Windows error code, 0 on
    // success.
    virtual uint32_t Terminate(uint32_t exitCode) = 0;
};

// A program this process started (CreateProcessW); the process handle is
// closed when the object goes, which does not end the program.
class IStartedProcess {
public:
    virtual ~IStartedProcess() = default;
    // WaitForSingleObject on the process: 0 (WAIT_OBJECT_0) once it has
    // ended, 258 (WAIT_TIMEOUT) when it still runs after `milliseconds`.
    virtual uint32_t Wait(uint32_t milliseconds) = 0;
};

constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 258;

class IProcesses {
public:
    virtual ~IProcesses() = default;

    // CreateToolhelp32Snapshot of the processes, or why none can be taken.
    virtual Result<std::unique_ptr<IProcessSnapshot>> Snapshot() = 0;
    // EnumProcesses, however many processes there are. A Windows error
    // code, 0 on success.
    virtual uint32_t ListProcessIds(std::vector<uint32_t>& ids) = 0;
    // OpenProcess with ProcessAccess bits; error 87 when the process is
    // gone, 5 when it refuses the access.
    virtual Result<std::unique_ptr<IProcess>> Open(uint32_t id, uint32_t access) = 0;
    // WinExec on an 8-bit command line in the OEM code page. Above 31 when
    // the program started, otherwise the error it reports (2 for a missing
    // program).
    virtual uint32_t WinExec(const std::string& commandLine, uint32_t show) = 0;
    // CreateProcessW with no application name: the program is the first
    // item of `commandLine`. Handles are inherited; `hidden` starts it with
    // SW_HIDE. Error 2 for a missing program.
    virtual Result<std::unique_ptr<IStartedProcess>> CreateProcess(const std::wstring& commandLine, bool hidden) = 0;
};

}  // namespace platform
