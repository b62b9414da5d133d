#include "app/TourScheduler.h"
#include "common/Clock.h"

#include <gtest/gtest.h>

using namespace kevra;
using Action = TourScheduler::Action;

namespace {

class TourTest : public ::testing::Test {
protected:
    void SetUp() override { Clock::useManual(); }
    void TearDown() override { Clock::useReal(); }
    TourScheduler::Step at(uint64_t ms, bool ready)
    {
        Clock::advance(ms);
        return tour.tick(Clock::nowMs(), ready);
    }
    TourScheduler tour;
};

}   // namespace

TEST_F(TourTest, NextPageOpensBeforeItsTurnAndShowsOnlyWithItsPicture)
{
    ASSERT_TRUE(tour.start(3, 0, 10, Clock::nowMs()));
    EXPECT_EQ(tour.secondsLeft(Clock::nowMs()), 10);
    EXPECT_EQ(at(7999, false).action, Action::None);
    const auto prepare = at(1, false);
    EXPECT_EQ(prepare.action, Action::Prepare);
    EXPECT_EQ(prepare.page, 1);
    EXPECT_EQ(at(1000, true).action, Action::None) << "prepared once, shown at its turn";
    EXPECT_EQ(at(1000, false).action, Action::None) << "due, but no picture yet: no black";
    const auto show = at(500, true);
    EXPECT_EQ(show.action, Action::Show);
    EXPECT_EQ(show.page, 1);
    EXPECT_EQ(tour.current(), 1);
    // The dwell counts from the switch; the last page wraps to the first.
    EXPECT_EQ(at(7999, true).action, Action::None);
    EXPECT_EQ(at(1, true).page, 2);
    EXPECT_EQ(at(2000, true).action, Action::Show);
    EXPECT_EQ(at(8000, true).page, 0);
    // A camera that never gives a picture does not stop the tour.
    EXPECT_EQ(at(2000 + TourScheduler::kReadyWaitMs - 1, false).action, Action::None);
    EXPECT_EQ(at(1, false).action, Action::Show);
}

TEST_F(TourTest, ManualChoicePausesAndResumeGivesAWholeDwell)
{
    ASSERT_TRUE(tour.start(4, 2, 10, Clock::nowMs()));
    at(8000, false);
    ASSERT_TRUE(tour.prepared());
    tour.pause();
    EXPECT_EQ(tour.state(), TourScheduler::State::Paused);
    EXPECT_FALSE(tour.prepared()) << "the prepared page is given up";
    EXPECT_EQ(at(60000, true).action, Action::None);
    tour.resume(Clock::nowMs());
    EXPECT_EQ(at(7999, true).action, Action::None);
    EXPECT_EQ(at(1, true).page, 3);
    tour.stop();
    EXPECT_EQ(at(60000, true).action, Action::None);
}

TEST_F(TourTest, NothingToTourAndDwellBounds)
{
    EXPECT_FALSE(tour.start(1, 0, 10, Clock::nowMs()));
    EXPECT_EQ(tour.state(), TourScheduler::State::Off);
    ASSERT_TRUE(tour.start(2, 7, 0, Clock::nowMs()));
    EXPECT_EQ(tour.current(), 1);
    EXPECT_EQ(tour.dwellS(), TourScheduler::kMinDwellS);
    EXPECT_EQ(TourScheduler::clampDwell(1 << 30), TourScheduler::kMaxDwellS);
}
