#include "platform/win32/Win32ProcessEnv.h"

#include <ctime>
#include <utility>

#include "platform/win32/ModuleFile.h"
#include "platform/win32/WorkerThread.h"

namespace platform::win32 {

std::wstring Win32ProcessEnv::ExecutablePath() { return ModuleFileName(nullptr); }

std::wstring Win32ProcessEnv::LibraryModulePath() {
    const HMODULE module = BackEndModule();
    if (module == nullptr) return {};
    return ModuleFileName(module);
}

uint32_t Win32ProcessEnv::CurrentProcessId() { return ::GetCurrentProcessId(); }

std::wstring Win32ProcessEnv::ExpandEnvironmentStrings(const std::wstring& text) {
    if (text.empty()) return text;
    // The size it asks for counts the terminating null; a variable may
    // change between the two calls, so ask until it fits.
    std::wstring expanded(text.size() + 1, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), &expanded[0], static_cast<DWORD>(expanded.size()));
        if (needed == 0) return text;
        if (needed <= expanded.size()) {
            expanded.resize(needed - 1);
            return expanded;
        }
        expanded.assign(needed, L'\0');
    }
    return text;
}

uint32_t Win32ProcessEnv::LastError() { return ::GetLastError(); }

void Win32ProcessEnv::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

// The 32-bit count, wrap included, is what the library has always used.
uint32_t Win32ProcessEnv::TickCount() { return ::GetTickCount(); }

namespace {

LocalTime FromSystemTime(const SYSTEMTIME& time) {
    LocalTime local;
    local.year = time.wYear;
    local.month = time.wMonth;
    local.day = time.wDay;
    local.hour = time.wHour;
    local.minute = time.wMinute;
    local.second = time.wSecond;
    local.milliseconds = time.wMilliseconds;
    return local;
}

FILETIME ToFileTime(uint64_t ticks) {
    FILETIME time{};
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

}  // namespace

LocalTime Win32ProcessEnv::Now() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return FromSystemTime(now);
}

bool Win32ProcessEnv::FileTimeToLocalTime(uint64_t fileTime, LocalTime& local) {
    const FILETIME utc = ToFileTime(fileTime);
    FILETIME localFile{};
    SYSTEMTIME system{};
    if (!::FileTimeToLocalFileTime(&utc, &localFile) || !::FileTimeToSystemTime(&localFile, &system)) return false;
    local = FromSystemTime(system);
    return true;
}

bool Win32ProcessEnv::SystemTimeToFileTime(const LocalTime& time, uint64_t& fileTime) {
    SYSTEMTIME system{};
    system.wYear = static_cast<WORD>(time.year);
    system.wMonth = static_cast<WORD>(time.month);
    system.wDay = static_cast<WORD>(time.day);
    system.wHour = static_cast<WORD>(time.hour);
    system.wMinute = static_cast<WORD>(time.minute);
    system.wSecond = static_cast<WORD>(time.second);
    system.wMilliseconds = static_cast<WORD>(time.milliseconds);
    FILETIME file{};
    if (!::SystemTimeToFileTime(&system, &file)) return false;
    fileTime = (static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    return true;
}

bool Win32ProcessEnv::UnixTimeToLocalTime(int64_t seconds, LocalTime& local) {
    const __time64_t value = seconds;
    std::tm calendar{};
    if (::_localtime64_s(&calendar, &value) != 0) return false;
    local = LocalTime{};
    local.year = calendar.tm_year + 1900;
    local.month = calendar.tm_mon + 1;
    local.day = calendar.tm_mday;
    local.hour = calendar.tm_hour;
    local.minute = calendar.tm_min;
    local.second = calendar.tm_sec;
    return true;
}

bool Win32ProcessEnv::StartThread(std::function<void()> body) { return StartWorkerThread(std::move(body)); }

// Library teardown runs inside DllMain under the loader lock, and a worker
// cannot end (its thread-detach notification needs that lock) until the
// lock is free: waiting there would hang the process.
bool Win32ProcessEnv::MayWaitForWorkersAtUnload() { return false; }

void Win32ProcessEnv::WaitForWorkers() { WaitForWorkerThreads(); }

platform::GuardOutcome Win32ProcessEnv::RunGuarded(void (*body)(void*), void* context) {
    return guard_.Run(body, context);
}

}  // namespace platform::win32
