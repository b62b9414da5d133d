// The retry schedule after a loss, the controller that recovers the session and the camera on
// it, and the stalled-picture detector, on the manual clock.
#include "session/RecoveryController.h"
#include "session/Reconnector.h"
#include "app/SessionTexts.h"
#include "app/StallDetector.h"
#include "common/Clock.h"
#include "profile/Language.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace kevra;

namespace {

class ManualClock : public ::testing::Test {
protected:
    void SetUp() override { Clock::useManual(); }
    void TearDown() override { Clock::useReal(); }
};

using ReconnectorTest = ManualClock;
using State = Reconnector::State;

TEST_F(ReconnectorTest, BackoffOneTwoFourEightSixteenThenEveryThirtySeconds)
{
    Reconnector r;
    EXPECT_FALSE(r.takeDue());
    EXPECT_EQ(r.attempt(), 0);
    r.begin();
    const int delays[] = {1, 2, 4, 8, 16, 30, 30, 30};
    int attempt = 0;
    for (const int seconds : delays) {
        ++attempt;
        ASSERT_EQ(r.state(), State::Waiting);
        EXPECT_EQ(r.attempt(), attempt);
        EXPECT_EQ(r.secondsLeft(), seconds);
        Clock::advance(seconds * 1000 - 1);
        EXPECT_FALSE(r.takeDue()) << "attempt " << attempt;
        EXPECT_EQ(r.secondsLeft(), 1);
        Clock::advance(1);
        EXPECT_TRUE(r.takeDue()) << "attempt " << attempt;
        EXPECT_FALSE(r.takeDue()) << "a due try is handed out once";
        EXPECT_EQ(r.state(), State::Trying);
        EXPECT_EQ(r.attempt(), attempt);
        EXPECT_EQ(r.secondsLeft(), 0);
        // A slow try does not shorten the next delay: it counts from the failure.
        Clock::advance(5000);
        r.failed();
    }
    EXPECT_EQ(Reconnector::delayBefore(0), 1000u);
    EXPECT_EQ(Reconnector::delayBefore(1000000), 30000u);
}

TEST_F(ReconnectorTest, SuccessAndCancelResetAndABeginWhileRunningKeepsTheSchedule)
{
    for (const bool success : {true, false}) {
        Reconnector r;
        r.begin();
        for (int i = 0; i < 3; ++i) {
            Clock::advance(Reconnector::delayBefore(i + 1));
            ASSERT_TRUE(r.takeDue());
            r.failed();
        }
        Clock::advance(3000);
        r.begin();   // a second loss report changes nothing
        EXPECT_EQ(r.attempt(), 4);
        EXPECT_EQ(r.secondsLeft(), 5);
        if (success)
            r.succeeded();
        else
            r.cancel();
        EXPECT_EQ(r.state(), State::Idle);
        EXPECT_EQ(r.attempt(), 0);
        Clock::advance(60000);
        EXPECT_FALSE(r.takeDue());
        r.begin();
        EXPECT_EQ(r.attempt(), 1);
        EXPECT_EQ(r.secondsLeft(), 1);
    }
}

// The login dialog pauses the tries whether it opens while waiting or while a try runs; a
// failure arriving during the pause keeps it, a success ends everything.
TEST_F(ReconnectorTest, PauseStopsTriesUntilResume)
{
    struct Case {
        bool duringTry;
        bool resultDuringPause;
        bool success;
    };
    const Case cases[] = {
        {false, false, false}, {true, true, false}, {true, true, true}, {true, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.duringTry << c.resultDuringPause << c.success);
        Reconnector r;
        r.begin();
        Clock::advance(1000);
        ASSERT_TRUE(r.takeDue());
        r.failed();   // attempt 2 waits 2 s
        if (c.duringTry) {
            Clock::advance(2000);
            ASSERT_TRUE(r.takeDue());
        }
        r.pause();
        EXPECT_EQ(r.state(), State::Paused);
        EXPECT_EQ(r.secondsLeft(), 0);
        if (c.resultDuringPause) {
            if (c.success) {
                r.succeeded();
                EXPECT_EQ(r.state(), State::Idle);
                continue;
            }
            r.failed();
            EXPECT_EQ(r.state(), State::Paused);
        }
        Clock::advance(120000);
        EXPECT_FALSE(r.takeDue());
        r.resume();
        const int next = c.duringTry ? 3 : 2;
        EXPECT_EQ(r.attempt(), next);
        EXPECT_EQ(r.secondsLeft(), int(Reconnector::delayBefore(next) / 1000));
        Clock::advance(Reconnector::delayBefore(next));
        EXPECT_TRUE(r.takeDue());
        EXPECT_EQ(r.attempt(), next);
    }
    Reconnector idle;
    idle.pause();
    idle.resume();
    EXPECT_EQ(idle.state(), State::Idle);
}

using StallTest = ManualClock;

TEST_F(StallTest, NoNewPictureForThreeSecondsCountsUpUntilTheNextPicture)
{
    enum Action { None, Start, Picture, Stop };
    struct Step {
        uint64_t advanceMs;
        Action action;
        int seconds;
    };
    const Step steps[] = {
        {0, None, 0},                        // not playing: never stalled
        {10000, None, 0},   {0, Start, 0},   // counts from the start until the first picture
        {2999, None, 0},    {1, None, 3},  {0, Picture, 0},   // removed with the next picture
        {1000, Picture, 0},                                   // pictures keep coming
        {2999, None, 0},    {1, None, 3},  {999, None, 3},  {1, None, 4},   // N counts up
        {56000, None, 60},  {0, Stop, 0},    // a stopped view is not stalled
        {10000, None, 0},   {0, Start, 0},   // a new start does not inherit the old picture time
        {2000, None, 0},
    };
    StallDetector d;
    int i = 0;
    for (const Step& s : steps) {
        Clock::advance(s.advanceMs);
        switch (s.action) {
        case Start: d.start(); break;
        case Picture: d.picture(); break;
        case Stop: d.stop(); break;
        case None: break;
        }
        EXPECT_EQ(d.stalledSeconds(), s.seconds) << "step " << i;
        ++i;
    }
}

// ---------------------------------------------------------------- recovery controller

// Records the tries asked for and the status row's recovery text at each change told.
struct FakeRecoveryHost : RecoveryHost {
    const RecoveryController* rc = nullptr;
    int logins = 0, reopens = 0;
    std::vector<int> channelReopens;
    std::vector<std::u16string> texts;
    void loginWithSavedSettings() override { ++logins; }
    void reopenShown() override { ++reopens; }
    void reopenChannel(int channel) override { channelReopens.push_back(channel); }
    void recoveryChanged() override { texts.push_back(SessionTexts::recovery(*rc)); }
    std::u16string text() const { return texts.empty() ? u"" : texts.back(); }
};

class RecoveryTest : public ManualClock {
protected:
    void SetUp() override
    {
        ManualClock::SetUp();
        const std::string bin = KEVRA_BIN_DIR;
        Language::setFilePath(std::u16string(bin.begin(), bin.end()) + u"/language_eng.ini");
        host.rc = &rc;
    }
    void TearDown() override
    {
        Language::setFilePath(u"");
        ManualClock::TearDown();
    }
    // Advances the clock in poll-sized steps, as the window's timer polls.
    void run(uint64_t ms)
    {
        for (uint64_t t = 0; t < ms; t += 250) {
            Clock::advance(250);
            rc.poll();
        }
    }
    FakeRecoveryHost host;
    RecoveryController rc{host};
};

TEST_F(RecoveryTest, LostSessionRetriesOnTheScheduleThenReopensWhatWasShownOnce)
{
    ASSERT_TRUE(rc.onConnectionLost());
    EXPECT_EQ(host.text(), u"Reconnecting in 1 s (try 1)");
    run(750);
    EXPECT_EQ(host.logins, 0);
    run(250);
    EXPECT_EQ(host.logins, 1);
    EXPECT_EQ(host.text(), u"Reconnecting (try 1)...");
    EXPECT_TRUE(rc.onLoginResult(-3));   // refused: the next try 2 s later
    EXPECT_EQ(host.text(), u"Reconnecting in 2 s (try 2)");
    run(1750);
    EXPECT_EQ(host.logins, 1);
    run(250);
    EXPECT_EQ(host.logins, 2);
    rc.onChannelClosed(0);   // no camera schedule while the session itself is down
    EXPECT_FALSE(rc.channelRecovering(0));
    EXPECT_TRUE(rc.onLoginResult(0));
    EXPECT_EQ(host.text(), u"");
    EXPECT_TRUE(rc.sessionRecovering());   // until the camera list is back
    EXPECT_EQ(host.reopens, 0);
    rc.onCameraList();
    EXPECT_EQ(host.reopens, 1);
    EXPECT_FALSE(rc.sessionRecovering());
    rc.onCameraList();                   // a list after a login by hand reopens nothing
    EXPECT_FALSE(rc.onLoginResult(0));   // not an answer to a try: the dialog's
    run(120000);
    EXPECT_EQ(host.logins, 2);
    EXPECT_EQ(host.reopens, 1);

    // A camera list that never comes: what was shown is reopened 10 s after the login anyway.
    rc.onConnectionLost();
    run(1000);
    EXPECT_TRUE(rc.onLoginResult(0));
    run(9750);
    EXPECT_EQ(host.reopens, 1);
    run(250);
    EXPECT_EQ(host.reopens, 2);
    rc.onCameraList();
    EXPECT_EQ(host.reopens, 2);
}

TEST_F(RecoveryTest, LoginDialogPausesTheTriesAndALoginByHandEndsThem)
{
    rc.onConnectionLost();
    run(1000);
    ASSERT_EQ(host.logins, 1);
    rc.pause();   // the dialog opens while the try's login is on its way
    EXPECT_TRUE(rc.onLoginResult(-1));
    run(300000);
    EXPECT_EQ(host.logins, 1) << "no tries while the login dialog is open";
    EXPECT_EQ(host.text(), u"Recorder connection lost.");
    rc.cancel();   // logged in by hand
    rc.resume();
    EXPECT_FALSE(rc.sessionRecovering());
    run(300000);
    EXPECT_EQ(host.logins, 1);
    EXPECT_EQ(host.reopens, 0);
    EXPECT_EQ(host.text(), u"");

    // Off: a loss is left to the caller, nothing is scheduled.
    rc.setEnabled(false);
    EXPECT_FALSE(rc.onConnectionLost());
    rc.onChannelClosed(1);
    run(60000);
    EXPECT_EQ(host.logins, 1);
    EXPECT_TRUE(host.channelReopens.empty());
}

TEST_F(RecoveryTest, ClosedCameraConnectionIsReopenedAfterOneSecondWithTheSameBackoff)
{
    rc.onChannelClosed(2);
    EXPECT_EQ(host.text(), u"Reopening in 1 s (try 1)");
    run(1000);
    EXPECT_EQ(host.channelReopens, std::vector<int>{2});
    EXPECT_EQ(host.text(), u"Reopening camera (try 1)...");
    rc.onOpenResult(1, -5);   // another channel's answer changes nothing
    rc.onOpenResult(2, -5);
    EXPECT_EQ(host.text(), u"Reopening in 2 s (try 2)");
    run(1750);
    EXPECT_EQ(host.channelReopens.size(), 1u);
    run(250);
    EXPECT_EQ(host.channelReopens.size(), 2u);
    rc.onOpenResult(2, 0);
    EXPECT_FALSE(rc.channelRecovering(2));
    EXPECT_EQ(host.text(), u"");

    // Switching away ends the schedule; a session loss ends every camera schedule.
    rc.onChannelClosed(2);
    rc.forgetChannel(2);
    rc.onChannelClosed(3);
    rc.onConnectionLost();
    EXPECT_FALSE(rc.channelRecovering(3));
    run(1000);
    EXPECT_EQ(host.channelReopens.size(), 2u);
    EXPECT_EQ(host.logins, 1);
}

}   // namespace
