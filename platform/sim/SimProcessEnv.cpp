#include "platform/sim/SimProcessEnv.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <system_error>
#include <thread>

#include "platform/sim/FaultGuard.h"
#include "platform/sim/LastError.h"

namespace sim {

std::wstring SimProcessEnv::ExecutablePath() {
    return machine_->Read([](const MachineState& s) { return s.hostProgram; });
}

std::wstring SimProcessEnv::LibraryModulePath() {
    return machine_->Read([](const MachineState& s) { return s.libraryModule; });
}

uint32_t SimProcessEnv::CurrentProcessId() {
    return machine_->Read([](const MachineState& s) { return s.processId; });
}

uint32_t SimProcessEnv::LastError() { return sim::LastError(); }

void SimProcessEnv::SetLastError(uint32_t error) { sim::SetLastError(error); }

void SimProcessEnv::Sleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint32_t SimProcessEnv::TickCount() {
    const auto elapsed = std::chrono::steady_clock::now().time_since_epoch();
    // GetTickCount wraps after 49.7 days; code above must live with that.
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

platform::LocalTime SimProcessEnv::Now() {
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local {};
    ::localtime_r(&now.tv_sec, &local);
    platform::LocalTime time;
    time.year = local.tm_year + 1900;
    time.month = local.tm_mon + 1;
    time.day = local.tm_mday;
    time.hour = local.tm_hour;
    time.minute = local.tm_min;
    time.second = std::min(local.tm_sec, 59);  // SYSTEMTIME has no leap second
    time.milliseconds = static_cast<int>(now.tv_nsec / 1000000);
    return time;
}

bool SimProcessEnv::StartThread(std::function<void()> body) {
    try {
        std::thread([work = std::move(body)] {
            // A worker reports its own failures; one that throws anyway must
            // not take the host down through std::terminate.
            try {
                work();
            } catch (...) {
            }
        }).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

bool SimProcessEnv::MayWaitForWorkersAtUnload() { return true; }

bool SimProcessEnv::RunGuarded(void (*body)(void*), void* context) { return RunWithFaultGuard(body, context); }

}  // namespace sim
