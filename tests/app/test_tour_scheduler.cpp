#include "app/TourController.h"
#include "app/TourScheduler.h"
#include "common/Clock.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

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
    EXPECT_EQ(tour.dwellS(), TourSettings::kMinDwellS);
    EXPECT_EQ(TourScheduler::clampDwell(1 << 30), TourSettings::kMaxDwellS);
}

TEST_F(TourTest, GridTourPagesAndOpensTheNextPageBeforeItsTurn)
{
    TourController t;
    EXPECT_FALSE(t.start(TourController::Kind::Grid, 4, 1, 0, 10, Clock::nowMs()));
    ASSERT_TRUE(t.start(TourController::Kind::Grid, 9, 16, 12, 10, Clock::nowMs()));
    EXPECT_EQ(t.scheduler().current(), 1) << "the page holding camera 13";
    EXPECT_EQ(t.currentPage(), (std::vector<int>{9, 10, 11, 12, 13, 14, 15}));
    std::set<int> playing;
    auto ready = [&](int ch) { return playing.count(ch) > 0; };
    Clock::advance(8000);
    const auto prepare = t.poll(Clock::nowMs(), ready);
    EXPECT_TRUE(prepare.prepare);
    EXPECT_EQ(t.preparing(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    Clock::advance(2000);
    EXPECT_FALSE(t.poll(Clock::nowMs(), ready).show) << "not all of the next page plays yet";
    for (int ch = 0; ch < 9; ++ch)
        playing.insert(ch);
    EXPECT_TRUE(t.poll(Clock::nowMs(), ready).show);
    EXPECT_EQ(t.currentPage().front(), 0);
    EXPECT_TRUE(t.preparing().empty());
    t.pause();
    EXPECT_TRUE(t.paused());
    t.stop();
    EXPECT_EQ(t.kind(), TourController::Kind::None);
}
