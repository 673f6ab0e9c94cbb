#include "common/TaskSlot.h"

#include <exception>
#include <new>

#include "logging/Log.h"
#include "platform/Platform.h"

namespace {

constexpr int32_t kErrNotEnoughMemory = platform::kErrNotEnoughMemory;
constexpr int32_t kErrInternal = platform::kErrInternalError;

std::wstring WhatOf(const std::exception& e) { return logging::Widen(e.what()); }

// Runs the body; an escaping exception becomes a logged failure.
TaskEnd RunBody(const std::function<void()>& work) {
    TaskEnd end;
    try {
        work();
        return end;
    } catch (const std::bad_alloc&) {
        end.error = kErrNotEnoughMemory;
        end.what = L"out of memory";
    } catch (const std::exception& e) {
        end.error = kErrInternal;
        end.what = WhatOf(e);
    } catch (...) {
        end.error = kErrInternal;
        end.what = L"unknown exception";
    }
    end.threw = true;
    LOG_INFO_W(L"ERR:task ended by an exception (%s), error %d\n", end.what, end.error);
    return end;
}

// A host callback that throws must not keep the task from ending.
void RunFinalReport(const std::function<void(const TaskEnd&)>& finalReport, const TaskEnd& end) {
    try {
        finalReport(end);
    } catch (const std::exception& e) {
        LOG_INFO_W(L"ERR:final report of the task threw (%s)\n", WhatOf(e));
    } catch (...) {
        LOG_INFO_W(L"ERR:final report of the task threw\n");
    }
}

}  // namespace

TaskSlot::TaskSlot(platform::IProcessEnv& process, FinalReportOrder order, std::wstring refusalLine)
    : process_(process), order_(order), refusalLine_(std::move(refusalLine)) {}

TaskSlot::~TaskSlot() { WaitBeforeDestruction(); }

void TaskSlot::WaitBeforeDestruction() const {
    // The task's state dies with its owner: never pull it from under a live
    // worker when the platform lets us wait (not inside a Windows loader lock).
    if (process_.MayWaitForWorkersAtUnload()) WaitIdle();
}

bool TaskSlot::Claim() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) return false;
    running_ = true;
    return true;
}

void TaskSlot::Release() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
    }
    idle_.notify_all();
}

bool TaskSlot::IsRunning() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

void TaskSlot::WaitIdle() const {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return !running_; });
}

// What the task captured goes before the slot is released, while whatever
// it refers to is certainly alive.
void TaskSlot::RunWorker(std::function<void()>& work, std::function<void(const TaskEnd&)>& finalReport) {
    const TaskEnd end = RunBody(work);
    work = nullptr;
    if (order_ == FinalReportOrder::ReportThenRelease) {
        RunFinalReport(finalReport, end);
        finalReport = nullptr;
        Release();
    } else {
        Release();
        RunFinalReport(finalReport, end);
        finalReport = nullptr;
    }
}

bool TaskSlot::Start(const std::function<void()>& storeInputs, std::function<void()> work,
                     std::function<void(const TaskEnd&)> finalReport) {
    if (!Claim()) {
        LOG_INFO_W(L"%s", refusalLine_);
        return false;
    }
    try {
        storeInputs();
        auto body = [this, work = std::move(work), finalReport = std::move(finalReport)]() mutable {
            RunWorker(work, finalReport);
        };
        if (process_.StartThread(std::move(body))) return true;
        LOG_INFO_W(L"ERR:no worker thread could be started\n");
    } catch (const std::exception& e) {
        LOG_INFO_W(L"ERR:task not started (%s)\n", WhatOf(e));
    }
    Release();
    return false;
}
