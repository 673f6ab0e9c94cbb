#include "platform/win32/Win32Processes.h"

// The psapi.dll entry points rather than the K32 ones kernel32 gained in
// Windows 7, so the library still loads on older systems.
#define PSAPI_VERSION 1
#include <psapi.h>
#include <tlhelp32.h>

#include "platform/win32/GrowingBuffer.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WinError.h"

namespace platform::win32 {

namespace {

// Paths may reach the 32767-character limit of the W functions; the cap
// only stops a runaway loop.
constexpr size_t kLongestModulePath = 65536;
// Module and process lists grow while they are read; past this many
// retries something is wrong rather than busy.
constexpr int kMaxListAttempts = 16;

class Win32ProcessSnapshot final : public IProcessSnapshot {
public:
    explicit Win32ProcessSnapshot(FileHandle snapshot) : snapshot_(std::move(snapshot)) {}

    bool First(ProcessEntry& entry) override { return Read(::Process32FirstW, entry); }
    bool Next(ProcessEntry& entry) override { return Read(::Process32NextW, entry); }

private:
    using Step = BOOL(WINAPI*)(HANDLE, LPPROCESSENTRY32W);

    bool Read(Step step, ProcessEntry& entry) {
        PROCESSENTRY32W record{};
        record.dwSize = sizeof(record);
        if (!step(snapshot_.Get(), &record)) return false;
        entry.id = record.th32ProcessID;
        entry.exeFile = record.szExeFile;
        return true;
    }

    FileHandle snapshot_;
};

// GetModuleFileNameExW without a length cap; empty when Windows cannot tell
// (the module was unloaded meanwhile). A cut-short name may come back one
// short of the buffer, so only a shorter one counts as whole.
std::wstring ModulePath(HANDLE process, HMODULE module) {
    auto path = ReadIntoGrowingBuffer<std::wstring>(
        MAX_PATH,
        [&](wchar_t* buffer, size_t size) {
            const DWORD length = ::GetModuleFileNameExW(process, module, buffer, static_cast<DWORD>(size));
            if (length == 0) return BufferFill::Failed(::GetLastError());
            return length < size - 1 ? BufferFill::Whole(length) : BufferFill::Truncated();
        },
        BufferLimit{kLongestModulePath});
    return path ? path.Take() : std::wstring();
}

class Win32Process final : public IProcess {
public:
    explicit Win32Process(KernelHandle process) : process_(std::move(process)) {}

    uint32_t ModulePaths(std::vector<std::wstring>& paths) override {
        int retries = 0;
        const auto modules = ReadIntoGrowingBuffer<std::vector<HMODULE>>(1024, [&](HMODULE* list, size_t count) {
            const DWORD bytes = static_cast<DWORD>(count * sizeof(HMODULE));
            DWORD needed = 0;
            if (!::EnumProcessModules(process_.Get(), list, bytes, &needed)) {
                return BufferFill::Failed(::GetLastError());
            }
            if (needed <= bytes) return BufferFill::Whole(needed / sizeof(HMODULE));
            if (++retries > kMaxListAttempts) return BufferFill::Failed(ERROR_PARTIAL_COPY);
            // Room for what loaded since, too.
            return BufferFill::NeedsSize(needed / sizeof(HMODULE) + 64);
        });
        if (!modules) return modules.Error();
        paths.clear();
        // Every entry is kept, an unreadable one as an empty path, so the
        // first path stays the executable's.
        for (HMODULE module : *modules) paths.push_back(ModulePath(process_.Get(), module));
        return ERROR_SUCCESS;
    }

    uint32_t ImagePath(std::wstring& path) override {
        const auto image = ReadIntoGrowingBuffer<std::wstring>(MAX_PATH, [&](wchar_t* buffer, size_t size) {
            DWORD length = static_cast<DWORD>(size);
            if (::QueryFullProcessImageNameW(process_.Get(), 0, buffer, &length)) return BufferFill::Whole(length);
            const DWORD error = ::GetLastError();
            if (error != ERROR_INSUFFICIENT_BUFFER || size >= kLongestModulePath) return BufferFill::Failed(error);
            return BufferFill::NeedsSize(size * 2);
        });
        if (!image) return image.Error();
        path = *image;
        return ERROR_SUCCESS;
    }

    uint32_t Terminate(uint32_t exitCode) override { return ErrorUnless(::TerminateProcess(process_.Get(), exitCode)); }

private:
    KernelHandle process_;
};

}  // namespace

Result<std::unique_ptr<IProcessSnapshot>> Win32Processes::Snapshot() {
    FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return LastErrorFailure();
    return std::make_unique<Win32ProcessSnapshot>(std::move(snapshot));
}

uint32_t Win32Processes::ListProcessIds(std::vector<uint32_t>& ids) {
    // EnumProcesses never says how much it needed: a full buffer may have
    // been cut short. The list doubles kMaxListAttempts times at most.
    constexpr size_t kFirstLength = 1024;
    const auto listed = ReadIntoGrowingBuffer<std::vector<DWORD>>(
        kFirstLength,
        [](DWORD* list, size_t count) {
            const DWORD bytes = static_cast<DWORD>(count * sizeof(DWORD));
            DWORD returned = 0;
            if (!::EnumProcesses(list, bytes, &returned)) return BufferFill::Failed(::GetLastError());
            return returned < bytes ? BufferFill::Whole(returned / sizeof(DWORD)) : BufferFill::Truncated();
        },
        BufferLimit{kFirstLength << kMaxListAttempts, ERROR_INSUFFICIENT_BUFFER});
    if (!listed) return listed.Error();
    ids.assign(listed->begin(), listed->end());
    return ERROR_SUCCESS;
}

Result<std::unique_ptr<IProcess>> Win32Processes::Open(uint32_t id, uint32_t access) {
    KernelHandle process(::OpenProcess(access, FALSE, id));
    if (!process) return LastErrorFailure();
    return std::make_unique<Win32Process>(std::move(process));
}

uint32_t Win32Processes::WinExec(const std::string& commandLine, uint32_t show) {
    return ::WinExec(commandLine.c_str(), show);
}

namespace {

class Win32StartedProcess final : public IStartedProcess {
public:
    explicit Win32StartedProcess(KernelHandle process) : process_(std::move(process)) {}

    uint32_t Wait(uint32_t milliseconds) override { return ::WaitForSingleObject(process_.Get(), milliseconds); }

private:
    KernelHandle process_;
};

}  // namespace

Result<std::unique_ptr<IStartedProcess>> Win32Processes::CreateProcess(const std::wstring& commandLine, bool hidden) {
    // CreateProcessW may write into its command line, so it gets a copy.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started)) {
        return LastErrorFailure();
    }
    KernelHandle thread(started.hThread);
    return std::make_unique<Win32StartedProcess>(KernelHandle(started.hProcess));
}

}  // namespace platform::win32
