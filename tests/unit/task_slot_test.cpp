#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "SimMachineFixture.h"
#include "common/TaskSlot.h"
#include "host/StartWhenFree.h"
#include "logging/Log.h"

namespace {

using namespace std::chrono_literals;

// A task of the test's own: it stores an input, waits until the test lets it
// finish, and reports once at its end.
struct ToyTask {
    explicit ToyTask(FinalReportOrder order) : slot(platform::Os().Process(), order, L"ERR:toy task is running\n") {}

    bool Start(int newInput, std::function<void()> onFinalReport = [] {}) {
        return slot.Start([this, newInput] { input = newInput; },
                          [this] { release.get_future().wait(); },
                          [onFinalReport = std::move(onFinalReport)](const TaskEnd&) { onFinalReport(); });
    }

    TaskSlot slot;
    int input = 0;
    std::promise<void> release;
};

class TaskSlotTest : public LoggedMachineTest {
protected:
};

TEST_F(TaskSlotTest, SecondStartIsRefusedWithItsLineAndLeavesInputsAlone) {
    ToyTask task(FinalReportOrder::ReportThenRelease);
    ASSERT_TRUE(task.Start(1));
    EXPECT_TRUE(task.slot.IsRunning());
    EXPECT_FALSE(task.Start(2));
    EXPECT_EQ(task.input, 1);
    EXPECT_NE(LoadTimeLog().find(" ERR:toy task is running\n\n"),
              std::string::npos);

    task.release.set_value();
    task.slot.WaitIdle();
    task.release = std::promise<void>();
    EXPECT_TRUE(task.Start(3));
    EXPECT_EQ(task.input, 3);
    task.release.set_value();
    task.slot.WaitIdle();
}

// Whether a new task can start from inside the final report of the previous
// one is what tells the two orders apart.
void ExpectRestartFromFinalReport(FinalReportOrder order, bool expectAccepted) {
    ToyTask task(order);
    std::promise<std::pair<bool, bool>> seen;  // (running during report, restart accepted)
    ASSERT_TRUE(task.Start(1, [&] {
        const bool running = task.slot.IsRunning();
        const bool accepted = task.slot.Start([] {}, [] {}, [](const TaskEnd&) {});
        seen.set_value({running, accepted});
    }));
    task.release.set_value();
    auto result = seen.get_future();
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    const auto [running, accepted] = result.get();
    EXPECT_EQ(running, !expectAccepted);
    EXPECT_EQ(accepted, expectAccepted);
    task.slot.WaitIdle();
}

TEST_F(TaskSlotTest, ReportThenReleaseRefusesAStartFromTheFinalReport) {
    ExpectRestartFromFinalReport(FinalReportOrder::ReportThenRelease, false);
}

TEST_F(TaskSlotTest, ReleaseThenReportAcceptsAStartFromTheFinalReport) {
    ExpectRestartFromFinalReport(FinalReportOrder::ReleaseThenReport, true);
}

TEST_F(TaskSlotTest, ConcurrentStartsLetExactlyOneThrough) {
    ToyTask task(FinalReportOrder::ReportThenRelease);
    std::atomic<int> accepted{0};
    std::vector<std::thread> starters;
    for (int i = 0; i < 8; ++i) {
        starters.emplace_back([&] {
            if (task.slot.Start([] {}, [&] { task.release.get_future().wait(); }, [](const TaskEnd&) {})) ++accepted;
        });
    }
    for (auto& t : starters) t.join();
    EXPECT_EQ(accepted.load(), 1);
    task.release.set_value();
    task.slot.WaitIdle();
}

// A host waiting for the final report wakes while the worker is still inside
// it: the next start of the same kind is refused until the worker returns.
// The report here lingers after waking the host, as a slow worker would.
TEST_F(TaskSlotTest, HostStartingRightAfterTheFinalReportRetriesUntilTheSlotIsFree) {
    const auto runToFinalReport = [](ToyTask& task) {
        std::promise<void> reported;
        EXPECT_TRUE(task.Start(1, [&] {
            reported.set_value();
            std::this_thread::sleep_for(300ms);
        }));
        task.release.set_value();
        reported.get_future().wait();
    };
    const auto startAgain = [](ToyTask& task) { return task.slot.Start([] {}, [] {}, [](const TaskEnd&) {}); };

    ToyTask once(FinalReportOrder::ReportThenRelease);
    runToFinalReport(once);
    EXPECT_FALSE(StartWhenFree([&] { return startAgain(once); }, 50ms));
    once.slot.WaitIdle();

    ToyTask retried(FinalReportOrder::ReportThenRelease);
    runToFinalReport(retried);
    EXPECT_TRUE(StartWhenFree([&] { return startAgain(retried); }));
    retried.slot.WaitIdle();
}

}  // namespace
