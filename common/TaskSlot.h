// The start/end protocol every long task of the library shares.
//
// A task kind owns one TaskSlot. A start request claims the slot atomically;
// a request that finds a task of the same kind running is refused with the
// kind's refusal line and must leave everything the running task uses alone,
// so callers store their inputs only after the claim succeeded. The worker
// releases the slot either after its final report (check, repair, user-data
// tasks) or before it (the one-key tasks), which decides whether a host can
// start the next task from inside the final callback.
//
// Whatever happens in between, a started task ends: a body that throws
// (out of memory included) still gets its final report, as a failure, and a
// final report that throws (a host callback) still releases the slot.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/ProcessEnv.h"

enum class FinalReportOrder {
    ReportThenRelease,
    ReleaseThenReport,
};

// How a task body ended. `error` is a Windows error code for a body that
// threw: 8 (not enough memory) for an allocation failure, 1359 (internal
// error) for anything else; 0 when the body returned.
struct TaskEnd {
    bool threw = false;
    int32_t error = 0;
    std::wstring what;
};

class TaskSlot {
public:
    // Workers start on `process`'s threads.
    TaskSlot(platform::IProcessEnv& process, FinalReportOrder order, std::wstring refusalLine);
    ~TaskSlot();
    TaskSlot(const TaskSlot&) = delete;
    TaskSlot& operator=(const TaskSlot&) = delete;

    // Starts `work` on a worker thread, then `finalReport` in the order this
    // kind uses. `storeInputs` runs only once the slot is claimed, before
    // the worker exists. False when refused, when the inputs could not be
    // stored or when no thread could start; the slot is free again then.
    bool Start(const std::function<void()>& storeInputs, std::function<void()> work,
               std::function<void(const TaskEnd&)> finalReport);

    bool IsRunning() const;
    // Blocks until no task of this kind runs.
    void WaitIdle() const;
    // WaitIdle where the platform lets a thread wait for workers (never
    // inside a Windows loader lock); what the destructor does.
    void WaitBeforeDestruction() const;

private:
    bool Claim();
    void Release();
    void RunWorker(std::function<void()>& work, std::function<void(const TaskEnd&)>& finalReport);

    platform::IProcessEnv& process_;
    const FinalReportOrder order_;
    const std::wstring refusalLine_;
    mutable std::mutex mutex_;
    mutable std::condition_variable idle_;
    bool running_ = false;
};
