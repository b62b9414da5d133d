#include "common/Clock.h"
#include "common/WorkerThread.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace kevra;

TEST(Clock, RealClockIsMonotonicAndManualClockAdvancesOnlyWhenTold)
{
    Clock::useReal();
    uint64_t a = Clock::nowMs();
    uint64_t b = Clock::nowMs();
    EXPECT_LE(a, b);
    EXPECT_LE(a * 1000, Clock::nowUs());

    Clock::useManual(5000);
    EXPECT_TRUE(Clock::isManual());
    EXPECT_EQ(Clock::nowMs(), 5000u);
    Clock::advance(60'001);
    EXPECT_EQ(Clock::nowMs(), 65'001u);
    EXPECT_EQ(Clock::nowUs(), 65'001'000u);
    Clock::useReal();
    EXPECT_FALSE(Clock::isManual());
}

TEST(WorkerThread, StartsOnceJoinsAndCanStartAgain)
{
    WorkerThread t;
    std::atomic<int> runs{0};
    ASSERT_EQ(t.start([&] { runs++; }), 0);
    EXPECT_EQ(t.start([&] { runs++; }), -1);   // one thread at a time
    t.join();
    EXPECT_FALSE(t.running());
    ASSERT_EQ(t.start([&] { runs++; }), 0);
    t.join();
    EXPECT_EQ(runs.load(), 2);
    EXPECT_EQ(t.start(nullptr), -1);
}
