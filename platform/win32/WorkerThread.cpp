#include "platform/win32/WorkerThread.h"

#include <memory>
#include <utility>

#include "platform/win32/ModuleFile.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WinApi.h"

namespace platform::win32 {

namespace {

struct WorkerJob {
    std::function<void()> body;
    ModuleReference pin;
};

// Everything owned by the job, the body's captures included, is destroyed
// here, while the module is still pinned; only the module handle survives.
HMODULE RunJob(void* parameter) {
    std::unique_ptr<WorkerJob> job(static_cast<WorkerJob*>(parameter));
    const HMODULE pinned = job->pin.Release();
    try {
        job->body();
    } catch (...) {
        // Nobody is left to hear about it; the thread must still end cleanly
        // and give its module reference back.
    }
    return pinned;
}

DWORD WINAPI WorkerEntry(LPVOID parameter) {
    const HMODULE pinned = RunJob(parameter);
    // Releasing the last reference may unmap the code this thread runs, so
    // the release and the thread's end must be one call that never returns
    // here.
    ::FreeLibraryAndExitThread(pinned, 0);
}

}  // namespace

bool StartWorkerThread(std::function<void()> body) {
    auto job = std::make_unique<WorkerJob>();
    job->body = std::move(body);
    // The pin is taken before the thread exists: taken by the thread itself,
    // the library could be unloaded before the thread's first instruction.
    job->pin = PinBackEndModule();
    if (!job->pin) return false;
    const KernelHandle thread(::CreateThread(nullptr, 0, &WorkerEntry, job.get(), 0, nullptr));
    if (!thread) return false;
    job.release();  // the worker owns it now
    return true;
}

}  // namespace platform::win32
