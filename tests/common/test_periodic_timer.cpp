#include "common/PeriodicTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace kevra;
using namespace std::chrono_literals;

namespace {
// Waits (generously) until pred holds; never asserts on speed.
template <class P>
bool eventually(P pred, std::chrono::milliseconds limit = 10s)
{
    auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}
}   // namespace

TEST(PeriodicTimer, RejectsBadArgumentsAndGivesDistinctPositiveIds)
{
    PeriodicTimer t;
    EXPECT_EQ(t.start(0, [] {}), 0);
    EXPECT_EQ(t.start(-5, [] {}), 0);
    EXPECT_EQ(t.start(10, nullptr), 0);
    int a = t.start(1000, [] {});
    int b = t.start(1000, [] {});
    EXPECT_GT(a, 0);
    EXPECT_GT(b, 0);
    EXPECT_NE(a, b);
    t.cancel(a);
    t.cancel(b);
    t.cancel(a);       // twice: ignored
    t.cancel(12345);   // unknown: ignored
    EXPECT_EQ(t.restart(a, 10), -1);
}

TEST(PeriodicTimer, TicksRepeatedlyOnItsOwnThread)
{
    PeriodicTimer t;
    std::atomic<int> ticks{0};
    std::atomic<bool> wrongThread{false};
    auto caller = std::this_thread::get_id();
    int id = t.start(2, [&] {
        if (std::this_thread::get_id() == caller || !t.onTimerThread())
            wrongThread = true;
        ticks++;
    });
    ASSERT_GT(id, 0);
    EXPECT_TRUE(eventually([&] { return ticks.load() >= 5; }));
    EXPECT_FALSE(wrongThread.load());
    EXPECT_FALSE(t.onTimerThread());
    t.cancel(id);
}

TEST(PeriodicTimer, NoTickRunsOrStartsAfterCancelReturns)
{
    PeriodicTimer t;
    std::atomic<bool> inTick{false};
    std::atomic<int> ticks{0};
    int id = t.start(1, [&] {
        inTick = true;
        std::this_thread::sleep_for(20ms);   // make a cancel likely to land mid-tick
        ticks++;
        inTick = false;
    });
    ASSERT_TRUE(eventually([&] { return inTick.load(); }));
    t.cancel(id);
    EXPECT_FALSE(inTick.load());
    int after = ticks.load();
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(ticks.load(), after);
}

TEST(PeriodicTimer, CancelFromInsideItsOwnTickDoesNotDeadlockAndIsTheLastTick)
{
    PeriodicTimer t;
    std::atomic<int> ticks{0};
    std::atomic<int> id{0};
    std::atomic<int> replacement{0};
    std::atomic<int> replacementTicks{0};
    id = t.start(2, [&] {
        if (id.load() == 0)
            return;   // ticked before start() returned its id
        ticks++;
        // Restart at a new rate from inside the tick: cancel self, start a new timer.
        t.cancel(id.load());
        replacement = t.start(3, [&] { replacementTicks++; });
    });
    ASSERT_GT(id.load(), 0);
    ASSERT_TRUE(eventually([&] { return replacementTicks.load() >= 3; }));
    EXPECT_EQ(ticks.load(), 1);
    t.cancel(replacement.load());
}

TEST(PeriodicTimer, RestartFromInsideTickKeepsIdAndChangesPeriod)
{
    PeriodicTimer t;
    std::atomic<int> ticks{0};
    std::atomic<int> id{0};
    std::atomic<int> restartResult{1};
    id = t.start(1, [&] {
        if (id.load() == 0)
            return;
        if (ticks++ == 0)
            restartResult = t.restart(id.load(), 2);
    });
    ASSERT_TRUE(eventually([&] { return ticks.load() >= 4; }));
    EXPECT_EQ(restartResult.load(), 0);
    t.cancel(id.load());
    int after = ticks.load();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(ticks.load(), after);
}

TEST(PeriodicTimer, RestartRunningOnlyWorksInsideATick)
{
    PeriodicTimer t;
    EXPECT_EQ(t.restartRunning(5), -1);
    std::atomic<int> ticks{0};
    std::atomic<int> result{1};
    int id = t.start(1, [&] {
        if (ticks++ == 0)
            result = t.restartRunning(3);
    });
    ASSERT_TRUE(eventually([&] { return ticks.load() >= 3; }));
    EXPECT_EQ(result.load(), 0);
    t.cancel(id);
}

TEST(PeriodicTimer, TwoTimersBothTickAndCancellingOneLeavesTheOther)
{
    PeriodicTimer t;
    std::atomic<int> a{0}, b{0};
    int ia = t.start(1, [&] { a++; });
    int ib = t.start(1, [&] { b++; });
    ASSERT_TRUE(eventually([&] { return a.load() >= 3 && b.load() >= 3; }));
    t.cancel(ia);
    int aAfter = a.load();
    int bNow = b.load();
    ASSERT_TRUE(eventually([&] { return b.load() >= bNow + 3; }));
    EXPECT_EQ(a.load(), aAfter);
    t.cancel(ib);
}

TEST(PeriodicTimer, DestructionWithRunningTimersJoinsCleanly)
{
    std::atomic<int> ticks{0};
    {
        PeriodicTimer t;
        t.start(1, [&] { ticks++; });
        ASSERT_TRUE(eventually([&] { return ticks.load() >= 1; }));
    }
    int after = ticks.load();
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(ticks.load(), after);
}
