// The multi-camera view in the main window against the simulated recorder: the layout key
// opens exactly the shown channels, replacing a tile's camera stops the old stream, PTZ drives
// the selected tile's camera, the view is remembered, and a lost connection stops every tile
// while the next login reopens them.
#include "app/Playback.h"
#include "common/Clock.h"
#include "common/Utf.h"
#include "device/DeviceClient.h"
#include "profile/ViewSettings.h"
#include "tools/support/RecorderProcess.h"
#include "ui/support/UiTestSupport.h"
#include "ui/support/ViewerUnderTest.h"
#include "ui/BitmapButton.h"
#include "ui/LoginDialog.h"
#include "ui/MainWindow.h"
#include "ui/TileView.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <memory>
#include <set>

using namespace kevra;
using namespace kevra::test;

namespace {

const std::vector<std::string> kFiveCameras{
    "--cameras", "Gate&&Lobby&&Parking&&Yard&&Dock", "--size", "176x144", "--fps", "25"};

struct GridViewer : ViewerUnderTest {
    // Waits until every shown tile drew a picture.
    bool allTilesPlay(int tiles)
    {
        return waitUntil(
            [&] {
                for (int p = 0; p < tiles; ++p)
                    if (window->tileView()->presentedCount(p) == 0)
                        return false;
                return true;
            },
            30000);
    }
};

// Channels whose stream was started (op start) in event lines from `from` on, in order.
std::vector<int> started(const RecorderProcess& rec, size_t from)
{
    std::vector<int> ch;
    const std::vector<std::string> ev = rec.events();
    for (size_t i = from; i < ev.size(); ++i)
        if (RecorderProcess::field(ev[i], "event") == "stream" &&
            RecorderProcess::field(ev[i], "op") == "start")
            ch.push_back(std::stoi(RecorderProcess::field(ev[i], "channel")));
    return ch;
}

}   // namespace

TEST(GridWindow, KeyFourOpensFourChannelsReplacingStopsTheOldStreamPtzFollowsTheSelection)
{
    RecorderProcess rec(kFiveCameras);
    ASSERT_TRUE(rec.start());
    GridViewer v;
    ASSERT_TRUE(v.logIn(rec.port()));
    ASSERT_FALSE(v.window->gridShown()) << "one tile by default";

    // Key 4 in the camera tree (it has the focus after login).
    size_t from = rec.events().size();
    v.window->tree()->setFocus();
    QTest::keyClick(keyTarget(v.window.get()), Qt::Key_4);
    ASSERT_TRUE(v.window->gridShown());
    EXPECT_TRUE(v.window->isVideoMode());
    ASSERT_TRUE(v.allTilesPlay(4));
    pump(500);
    EXPECT_EQ(started(rec, from), (std::vector<int>{0, 1, 2, 3}))
        << "exactly the four shown cameras";

    // Click tile 2 (camera 3): the PTZ buttons and arrow keys drive channel 2.
    const QRect tile2 = v.window->tileView()->tileRect(2);
    QTest::mouseClick(v.window->tileView(), Qt::LeftButton, {}, tile2.center());
    EXPECT_EQ(v.window->grid().selected(), 2);
    from = rec.events().size();
    v.window->button(MainWindow::DirLeftCommand)->click();
    std::string line = rec.waitFor({"\"event\":\"ptz\""}, 10000, from);
    EXPECT_EQ(RecorderProcess::field(line, "channel"), "2");
    from = rec.events().size();
    QTest::keyClick(keyTarget(v.window.get()), Qt::Key_Right);
    line = rec.waitFor({"\"event\":\"ptz\""}, 10000, from);
    EXPECT_EQ(RecorderProcess::field(line, "channel"), "2");

    // Camera 5 chosen in the tree replaces camera 3 in the selected tile.
    from = rec.events().size();
    v.window->showTreeMode();
    emit v.window->tree()->itemClicked(v.camera(4), 0);
    line = rec.waitFor({"\"event\":\"stream\"", "\"op\":\"stop\""}, 10000, from);
    EXPECT_EQ(RecorderProcess::field(line, "channel"), "2");
    ASSERT_FALSE(
        rec.waitFor({"\"event\":\"stream\"", "\"channel\":4", "\"op\":\"start\""}, 10000, from)
            .empty());
    EXPECT_EQ(started(rec, from), std::vector<int>{4}) << "the other tiles kept their streams";
    ASSERT_TRUE(v.allTilesPlay(4));

    // The view is remembered for this recorder.
    const ViewSettings saved = ViewSettings::load(
        fromUtf8(v.dir + "views.ini"), ViewSettings::recorderName(u"127.0.0.1", rec.port()));
    EXPECT_EQ(saved.layout, 4);
    EXPECT_EQ((std::vector<int>(saved.tiles.begin(), saved.tiles.begin() + 5)),
              (std::vector<int>{0, 1, 4, 3, -1}));

    // Key 1 shows the selected camera alone in the single view, its stream going on; the
    // others stop.
    QTest::keyClick(keyTarget(v.window.get()), Qt::Key_1);
    EXPECT_FALSE(v.window->gridShown());
    EXPECT_EQ(v.window->viewer().singleChannel(), 4);
    EXPECT_EQ(v.window->playback().streamCount(), 1);
    v.window->stopShow();
}

TEST(GridWindow, ConnectionLossStopsEveryTileAndTheLoginThatFollowsReopensThem)
{
    std::vector<std::string> args = kFiveCameras;
    args.insert(args.end(), {"--fault-close-session", "3"});
    RecorderProcess rec(args);
    ASSERT_TRUE(rec.start());
    boxes().clear();
    GridViewer v;
    ASSERT_TRUE(v.logIn(rec.port()));
    v.window->chooseLayout(4);
    ASSERT_EQ(v.window->playback().streamCount(), 4);
    ASSERT_FALSE(rec.waitFor({"\"event\":\"disconnect\"", "close session"}, 20000).empty());
    // The closed session is a loss at once: every tile stops, the tiles are kept, and the
    // viewer logs in again by itself and reopens the same four cameras.
    const size_t from = rec.events().size();
    EXPECT_EQ(v.window->grid().layout(), 4) << "the tiles are kept for the next login";
    ASSERT_TRUE(waitUntil(
        [&] {
            return !rec.waitFor({"\"event\":\"stream\"", "\"channel\":3", "\"op\":\"start\""}, 0,
                                from)
                        .empty();
        },
        30000));
    const std::vector<int> reopened = started(rec, from);
    EXPECT_EQ(std::set<int>(reopened.begin(), reopened.end()), (std::set<int>{0, 1, 2, 3}));
    EXPECT_TRUE(v.window->gridShown());
    v.window->stopShow();
}

TEST(GridWindow, ATileWhosePicturesStopIsMarked)
{
    std::vector<std::string> args = kFiveCameras;
    args.insert(args.end(), {"--fault-stall-media", "60000"});
    RecorderProcess rec(args);
    ASSERT_TRUE(rec.start());
    GridViewer v;
    ASSERT_TRUE(v.logIn(rec.port()));
    v.window->chooseLayout(4);
    // Every camera's media stops in the middle of a message: after 3 s each tile says so.
    ASSERT_TRUE(waitUntil(
        [&] {
            for (int p = 0; p < 4; ++p)
                if (v.window->tileNote(p).isEmpty())
                    return false;
            return true;
        },
        30000));
    EXPECT_TRUE(v.window->tileNote(4).isEmpty());
    // Back to one tile: no tile is shown, so none is marked.
    v.window->chooseLayout(1);
    EXPECT_TRUE(waitUntil([&] { return v.window->tileNote(0).isEmpty(); }, 5000));
    v.window->stopShow();
}
