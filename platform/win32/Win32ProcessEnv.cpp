#include "platform/win32/Win32ProcessEnv.h"

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

uint32_t Win32ProcessEnv::LastError() { return ::GetLastError(); }

void Win32ProcessEnv::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

// The 32-bit count, wrap included, is what the library has always used.
uint32_t Win32ProcessEnv::TickCount() { return ::GetTickCount(); }

LocalTime Win32ProcessEnv::Now() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    LocalTime time;
    time.year = now.wYear;
    time.month = now.wMonth;
    time.day = now.wDay;
    time.hour = now.wHour;
    time.minute = now.wMinute;
    time.second = now.wSecond;
    time.milliseconds = now.wMilliseconds;
    return time;
}

bool Win32ProcessEnv::StartThread(std::function<void()> body) { return StartWorkerThread(std::move(body)); }

// Library teardown runs inside DllMain under the loader lock, and a worker
// cannot end (its thread-detach notification needs that lock) until the
// lock is free: waiting there would hang the process.
bool Win32ProcessEnv::MayWaitForWorkersAtUnload() { return false; }

void Win32ProcessEnv::WaitForWorkers() { WaitForWorkerThreads(); }

bool Win32ProcessEnv::RunGuarded(void (*body)(void*), void* context) { return guard_.Run(body, context); }

}  // namespace platform::win32
