// The shared handle owner and scope guard: every handle closed exactly once,
// whichever way its owner goes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <stdexcept>
#include <utility>

#include "base/ScopeExit.h"
#include "base/UniqueFd.h"
#include "base/UniqueHandle.h"

namespace {

// Counts the closes of each handle value, so a double close or a leak
// shows as a count other than one.
struct CountingTraits {
    using Handle = int;
    static std::map<int, int>& Closes() {
        static std::map<int, int> closes;
        return closes;
    }
    static Handle Invalid() { return 0; }
    static void Close(Handle handle) { ++Closes()[handle]; }
};
using Counted = base::UniqueHandle<CountingTraits>;

class UniqueHandleTest : public ::testing::Test {
protected:
    void SetUp() override { CountingTraits::Closes().clear(); }
    static int Closes(int handle) {
        const auto& closes = CountingTraits::Closes();
        const auto it = closes.find(handle);
        return it == closes.end() ? 0 : it->second;
    }
};

TEST_F(UniqueHandleTest, EveryHandleClosedOnceWhateverHappensToItsOwner) {
    {
        Counted plain(1);
        Counted moved(2);
        Counted target(std::move(moved));
        EXPECT_FALSE(moved);
        Counted assigned(3);
        assigned = std::move(target);  // closes 3, takes 2
        EXPECT_EQ(Closes(3), 1);
        EXPECT_EQ(assigned.Get(), 2);
        assigned = std::move(assigned);  // a self-move keeps the handle open
        EXPECT_EQ(Closes(2), 0);
        Counted replaced(4);
        replaced.Reset(5);
        EXPECT_EQ(Closes(4), 1);
        Counted received(6);
        *received.Receive() = 7;
        EXPECT_EQ(Closes(6), 1);
        Counted empty;
        EXPECT_FALSE(empty.Valid());
    }
    for (const int handle : {1, 2, 3, 4, 5, 6, 7}) EXPECT_EQ(Closes(handle), 1) << "handle " << handle;
    EXPECT_EQ(Closes(CountingTraits::Invalid()), 0);
}

TEST_F(UniqueHandleTest, ReleaseHandsOverWithoutClosing) {
    int released = 0;
    {
        Counted owner(8);
        released = owner.Release();
        EXPECT_FALSE(owner);
    }
    EXPECT_EQ(released, 8);
    EXPECT_EQ(Closes(8), 0);
}

TEST(BaseUniqueFd, ClosesTheDescriptorOnceAndReportsAFailedClose) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    {
        base::UniqueFd read(fds[0]);
        base::UniqueFd write(fds[1]);
        EXPECT_TRUE(base::CloseReporting(write));
        EXPECT_FALSE(write.Valid());
        EXPECT_NE(::fcntl(fds[0], F_GETFD), -1);
    }
    EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1);
    EXPECT_EQ(::fcntl(fds[1], F_GETFD), -1);
    base::UniqueFd bogus(::dup(STDERR_FILENO));
    ASSERT_TRUE(bogus.Valid());
    ::close(bogus.Get());  // closed behind the owner's back
    EXPECT_FALSE(base::CloseReporting(bogus));
}

TEST(ScopeExit, RunsOnceOnEveryWayOutUnlessDismissed) {
    int runs = 0;
    {
        base::ScopeExit guard([&runs] { ++runs; });
    }
    EXPECT_EQ(runs, 1);
    try {
        base::ScopeExit guard([&runs] { ++runs; });
        throw std::runtime_error("leave");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(runs, 2);
    {
        base::ScopeExit guard([&runs] { ++runs; });
        guard.Dismiss();
    }
    EXPECT_EQ(runs, 2);
}

}  // namespace
