#include "common/Clock.h"
#include "common/PtzHold.h"
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

TEST(PtzHold, AHeldKeyStepsAtASteadyPaceAndStopsOnRelease)
{
    using P = PtzCode;
    enum Key { Left = 1, Up, Down };   // any distinct non-zero key codes
    PtzHold h;
    EXPECT_EQ(h.due(0), std::nullopt);
    EXPECT_TRUE(h.press(Left, P::Left, 1000));
    EXPECT_EQ(h.due(1000 + PtzHold::kStepMs - 1), std::nullopt);
    EXPECT_EQ(h.due(1000 + PtzHold::kStepMs), P::Left);
    // A late timer gives one step, not a burst.
    EXPECT_EQ(h.due(1000 + 10 * PtzHold::kStepMs), P::Left);
    EXPECT_EQ(h.due(1000 + 10 * PtzHold::kStepMs + 1), std::nullopt);
    // Another key takes over; the first key's release no longer ends anything.
    h.press(Up, P::Up, 5000);
    EXPECT_FALSE(h.release(Left));
    EXPECT_EQ(h.due(5000 + PtzHold::kStepMs), P::Up);
    EXPECT_TRUE(h.release(Up));
    EXPECT_EQ(h.due(99999), std::nullopt);
    EXPECT_FALSE(h.release(Up));
    h.press(Down, P::Down, 0);
    EXPECT_TRUE(h.cancel());
    EXPECT_FALSE(h.held());
}
