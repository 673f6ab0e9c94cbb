// The calling process: image paths, threads, clocks, last error, and
// guarded execution.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/win32/FaultGuard.h"
#include "platform/win32/WinApi.h"

#include "platform/ProcessEnv.h"

namespace platform::win32 {

class Win32ProcessEnv final : public IProcessEnv {
public:
    std::wstring ExecutablePath() override;
    std::wstring LibraryModulePath() override;
    uint32_t CurrentProcessId() override;
    std::wstring ExpandEnvironmentStrings(const std::wstring& text) override;
    uint32_t LastError() override;
    void Sleep(uint32_t milliseconds) override;
    uint32_t TickCount() override;
    LocalTime Now() override;
    bool FileTimeToLocalTime(uint64_t fileTime, LocalTime& local) override;
    bool SystemTimeToFileTime(const LocalTime& time, uint64_t& fileTime) override;
    bool UnixTimeToLocalTime(int64_t seconds, LocalTime& local) override;
    bool StartThread(std::function<void()> body) override;
    bool MayWaitForWorkersAtUnload() override;
    void WaitForWorkers() override;
    platform::GuardOutcome RunGuarded(void (*body)(void*), void* context) override;

private:
    FaultGuard guard_;
};

}  // namespace platform::win32
