// The calling process itself: its image and module paths, threads, clocks,
// the thread's last error, and guarded execution of code that may fault.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Types.h"

namespace platform {

// How a guarded run ended.
struct GuardOutcome {
    enum class End {
        kReturned,   // the code ran to its end
        kException,  // an exception ended it; `exceptionCode` says which
        kRefused,    // the code was not run; `refusal` says why
    };
    End end = End::kReturned;
    uint32_t exceptionCode = 0;
    const wchar_t* refusal = L"";  // a static text

    bool Returned() const { return end == End::kReturned; }
    static GuardOutcome Exception(uint32_t code) { return {End::kException, code, L""}; }
    static GuardOutcome Refused(const wchar_t* why) { return {End::kRefused, 0, why}; }
};

// The code a C++ exception compiled by Microsoft's compiler raises; the
// simulated machine reports a C++ exception out of guarded code with it too.
inline constexpr uint32_t kCxxExceptionCode = 0xE06D7363;

class IProcessEnv {
public:
    virtual ~IProcessEnv() = default;

    // GetModuleFileNameW(NULL): the host program's executable.
    virtual std::wstring ExecutablePath() = 0;
    // The file of the module that holds the library's own code.
    virtual std::wstring LibraryModulePath() = 0;
    // GetCurrentProcessId.
    virtual uint32_t CurrentProcessId() = 0;
    // ExpandEnvironmentStringsW: every "%NAME%" of a variable of the process
    // replaced by its value; unknown names are left as they stand.
    virtual std::wstring ExpandEnvironmentStrings(const std::wstring& text) = 0;

    // GetLastError of the calling thread as the last seam call left it.
    virtual uint32_t LastError() = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
    virtual uint32_t TickCount() = 0;
    virtual LocalTime Now() = 0;
    // FileTimeToLocalFileTime then FileTimeToSystemTime: the calendar time
    // in the machine's time zone of a UTC FILETIME (100 ns since 1601).
    // False when Windows cannot convert it.
    virtual bool FileTimeToLocalTime(uint64_t fileTime, LocalTime& local) = 0;
    // SystemTimeToFileTime: the FILETIME of a calendar time, taken as it is
    // (no time zone is applied). False for a date Windows rejects.
    virtual bool SystemTimeToFileTime(const LocalTime& time, uint64_t& fileTime) = 0;
    // The C runtime's _localtime64: the local calendar time of seconds since
    // 1970 (UTC). False for a time it refuses (before 1970, among others).
    virtual bool UnixTimeToLocalTime(int64_t seconds, LocalTime& local) = 0;

    // Starts a worker thread (CreateThread). The library stays loaded while
    // the worker runs. False when no thread could be created.
    virtual bool StartThread(std::function<void()> body) = 0;
    // Whether code may block until workers end while the library unloads.
    virtual bool MayWaitForWorkersAtUnload() = 0;
    // Blocks until every worker started by StartThread has ended, apart
    // from the calling thread when it is one of them.
    virtual void WaitForWorkers() = 0;

    // Runs `body` so that any exception it leaves unhandled (a hardware
    // fault, a raised code, a C++ exception, a stack overflow) ends `body`
    // instead of the process. When the guard cannot be set up on this
    // thread, `body` is not run at all.
    virtual GuardOutcome RunGuarded(void (*body)(void*), void* context) = 0;
};

}  // namespace platform
