// What each one-task engine of the library shares: its task slot, the
// host's callback with its user pointer, and the report of a record to it.
// The callback and the user pointer are stored by the start request once
// the slot is claimed (SetCallback inside the inputs step of Start), so a
// refused request never touches what a running task reports to.
//
// A base class is destroyed after its derived class's members, which a
// running worker still uses: every engine's destructor calls
// WaitForTaskEnd() first.
#pragma once

#include <string>

#include "common/TaskSlot.h"
#include "include/Brisalen.h"
#include "platform/ProcessEnv.h"

template <typename Record>
class TaskEngine {
public:
    bool IsRunning() const { return task_.IsRunning(); }
    // Blocks until no task of this engine runs (tests and orderly shutdown).
    void WaitIdle() const { task_.WaitIdle(); }

protected:
    TaskEngine(platform::IProcessEnv& process, FinalReportOrder order, std::wstring refusalLine)
        : task_(process, order, std::move(refusalLine)) {}
    ~TaskEngine() = default;

    void SetCallback(TaskCallback callback, void* user) {
        callback_ = callback;
        user_ = user;
    }
    void Notify(int state, const Record& info) const {
        if (callback_ != nullptr) callback_(user_, state, &info);
    }
    TaskSlot& Task() { return task_; }
    // What the slot's own destructor does, early enough for the derived
    // class: waits for the worker where the platform lets us wait.
    void WaitForTaskEnd() const { task_.WaitBeforeDestruction(); }

private:
    TaskCallback callback_ = nullptr;
    void* user_ = nullptr;
    // Last: its destructor waits for the worker, which still reports
    // through the members above.
    TaskSlot task_;
};
