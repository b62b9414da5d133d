#include "app/KeyTable.h"
#include "app/LiveViewDevice.h"
#include "common/Utf.h"
#include "device/support/ScriptedRecorder.h"
#include "profile/LoginSettings.h"
#include "profile/ProfileFile.h"
#include "profile/TourSettings.h"
#include "profile/ViewerSettings.h"
#include "ui/support/UiTestSupport.h"
#include "ui/BitmapButton.h"
#include "ui/CameraTree.h"
#include "ui/LoginDialog.h"
#include "ui/DisplaySurface.h"
#include "ui/HelpOverlay.h"
#include "ui/SettingsDialog.h"
#include "ui/MainWindow.h"
#include "ui/VideoArea.h"

#include <QApplication>
#include <QFontMetrics>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSpinBox>
#include <QTimer>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace kevra;
using namespace kevra::test;

namespace {

// What the streams asked of their devices.
struct Requests {
    std::atomic<int> opens{0};
    std::atomic<int> lastChannel{-2};
    std::atomic<int> stops{0};
};

// Records a stream's requests; never produces pictures.
struct QuietDevice : LiveViewDevice {
    Requests& r;
    explicit QuietDevice(Requests& requests) : r(requests) {}
    void openChannel(int channel, int) override
    {
        r.opens++;
        r.lastChannel = channel;
    }
    void stopChannel() override { r.stops++; }
    void setPixelFormat(PixelFormat) override {}
    bool takePicture(Picture&) override { return false; }
    void giveBack(const Picture&) override {}
    int buffering(int) override { return 1; }
    int frameRate() const override { return 0; }
};

struct MainWindowTest : ::testing::Test {
    ScriptedRecorder rec;
    Requests device;
    std::unique_ptr<MainWindow> w;

    void SetUp() override
    {
        boxes().clear();
        ASSERT_GT(rec.start(), 0);
        rec.answerLogin(ScriptedRecorder::LoginAnswer{});
        rec.answerKeepalive(true);
        w = std::make_unique<MainWindow>(
            [this](CameraId) { return std::make_unique<QuietDevice>(device); }, 32);
        w->show();
        ASSERT_TRUE(waitUntil([&] { return w->loginDialog() != nullptr; }));
    }
    void TearDown() override
    {
        if (LoginDialog* d = w ? w->loginDialog() : nullptr)
            d->applyLoginResult(0);   // closes it as accepted
        pump(10);
        w.reset();
    }
    // Logs in to the scripted recorder, which lists these cameras.
    void list(const std::vector<std::string>& names)
    {
        rec.answerList(RecorderMessages::buildListReply(names));
        w->viewer().logInByHand({"127.0.0.1", rec.port(), "admin", "580317"});
    }
    QTreeWidgetItem* root() { return w->tree()->topLevelItem(0); }
};

}   // namespace

TEST_F(MainWindowTest, LoginSequenceRunsAtStartAndAcceptedLoginShowsTheTree)
{
    LoginDialog* const open = w->loginDialog();
    ASSERT_NE(open, nullptr);
    w->runLoginSequence();   // Login again while it is open: the same dialog, no second one
    pump(10);
    EXPECT_EQ(w->loginDialog(), open);
    list({"Gate", "Yard", "Lobby"});
    ASSERT_TRUE(waitUntil([&] { return w->loginDialog() == nullptr; }));
    EXPECT_TRUE(w->tree()->isVisible());
    EXPECT_FALSE(w->isVideoMode());
    EXPECT_TRUE(w->treeExitButton()->isVisible());
}

TEST_F(MainWindowTest, TreeIsFilledFromUtf8NamesAndRootClickOpensNothing)
{
    list({"Gate", "大门", "Lobby"});
    ASSERT_TRUE(waitUntil([&] { return root() && root()->childCount() == 3; }));
    QTreeWidgetItem* r = root();
    // The first recorder's node: its name (here the address it was logged in to) and state.
    EXPECT_TRUE(r->text(0).endsWith(" - " + lang(u"NVR_ONLINE"))) << r->text(0).toStdString();
    ASSERT_EQ(r->childCount(), 3);
    EXPECT_EQ(r->child(0)->text(0), "Gate");
    EXPECT_EQ(r->child(1)->text(0), QString::fromUtf8("大门"));
    EXPECT_EQ(r->child(2)->text(0), "Lobby");
    EXPECT_TRUE(r->isExpanded());

    emit w->tree()->itemClicked(r, 0);
    EXPECT_EQ(device.opens.load(), 0);
    emit w->tree()->itemClicked(r->child(2), 0);
    EXPECT_EQ(device.opens.load(), 1);
    EXPECT_EQ(device.lastChannel.load(), 2);
    EXPECT_TRUE(w->isVideoMode());
    // Same camera again: back to video mode only.
    w->showTreeMode();
    emit w->tree()->itemClicked(r->child(2), 0);
    EXPECT_EQ(device.opens.load(), 1);
    EXPECT_TRUE(w->isVideoMode());

    // In video mode the arrow keys drive the camera only: the hidden tree keeps its selection.
    w->tree()->setCurrentItem(r->child(2));
    w->tree()->setFocus();
    for (Qt::Key k : {Qt::Key_Up, Qt::Key_Up, Qt::Key_Down, Qt::Key_Left})
        QTest::keyClick(keyTarget(w.get()), k);
    EXPECT_EQ(w->tree()->currentItem(), r->child(2));
}

TEST_F(MainWindowTest, KeysOpenTheHighlightedCameraLeaveFullScreenHoldMovesAndListThemselves)
{
    w->loginDialog()->applyLoginResult(0);
    ASSERT_TRUE(waitUntil([&] { return w->loginDialog() == nullptr; }));
    list({"Gate", "Yard", "Lobby"});
    ASSERT_TRUE(waitUntil([&] { return root() && root()->childCount() == 3; }));
    auto key = [&](int k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QTest::keyClick(keyTarget(w.get()), Qt::Key(k), m);
    };
    for (auto [k, channel] :
         {std::pair{Qt::Key_Return, 1}, {Qt::Key_Enter, 2}, {Qt::Key_Space, 0}}) {
        w->showTreeMode();
        w->tree()->setCurrentItem(root()->child(channel));
        w->tree()->setFocus();
        key(k);
        EXPECT_EQ(device.lastChannel.load(), channel);
        EXPECT_TRUE(w->isVideoMode());
    }
    key(Qt::Key_F);
    EXPECT_TRUE(w->playback().single().fullScreen());
    key(Qt::Key_Escape);
    EXPECT_FALSE(w->playback().single().fullScreen());
    EXPECT_TRUE(w->isVisible());

    // A held arrow key is one move: auto-repeats add nothing, the release ends it.
    QWidget* target = keyTarget(w.get());
    QTest::keyPress(target, Qt::Key_Right);
    EXPECT_TRUE(w->ptzHold().held());
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(target, &repeat);
    QTest::keyRelease(target, Qt::Key_Right);
    EXPECT_FALSE(w->ptzHold().held());

    // The help lists exactly the key table, in the user's language.
    key(Qt::Key_Question, Qt::ShiftModifier);
    HelpOverlay* help = w->helpOverlay();
    ASSERT_TRUE(help->isVisible());
    size_t rows = 0;
    for (const KeyTable::Section& s : KeyTable::sections()) {
        EXPECT_TRUE(help->lines().contains("[" + lang(s.titleKey) + "]"));
        for (const KeyTable::Binding* b : s.bindings) {
            EXPECT_TRUE(help->lines().contains(QString::fromStdU16String(KeyTable::keysText(*b)) +
                                               "\t" + lang(b->textKey)));
            ++rows;
        }
    }
    EXPECT_EQ(size_t(help->lines().size()), rows + KeyTable::sections().size());
    key(Qt::Key_Down);   // scrolls
    EXPECT_TRUE(help->isVisible());
    key(Qt::Key_X);
    EXPECT_FALSE(help->isVisible());
    EXPECT_TRUE(w->isVisible());
}

TEST_F(MainWindowTest, SettingsDialogWritesTheProfileFilesAndAppliesAtOnce)
{
    w->loginDialog()->applyLoginResult(0);
    ASSERT_TRUE(waitUntil([&] { return w->loginDialog() == nullptr; }));
    const std::string clips = makeTempDir();
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<SettingsDialog*>(QApplication::activeModalWidget());
        if (!d)
            return;
        seen = true;
        EXPECT_EQ(d->tileStreamBox()->value(), 1);
        EXPECT_TRUE(d->reconnectBox()->isChecked());
        d->tileStreamBox()->setValue(2);
        d->reconnectBox()->setChecked(false);
        d->clipFolderField()->setText(QString::fromStdString(clips));
        d->languageBox()->setCurrentIndex(2);
        d->dwellBox()->setValue(25);
        d->accept();
    });
    QTest::keyClick(keyTarget(w.get()), Qt::Key_F10);
    ASSERT_TRUE(seen);
    const ViewerSettings s = ViewerSettings::load(w->viewer().loginSettingsPath());
    EXPECT_EQ(s.tileStream, 2);
    EXPECT_EQ(s.singleStream, 1);
    EXPECT_FALSE(s.autoReconnect);
    EXPECT_EQ(s.language, u"chn");
    EXPECT_EQ(w->viewer().recordings().folder(), clips) << "applied without a restart";
    const std::u16string login = w->viewer().loginSettingsPath();
    EXPECT_EQ(TourSettings::load(login.substr(0, login.rfind(u'/') + 1) + u"views.ini").dwellS, 25);
}

TEST_F(MainWindowTest, AnEmptyListLeavesTheRecorderWithoutCameras)
{
    list({});
    ASSERT_TRUE(
        waitUntil([&] { return root() && root()->text(0).endsWith(" - " + lang(u"NVR_ONLINE")); }));
    EXPECT_EQ(root()->childCount(), 0);
}

TEST_F(MainWindowTest, LayoutFollowsTheFontMetrics)
{
    const auto& r = w->layoutValues();
    const QFontMetrics bar(w->button(MainWindow::LoginCommand)->font());
    EXPECT_EQ(r.barHeight, bar.height() + 12);
    EXPECT_EQ(r.titleHeight, QFontMetrics(w->font()).height() + 12);
    EXPECT_EQ(w->button(MainWindow::ExitCommand)->geometry(),
              QRect(r.videoBar[4].left, r.videoBar[4].top, r.videoBar[4].width(),
                    r.videoBar[4].height()));
    EXPECT_EQ(w->videoArea()->geometry(), QRect(r.normalVideo.left, r.normalVideo.top,
                                                r.normalVideo.width(), r.normalVideo.height()));
    EXPECT_EQ(w->statusLine()->y(), r.titleHeight);
    EXPECT_EQ(w->button(MainWindow::DirLabelCommand)->width(), r.labelWidth);
}

TEST_F(MainWindowTest, PanelLabelsCycleTheirModes)
{
    BitmapButton* dir = w->button(MainWindow::DirLabelCommand);
    BitmapButton* lens = w->button(MainWindow::LensLabelCommand);
    EXPECT_EQ(dir->text(), lang(u"UP_DOWN"));
    EXPECT_EQ(lens->text(), lang(u"ZOOM"));
    w->command(MainWindow::DirLabelCommand);
    EXPECT_EQ(dir->text(), lang(u"LEFT_RIGHT"));
    EXPECT_EQ(w->directionMode(), 1);
    w->command(MainWindow::LensLabelCommand);
    EXPECT_EQ(lens->text(), lang(u"IRIS"));
    w->command(MainWindow::LensLabelCommand);
    w->command(MainWindow::LensLabelCommand);
    EXPECT_EQ(lens->text(), lang(u"ZOOM"));
    // No camera: arrows, keys and the video area do nothing.
    EXPECT_FALSE(w->handleArrowKey(Qt::Key_Up));
    w->toggleFullScreen();
    EXPECT_FALSE(w->playback().single().fullScreen());
}

TEST_F(MainWindowTest, AboutBoxAndStatusTexts)
{
    w->showAbout();
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].caption, lang(u"ABOUT"));
    EXPECT_EQ(boxes()[0].text,
              "KEVRA\n" + lang(u"VERSION") + "1.00.2\n" + lang(u"BUILD") + " : 2010-10-22\n");

    std::thread timer([&] {
        w->viewer().postStatus(u"BUFFERING");
        w->viewer().postStatus(u"PLAYING");
    });
    timer.join();
    ASSERT_TRUE(waitUntil([&] { return w->statusLine()->text() == lang(u"PLAYING"); }));
}

TEST_F(MainWindowTest, ConnectionLossWithAutoReconnectOffShowsTheMessageAndTheLoginAgain)
{
    const std::u16string settings = fromUtf8(makeTempDir() + "/login.ini");
    ProfileFile::WriteString(LoginSettings::kSection, LoginSettings::kAutoReconnectKey, u"0",
                             settings);
    w->loginDialog()->setSettingsPath(settings);
    w->loginDialog()->applyLoginResult(0);
    ASSERT_TRUE(waitUntil([&] { return w->loginDialog() == nullptr; }));
    list({"Gate"});
    ASSERT_TRUE(waitUntil([&] { return root() && root()->childCount() == 1; }));
    emit w->tree()->itemClicked(root()->child(0), 0);
    rec.stop();   // the recorder goes away
    ASSERT_TRUE(waitUntil([&] { return w->loginDialog() != nullptr; }));
    ASSERT_FALSE(boxes().empty());
    EXPECT_EQ(boxes().back().text, lang(u"D_DIS"));
    EXPECT_EQ(w->viewer().singleChannel(), -1);
    EXPECT_EQ(w->statusLine()->text(), lang(u"STOP"));
}

TEST_F(MainWindowTest, ConfirmAndCancelKeysDoNotEndTheProgram)
{
    w->loginDialog()->applyLoginResult(0);
    ASSERT_TRUE(waitUntil([&] { return w->loginDialog() == nullptr; }));
    QTest::keyClick(keyTarget(w.get()), Qt::Key_Escape);
    QTest::keyClick(keyTarget(w.get()), Qt::Key_Return);
    EXPECT_TRUE(w->isVisible());
    bool finished = false;
    QObject::connect(w.get(), &QDialog::finished, [&] { finished = true; });
    w->close();   // closing the window does what EXIT does
    ASSERT_TRUE(waitUntil([&] { return finished; }));
}

TEST_F(MainWindowTest, CancelledLoginEndsTheWindow)
{
    bool finished = false;
    QObject::connect(w.get(), &QDialog::finished, [&] { finished = true; });
    w->loginDialog()->onCancelCommand();
    ASSERT_TRUE(waitUntil([&] { return finished; }));
    EXPECT_FALSE(w->isVisible());
}

TEST_F(MainWindowTest, AnOpenLoginDialogGoesWithTheWindow)
{
    const QPointer<LoginDialog> open = w->loginDialog();
    ASSERT_FALSE(open.isNull());
    w.reset();
    EXPECT_TRUE(open.isNull());
}

// Keys typed after a dialog or menu over the window closes reach the window at once, delivered
// as the platform delivers them (to the window, whichever widget kept its focus): Esc leaves the
// camera tree, 4 shows the grid, 1 one camera again.
TEST_F(MainWindowTest, KeysWorkAfterEveryDialogAndMenu)
{
    w->loginDialog()->applyLoginResult(0);
    ASSERT_TRUE(waitUntil([&] { return w->loginDialog() == nullptr; }));
    list({"Gate", "Yard"});
    ASSERT_TRUE(waitUntil([&] { return root() && root()->childCount() == 2; }));
    // Closes the dialog or menu that opens next, as the user would, once it is up.
    auto closeNext = [](std::function<void(QWidget*)> close) {
        auto* t = new QTimer;
        QObject::connect(t, &QTimer::timeout, [t, close] {
            QWidget* up = QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                            : QApplication::activeModalWidget();
            if (!up)
                return;
            t->deleteLater();
            close(up);
        });
        t->start(5);
    };
    auto done = [](int result) {
        return [result](QWidget* d) { qobject_cast<QDialog*>(d)->done(result); };
    };
    auto typeInto = [](QWidget* d) {   // a changed field, then OK
        auto* s = qobject_cast<SettingsDialog*>(d);
        s->dwellBox()->setFocus();
        QTest::keyClicks(s->dwellBox(), "7");
        s->accept();
    };
    auto escape = [](QWidget* d) { QTest::keyClick(d, Qt::Key_Escape); };
    const struct {
        const char* what;
        std::function<void(QWidget*)> close;
        std::function<void()> open;
    } cases[] = {
        {"recorders, OK", done(QDialog::Accepted), [&] { w->cameraTree()->onRecorderList(); }},
        {"recorders, Esc", escape, [&] { w->cameraTree()->onRecorderList(); }},
        {"tree menu, Esc", escape,
         [&] { emit w->tree()->customContextMenuRequested(QPoint(4, 4)); }},
        {"settings, a field changed", typeInto,
         [&] { QTest::keyClick(w->windowHandle(), Qt::Key_F10); }},
        {"settings, cancelled", done(QDialog::Rejected),
         [&] { QTest::keyClick(w->windowHandle(), Qt::Key_F10); }},
        {"picture menu, Esc", escape,
         [&] { emit w->videoArea()->menuRequested(w->mapToGlobal(QPoint(50, 50))); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        w->showTreeMode();
        w->tree()->setFocus();
        closeNext(c.close);
        c.open();
        ASSERT_TRUE(waitUntil([] {
            return !QApplication::activeModalWidget() && !QApplication::activePopupWidget();
        }));
        pump(20);
        QTest::keyClick(w->windowHandle(), Qt::Key_Escape);
        EXPECT_TRUE(w->isVideoMode());
        QTest::keyClick(w->windowHandle(), Qt::Key_4);
        EXPECT_TRUE(w->gridShown());
        QTest::keyClick(w->windowHandle(), Qt::Key_1);
        EXPECT_FALSE(w->gridShown());
    }
}
