#include "platform/win32/WorkerThread.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/NoDestructor.h"

#include "platform/win32/ModuleFile.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/WinApi.h"

namespace platform::win32 {

namespace {

// The workers still running. A worker that waits (a host ending the process
// from inside a callback) does not wait for itself.
class RunningWorkers {
public:
    void Add() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++running_;
    }
    void Done() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --running_;
        }
        changed_.notify_all();
    }
    void WaitForNone(bool callerIsWorker) {
        const int own = callerIsWorker ? 1 : 0;
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return running_ <= own; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int running_ = 0;
};

RunningWorkers& Workers() {
    static NoDestructor<RunningWorkers> workers;
    return *workers;
}

thread_local bool t_isWorker = false;

struct WorkerJob {
    std::function<void()> body;
    ModuleReference pin;
};

// Everything owned by the job, the body's captures included, is destroyed
// here, while the module is still pinned; only the module handle survives.
HMODULE RunJob(void* parameter) {
    std::unique_ptr<WorkerJob> job(static_cast<WorkerJob*>(parameter));
    const HMODULE pinned = job->pin.Release();
    t_isWorker = true;
    try {
        job->body();
    } catch (...) {
        // Nobody is left to hear about it; the thread must still end cleanly
        // and give its module reference back.
    }
    job.reset();
    Workers().Done();
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
    Workers().Add();
    const KernelHandle thread(::CreateThread(nullptr, 0, &WorkerEntry, job.get(), 0, nullptr));
    if (!thread) {
        Workers().Done();
        return false;
    }
    job.release();  // the worker owns it now
    return true;
}

void WaitForWorkerThreads() { Workers().WaitForNone(t_isWorker); }

}  // namespace platform::win32
