// The main window recovering by itself, on the manual clock against the scripted recorder: a lost
// session is logged in again with the saved login and the camera shown is reopened, and so is a
// camera whose media connection closed; the Login button pauses the retries and Exit ends them;
// a picture that stopped is marked over the picture in full screen. (AutoReconnect=0 keeps the
// message-box flow: test_main_window.cpp.)
#include "app/LiveViewDevice.h"
#include "common/Clock.h"
#include "common/Utf.h"
#include "device/DeviceClient.h"
#include "device/support/ScriptedRecorder.h"
#include "profile/LoginSettings.h"
#include "ui/CDlgLogin.h"
#include "ui/MainWindow.h"
#include "ui/VideoArea.h"
#include "ui/support/UiTestSupport.h"

#include <QLabel>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace kevra;
using namespace kevra::test;

namespace {

// Records the live view's requests; never produces pictures.
struct OpenLog : LiveViewDevice {
    std::atomic<int> opens{0}, stops{0}, lastChannel{-1};
    void openChannel(int channel, int) override
    {
        ++opens;
        lastChannel = channel;
    }
    void stopChannel() override { ++stops; }
    void setDisplayDepth(int) override {}
    const uint8_t* pictureQuery(int& b, int&, int&) override
    {
        b = 1;
        return nullptr;
    }
    int convertedCount() const override { return 0; }
    void lowerConvertedCount() override {}
    int frameRate() const override { return 0; }
};

class RecoveryWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        boxes().clear();
        Clock::useManual();
        ASSERT_GT(recorder.start(), 0);
        recorder.answerLogin(ScriptedRecorder::LoginAnswer{});
        recorder.answerList(RecorderMessages::buildListReply({"Gate", "Lobby"}));
        settings = fromUtf8(makeTempDir() + "/login.ini");
        LoginSettings::save(settings, u"127.0.0.1", fromUtf8(std::to_string(recorder.port())),
                            u"admin", u"580317");
    }
    void TearDown() override
    {
        if (w) {
            if (CDlgLogin* d = w->loginDialog())
                d->applyLoginResult(0);
            pump(10);
            w.reset();
        }
        client.shutdown();
        Clock::useReal();
    }
    // The window after a login by hand (the dialog told it succeeded) playing camera "Lobby".
    void startPlaying()
    {
        w = std::make_unique<MainWindow>(client, &device, 32);
        w->show();
        ASSERT_TRUE(waitUntil([&] { return w->loginDialog() != nullptr; }));
        w->loginDialog()->setSettingsPath(settings);
        w->loginDialog()->applyLoginResult(0);
        const std::vector<uint8_t> block{'G', 'a', 't', 'e', 0, 0, 'L', 'o', 'b', 'b', 'y', 0};
        std::thread([&] { w->viewer().onList(0, block.data(), int(block.size()), 2); }).join();
        ASSERT_TRUE(waitUntil([&] { return w->tree()->topLevelItemCount() == 1; }));
        QTreeWidgetItem* lobby = w->tree()->topLevelItem(0)->child(1);
        emit w->tree()->itemClicked(lobby, 0);
        std::thread([&] { w->viewer().onChannel(1, 0); }).join();
        ASSERT_TRUE(waitUntil([&] { return w->liveView().timerId() > 0; }));
    }
    void loseSession()
    {
        std::thread([&] { w->viewer().onConnectionLost(); }).join();
        pump(50);
    }
    // Lets the window's recovery timer see the clock moved on.
    void advance(uint64_t ms)
    {
        Clock::advance(ms);
        pump(2 * Viewer::kPollMs);
    }
    QString status() const { return w->statusLine()->text(); }

    ScriptedRecorder recorder;
    DeviceClient client;
    OpenLog device;
    std::u16string settings;
    std::unique_ptr<MainWindow> w;
};

TEST_F(RecoveryWindowTest, LostSessionLogsInAgainBySelfAndReopensTheCameraShown)
{
    startPlaying();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(w->liveView().toggleFullScreen());
    loseSession();
    EXPECT_TRUE(boxes().empty()) << "no dialog that waits for OK";
    EXPECT_EQ(w->loginDialog(), nullptr);
    EXPECT_EQ(device.stops, 1);
    EXPECT_TRUE(status().startsWith(lang(u"D_DIS"))) << status().toStdString();
    EXPECT_TRUE(status().contains("1 s (attempt 1)")) << status().toStdString();
    // Full screen has no status line: the notice over the picture tells both.
    Clock::advance(3000);   // ... and that no picture came for 3 s
    EXPECT_TRUE(w->videoNotice().startsWith("No picture for 3 s\n"))
        << w->videoNotice().toStdString();
    EXPECT_TRUE(w->videoNotice().contains(lang(u"D_DIS")));
    pump(2 * Viewer::kPollMs);
    EXPECT_EQ(w->videoArea()->paintedNotice(), w->videoNotice());
    EXPECT_EQ(recorder.connectionCount(), 1) << "the first try is due 1 s after the loss";

    // The recorder answers the login and the list: the same camera (channel 1) opens again,
    // in full screen still.
    ASSERT_TRUE(waitUntil([&] { return device.opens == 2; }));
    EXPECT_EQ(device.lastChannel, 1);
    EXPECT_EQ(status(), lang(u"OPENING_V"));
    EXPECT_TRUE(w->liveView().fullScreen());
    EXPECT_FALSE(w->recovery().sessionRecovering());
    EXPECT_TRUE(boxes().empty());
    advance(60000);
    EXPECT_EQ(recorder.connectionCount(), 1);
}

TEST_F(RecoveryWindowTest, ClosedCameraConnectionIsReopenedAndTheStatusLineSaysSo)
{
    startPlaying();
    ASSERT_FALSE(HasFatalFailure());
    std::thread([&] { w->viewer().onChannelClosed(1); }).join();
    w->viewer().postStatus(u"BUFFERING");   // the live view's own texts wait while it is reopened
    pump(50);
    EXPECT_EQ(status(), "Camera connection lost. Reopening in 1 s (attempt 1)");
    advance(1000);
    EXPECT_EQ(device.opens, 2);
    EXPECT_EQ(device.lastChannel, 1);
    EXPECT_EQ(status(), "Reopening the camera (attempt 1)...");
    std::thread([&] { w->viewer().onChannel(1, 0); }).join();
    pump(50);
    EXPECT_EQ(status(), lang(u"BUFFERING"));
    EXPECT_FALSE(w->recovery().channelRecovering(1));
    EXPECT_TRUE(boxes().empty());
}

TEST_F(RecoveryWindowTest, LoginButtonPausesTheRetriesAndExitEndsThem)
{
    startPlaying();
    ASSERT_FALSE(HasFatalFailure());
    loseSession();
    w->command(MainWindow::LoginCommand);
    ASSERT_NE(w->loginDialog(), nullptr);
    advance(300000);
    EXPECT_EQ(recorder.connectionCount(), 0) << "no tries while the login dialog is open";
    EXPECT_EQ(status(), lang(u"D_DIS"));

    // Login by hand in the dialog: the retries end, the camera waiting for its session is let
    // go and the camera tree comes up as after any login.
    w->loginDialog()->applyLoginResult(0);
    pump(50);
    EXPECT_FALSE(w->recovery().sessionRecovering());
    EXPECT_EQ(w->liveView().channel(), -1);
    EXPECT_FALSE(w->isVideoMode());
    advance(60000);
    EXPECT_EQ(recorder.connectionCount(), 0);

    // Exit while retries wait ends the window and the retries.
    loseSession();
    EXPECT_TRUE(w->recovery().sessionRecovering());
    w->command(MainWindow::ExitCommand);
    EXPECT_EQ(w->result(), int(QDialog::Rejected));
    EXPECT_FALSE(w->recovery().sessionRecovering());
    advance(60000);
    EXPECT_EQ(recorder.connectionCount(), 0);
}

}   // namespace
