#include "common/TaskSlot.h"

#include "logging/Log.h"
#include "platform/Platform.h"

TaskSlot::TaskSlot(FinalReportOrder order, std::wstring refusalLine)
    : order_(order), refusalLine_(std::move(refusalLine)) {}

TaskSlot::~TaskSlot() {
    // The task's state dies with its owner: never pull it from under a live
    // worker when the platform lets us wait (not inside a Windows loader lock).
    if (platform::Os().Process().MayWaitForWorkersAtUnload()) WaitIdle();
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

bool TaskSlot::Start(const std::function<void()>& storeInputs, std::function<void()> work,
                     std::function<void()> finalReport) {
    if (!Claim()) {
        LOG_INFO_W(L"%s", refusalLine_);
        return false;
    }
    storeInputs();
    auto body = [this, work = std::move(work), finalReport = std::move(finalReport)] {
        try {
            work();
        } catch (...) {
            // A task body reports its own failures; an escaped exception must
            // still end the task so the next one can start.
            LOG_INFO_W(L"ERR:task ended by an unexpected exception\n");
        }
        if (order_ == FinalReportOrder::ReportThenRelease) {
            finalReport();
            Release();
        } else {
            Release();
            finalReport();
        }
    };
    if (!platform::Os().Process().StartThread(std::move(body))) {
        Release();
        return false;
    }
    return true;
}
