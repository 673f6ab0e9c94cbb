// IProcessEnv for a process of the simulated machine: identity from the
// machine state, threads, clocks and faults from the host.
#pragma once

#include <memory>

#include "platform/ProcessEnv.h"
#include "platform/sim/Api.h"
#include "platform/sim/store/Machine.h"

namespace sim {

class SIM_API SimProcessEnv : public platform::IProcessEnv {
public:
    explicit SimProcessEnv(std::shared_ptr<Machine> machine) : machine_(std::move(machine)) {}

    std::wstring ExecutablePath() override;
    std::wstring LibraryModulePath() override;
    uint32_t CurrentProcessId() override;
    // The variables Windows sets for every process, from the machine's
    // folders; names compared without regard to case.
    std::wstring ExpandEnvironmentStrings(const std::wstring& text) override;
    uint32_t LastError() override;
    void Sleep(uint32_t milliseconds) override;
    uint32_t TickCount() override;
    platform::LocalTime Now() override;
    // The machine's time zone is MachineState::utcOffsetMinutes, one offset
    // all year round, as FileTimeToLocalFileTime applies the current one.
    bool FileTimeToLocalTime(uint64_t fileTime, platform::LocalTime& local) override;
    bool SystemTimeToFileTime(const platform::LocalTime& time, uint64_t& fileTime) override;
    bool UnixTimeToLocalTime(int64_t seconds, platform::LocalTime& local) override;
    bool StartThread(std::function<void()> body) override;
    bool MayWaitForWorkersAtUnload() override;
    void WaitForWorkers() override;
    platform::GuardOutcome RunGuarded(void (*body)(void*), void* context) override;

    // SetLastError for the calling thread.
    static void SetLastError(uint32_t error);

private:
    std::shared_ptr<Machine> machine_;
};

}  // namespace sim
