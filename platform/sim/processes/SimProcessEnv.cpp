#include "platform/sim/processes/SimProcessEnv.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/CivilDate.h"
#include "platform/KnownFolders.h"
#include <map>
#include "platform/NoDestructor.h"

#include "platform/sim/processes/FaultGuard.h"
#include "platform/sim/processes/LastError.h"
#include "platform/sim/Utf8.h"

namespace sim {

namespace {

// Every worker thread is kept joinable so that waiting for them also waits
// until they have left the library's code: after a wait the library may be
// unmapped.
class WorkerThreads {
public:
    bool Start(std::function<void()> body) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::lock_guard<std::mutex> lock(mutex_);
        JoinFinishedLocked();
        try {
            workers_.push_back({std::thread([work = std::move(body), done]() mutable {
                                    // A worker reports its own failures; one that throws
                                    // anyway must not take the host down through
                                    // std::terminate.
                                    try {
                                        work();
                                    } catch (...) {
                                    }
                                    work = nullptr;
                                    done->store(true);
                                }),
                                done});
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    void JoinAll() {
        for (;;) {
            std::vector<Worker> taken;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                taken.swap(workers_);
            }
            if (taken.empty()) return;
            for (Worker& worker : taken) {
                if (worker.thread.get_id() == std::this_thread::get_id()) {
                    worker.thread.detach();  // a worker ending the process cannot wait for itself
                } else {
                    worker.thread.join();
                }
            }
        }
    }

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    // Keeps the list as short as the number of workers still running.
    void JoinFinishedLocked() {
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (it->done->load()) {
                it->thread.join();
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex mutex_;
    std::vector<Worker> workers_;
};

WorkerThreads& Workers() {
    static platform::NoDestructor<WorkerThreads> workers;
    return *workers;
}

}  // namespace

std::wstring SimProcessEnv::ExecutablePath() {
    return machine_->Read([](const MachineState& s) { return s.hostProgram; });
}

std::wstring SimProcessEnv::LibraryModulePath() {
    return machine_->Read([](const MachineState& s) { return s.libraryModule; });
}

uint32_t SimProcessEnv::CurrentProcessId() {
    return machine_->Read([](const MachineState& s) { return s.processId; });
}

std::wstring SimProcessEnv::ExpandEnvironmentStrings(const std::wstring& text) {
    const std::map<std::wstring, std::wstring, LessNoCase> variables = machine_->Read([](const MachineState& s) {
        auto folder = [&s](int csidl) {
            const auto it = s.specialFolders.find(csidl);
            return it == s.specialFolders.end() ? std::wstring() : it->second;
        };
        const std::wstring windows = folder(platform::csidl::kWindows);
        const std::wstring profile = folder(platform::csidl::kProfile);
        std::map<std::wstring, std::wstring, LessNoCase> v = {
            {L"SystemRoot", windows},
            {L"windir", windows},
            {L"SystemDrive", windows.substr(0, 2)},
            {L"ProgramFiles", folder(platform::csidl::kProgramFiles)},
            {L"CommonProgramFiles", folder(platform::csidl::kProgramFilesCommon)},
            {L"ProgramData", folder(platform::csidl::kCommonAppData)},
            {L"ALLUSERSPROFILE", folder(platform::csidl::kCommonAppData)},
            {L"USERPROFILE", profile},
            {L"HOMEDRIVE", profile.substr(0, 2)},
            {L"HOMEPATH", profile.size() > 2 ? profile.substr(2) : std::wstring()},
            {L"APPDATA", folder(platform::csidl::kAppData)},
            {L"LOCALAPPDATA", folder(platform::csidl::kLocalAppData)},
        };
        if (s.is64Bit) {
            v[L"ProgramFiles(x86)"] = folder(platform::csidl::kProgramFilesX86);
            v[L"CommonProgramFiles(x86)"] = folder(platform::csidl::kProgramFilesCommonX86);
            v[L"ProgramW6432"] = folder(platform::csidl::kProgramFiles);
            v[L"CommonProgramW6432"] = folder(platform::csidl::kProgramFilesCommon);
        }
        const size_t cut = profile.rfind(L'\\');
        if (cut != std::wstring::npos) v[L"PUBLIC"] = profile.substr(0, cut) + L"\\Public";
        return v;
    });
    std::wstring out;
    for (size_t at = 0; at < text.size();) {
        const size_t open = text.find(L'%', at);
        const size_t close = open == std::wstring::npos ? open : text.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            out += text.substr(at);
            break;
        }
        out += text.substr(at, open - at);
        const auto found = variables.find(text.substr(open + 1, close - open - 1));
        if (found != variables.end() && !found->second.empty()) {
            out += found->second;
            at = close + 1;
        } else {
            // Windows leaves an unknown name with its signs; the closing one
            // may open the next name.
            out += text.substr(open, close - open);
            at = close;
        }
    }
    return out;
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
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
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

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsPerDay = 86400;
// Days from 1601-01-01 (FILETIME's origin) to 1970-01-01.
constexpr int64_t kDays1601To1970 = 134774;
// The latest moment _localtime64 accepts: 3000-12-31 23:59:59 UTC.
constexpr int64_t kLastLocaltime64 = 32535215999;

// Seconds since 1970 (in whatever zone) as a calendar time.
platform::LocalTime CalendarOf(int64_t seconds, int milliseconds) {
    const int64_t days = (seconds >= 0 ? seconds : seconds - (kSecondsPerDay - 1)) / kSecondsPerDay;
    const int64_t ofDay = seconds - days * kSecondsPerDay;
    platform::LocalTime time;
    platform::CivilFromDays(days, time.year, time.month, time.day);
    time.hour = static_cast<int>(ofDay / 3600);
    time.minute = static_cast<int>(ofDay / 60 % 60);
    time.second = static_cast<int>(ofDay % 60);
    time.milliseconds = milliseconds;
    return time;
}

}  // namespace

bool SimProcessEnv::FileTimeToLocalTime(uint64_t fileTime, platform::LocalTime& local) {
    const int64_t offset =
        machine_->Read([](const MachineState& s) { return s.utcOffsetMinutes; }) * 60 * kTicksPerSecond;
    // FileTimeToSystemTime takes values below 2^63 only.
    if (fileTime > static_cast<uint64_t>(INT64_MAX)) return false;
    const int64_t ticks = static_cast<int64_t>(fileTime);
    if ((offset > 0 && ticks > INT64_MAX - offset) || ticks + offset < 0) return false;
    const int64_t localTicks = ticks + offset;
    const int64_t seconds = localTicks / kTicksPerSecond - kDays1601To1970 * kSecondsPerDay;
    local = CalendarOf(seconds, static_cast<int>(localTicks % kTicksPerSecond / 10000));
    return true;
}

bool SimProcessEnv::SystemTimeToFileTime(const platform::LocalTime& time, uint64_t& fileTime) {
    if (time.year < 1601 || time.year > 30827 || time.month < 1 || time.month > 12 || time.day < 1 ||
        time.day > platform::DaysInMonth(time.year, time.month) || time.hour < 0 || time.hour > 23 || time.minute < 0 ||
        time.minute > 59 || time.second < 0 || time.second > 59 || time.milliseconds < 0 || time.milliseconds > 999) {
        return false;
    }
    const int64_t days = platform::DaysFromCivil(time.year, time.month, time.day) + kDays1601To1970;
    const int64_t seconds = days * kSecondsPerDay + time.hour * 3600 + time.minute * 60 + time.second;
    fileTime = static_cast<uint64_t>(seconds * kTicksPerSecond + int64_t{time.milliseconds} * 10000);
    return true;
}

bool SimProcessEnv::UnixTimeToLocalTime(int64_t seconds, platform::LocalTime& local) {
    if (seconds < 0 || seconds > kLastLocaltime64) return false;
    const int64_t offset = machine_->Read([](const MachineState& s) { return s.utcOffsetMinutes; }) * int64_t{60};
    if (seconds + offset < 0) return false;
    local = CalendarOf(seconds + offset, 0);
    return true;
}

bool SimProcessEnv::StartThread(std::function<void()> body) { return Workers().Start(std::move(body)); }

bool SimProcessEnv::MayWaitForWorkersAtUnload() { return true; }

void SimProcessEnv::WaitForWorkers() { Workers().JoinAll(); }

platform::GuardOutcome SimProcessEnv::RunGuarded(void (*body)(void*), void* context) {
    return RunWithFaultGuard(body, context);
}

}  // namespace sim
