// The whole viewer against the simulated recorder on a free port: login, camera tree, live
// picture, PTZ commands, loss of the session and exit.
#include "app/LiveViewDevice.h"
#include "common/Clock.h"
#include "common/Utf.h"
#include "device/DeviceClient.h"
#include "device/Messages.h"
#include "testkit/PacketMuxer.h"
#include "tools/support/RecorderProcess.h"
#include "ui/support/UiTestSupport.h"
#include "ui/support/ViewerUnderTest.h"
#include "ui/BitmapButton.h"
#include "ui/LoginDialog.h"
#include "ui/DisplaySurface.h"
#include "ui/MainWindow.h"
#include "ui/PictureSaver.h"
#include "ui/VideoArea.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <memory>

using namespace kevra;
using namespace kevra::test;

namespace {

int threadCount()
{
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        closedir(d);
    }
    return n;
}

bool near(const QColor& c, int r, int g, int b, int tolerance)
{
    return std::abs(c.red() - r) <= tolerance && std::abs(c.green() - g) <= tolerance &&
           std::abs(c.blue() - b) <= tolerance;
}

// Share of the image's pixels within tolerance of a colour.
double share(const QImage& img, int r, int g, int b, int tolerance = 28)
{
    if (img.isNull())
        return 0;
    int hits = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (near(img.pixelColor(x, y), r, g, b, tolerance))
                ++hits;
    return double(hits) / (img.width() * img.height());
}

}   // namespace

TEST(EndToEnd, LiveVideoPtzAndCleanExit)
{
    RecorderProcess rec;
    ASSERT_TRUE(rec.start());
    const int baseline = threadCount();
    boxes().clear();
    {
        ViewerUnderTest v;
        ASSERT_TRUE(v.logIn(rec.port())) << "no camera tree";
        EXPECT_EQ(v.camera(0)->text(0), "Gate");
        EXPECT_EQ(v.camera(1)->text(0), "Lobby");

        // Camera 2 (index 1): green background (40, 160, 60), pink box (230, 80, 200).
        QElapsedTimer sinceClick;
        sinceClick.start();
        emit v.window->tree()->itemClicked(v.camera(1), 0);
        QCoreApplication::sendPostedEvents(v.window.get());   // the posted status text
        EXPECT_EQ(v.status(), lang(u"OPENING_V"));
        ASSERT_TRUE(waitUntil([&] { return v.window->surface().presentedCount() > 0; }, 30000))
            << "no picture; status " << v.status().toStdString() << " video "
            << v.window->isVideoMode() << " surface " << v.window->surface().width() << " lastdest "
            << v.window->playback().single().destination().width();
        const qint64 firstPictureMs = sinceClick.elapsed();
        ASSERT_TRUE(waitUntil([&] { return v.status() == lang(u"PLAYING"); }, 30000));
        std::printf("[ measure ] camera click to first picture: %lld ms\n",
                    (long long)firstPictureMs);

        pump(300);
        QImage shot = v.window->videoArea()->grab().toImage();
        EXPECT_GT(share(shot, 40, 160, 60), 0.15) << "camera background colour not found";
        // Nothing of the other cameras' backgrounds.
        EXPECT_LT(share(shot, 200, 40, 40), 0.01);
        EXPECT_LT(share(shot, 40, 60, 200), 0.01);
        // The picture is upright: the solid background fills the lower half of the picture.
        const Rect d = v.window->playback().single().destination();
        ASSERT_GT(d.height(), 8);
        const QPoint o = v.window->videoArea()->mapToGlobal(QPoint(0, 0));
        const int px = d.left - o.x() + d.width() / 2, lowRow = d.top - o.y() + d.height() * 7 / 8;
        EXPECT_TRUE(near(shot.pixelColor(px, lowRow), 40, 160, 60, 28));

        // Each arrow sends its code for channel 1 (the recorder logs the action byte on the wire).
        struct Press {
            int id;
            int code;
        } presses[] = {{MainWindow::DirLeftCommand, 0},
                       {MainWindow::DirRightCommand, 1},
                       {MainWindow::LensLeftCommand, 4},
                       {MainWindow::LensRightCommand, 5}};
        for (const Press& p : presses) {
            size_t from = rec.events().size();
            v.window->button(p.id)->click();
            std::string line = rec.waitFor({"\"event\":\"ptz\""}, 10000, from);
            ASSERT_FALSE(line.empty()) << "no PTZ for button " << p.id;
            EXPECT_EQ(RecorderProcess::field(line, "action"),
                      std::to_string(ptzActionCode(p.code)));
            EXPECT_EQ(RecorderProcess::field(line, "channel"), "1");
        }
        v.window->command(MainWindow::DirLabelCommand);    // left/right
        v.window->command(MainWindow::LensLabelCommand);   // iris
        struct Press more[] = {{MainWindow::DirLeftCommand, 2},
                               {MainWindow::DirRightCommand, 3},
                               {MainWindow::LensLeftCommand, 8},
                               {MainWindow::LensRightCommand, 9}};
        for (const Press& p : more) {
            size_t from = rec.events().size();
            v.window->button(p.id)->click();
            std::string line = rec.waitFor({"\"event\":\"ptz\""}, 10000, from);
            ASSERT_FALSE(line.empty());
            EXPECT_EQ(RecorderProcess::field(line, "action"),
                      std::to_string(ptzActionCode(p.code)));
        }
        // An arrow key drives the camera too.
        size_t from = rec.events().size();
        QTest::keyClick(keyTarget(v.window.get()), Qt::Key_Right);
        std::string line = rec.waitFor({"\"event\":\"ptz\""}, 10000, from);
        EXPECT_EQ(RecorderProcess::field(line, "action"), std::to_string(ptzActionCode(3)));

        // Another camera: the old picture goes at once, the recorder is told to stop the old
        // stream, and only the new camera streams.
        from = rec.events().size();
        v.window->showTreeMode();
        emit v.window->tree()->itemClicked(v.camera(0), 0);
        EXPECT_LT(share(v.window->videoArea()->grab().toImage(), 40, 160, 60), 0.01)
            << "the old camera's picture stayed";
        line = rec.waitFor({"\"event\":\"stream\"", "\"op\":\"stop\""}, 10000, from);
        EXPECT_EQ(RecorderProcess::field(line, "channel"), "1");
        ASSERT_FALSE(
            rec.waitFor({"\"event\":\"camera\"", "\"state\":\"idle\""}, 10000, from).empty())
            << "camera 2 still streams";
        ASSERT_TRUE(waitUntil(
            [&] { return share(v.window->videoArea()->grab().toImage(), 200, 40, 40) > 0.15; },
            30000));

        // EXIT ends the window.
        bool finished = false;
        QObject::connect(v.window.get(), &QDialog::finished, [&] { finished = true; });
        v.window->button(MainWindow::ExitCommand)->click();
        ASSERT_TRUE(waitUntil([&] { return finished; }));
        EXPECT_FALSE(v.window->playback().timerRunning());
    }
    pump(50);
    EXPECT_EQ(threadCount(), baseline) << "a thread outlived the viewer";
}

// An MPEG-4 Visual camera plays in the viewer like an H.264 one; a stream no decoder can show
// says so in the status line instead of buffering for ever.
TEST(EndToEnd, Mpeg4CameraPlaysAndAnUndecodableOneSaysSo)
{
    RecorderProcess rec({"--format", "avi", "--size", "352x288"});
    ASSERT_TRUE(rec.start());
    {
        ViewerUnderTest v;
        ASSERT_TRUE(v.logIn(rec.port())) << "no camera tree";
        emit v.window->tree()->itemClicked(v.camera(1), 0);
        ASSERT_TRUE(waitUntil([&] { return v.status() == lang(u"PLAYING"); }, 30000))
            << "status " << v.status().toStdString();
        pump(300);
        EXPECT_GT(share(v.window->videoArea()->grab().toImage(), 40, 160, 60), 0.15)
            << "camera background colour not found";
    }
    EXPECT_EQ(rec.stop(), 0);

    // 0x000001FE key frames: codec 3.
    PacketMuxer mux;
    std::vector<uint8_t> bytes, body(600, 0x44);
    for (int i = 0; i < 50; ++i) {
        const auto p = i % 10 == 0 ? mux.keyFrame(body, 176, 144, 25, 0, 0xFE)
                                   : mux.dependentFrame(body, 0xFC);
        bytes.insert(bytes.end(), p.begin(), p.end());
    }
    const std::string file = makeTempDir() + "codec3.bin";
    FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    RecorderProcess other({"--play", file});
    ASSERT_TRUE(other.start());
    {
        ViewerUnderTest v;
        ASSERT_TRUE(v.logIn(other.port())) << "no camera tree";
        emit v.window->tree()->itemClicked(v.camera(0), 0);
        ASSERT_TRUE(waitUntil([&] { return v.status() == lang(u"CODEC_ERR"); }, 20000))
            << "status " << v.status().toStdString();
        EXPECT_FALSE(v.status().isEmpty());
    }
    EXPECT_EQ(other.stop(), 0);
}

TEST(EndToEnd, ClosedCameraConnectionIsReopenedWhileTheSessionStays)
{
    RecorderProcess rec({"--size", "176x144", "--fault-close-media", "2"});
    ASSERT_TRUE(rec.start());
    boxes().clear();
    ViewerUnderTest v;
    ASSERT_TRUE(v.logIn(rec.port()));
    emit v.window->tree()->itemClicked(v.camera(0), 0);
    // Each media connection is closed 2 s after its claim; the viewer claims and starts the
    // camera again by itself (after 1 s), on the one session.
    const std::vector<std::string> streaming{"\"event\":\"camera\"", "\"channel\":0",
                                             "\"state\":\"streaming\""};
    EXPECT_TRUE(waitUntil([&] { return rec.count(streaming) >= 2; }, 20000));
    EXPECT_EQ(rec.count({"\"event\":\"login\""}), 1);
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(v.window->viewer().singleChannel(), 0);
}

TEST(EndToEnd, DroppedSessionIsLoggedInAgainBySelfAndTheCameraReopened)
{
    RecorderProcess rec({"--fault-close-session", "2"});
    ASSERT_TRUE(rec.start());
    boxes().clear();
    ViewerUnderTest v;
    ASSERT_TRUE(v.logIn(rec.port()));
    emit v.window->tree()->itemClicked(v.camera(0), 0);
    ASSERT_FALSE(rec.waitFor({"\"event\":\"disconnect\"", "close session"}, 20000).empty())
        << "the simulator did not drop the session";
    // Noticed at once (the recorder closed the connection), told on the status line.
    EXPECT_TRUE(waitUntil([&] { return v.status().startsWith("Reconnecting"); }, 5000))
        << v.status().toStdString();
    // Logged in again with the saved login and camera 1 streams again, with no input.
    const std::vector<std::string> streaming{"\"event\":\"camera\"", "\"channel\":0",
                                             "\"state\":\"streaming\""};
    EXPECT_TRUE(waitUntil(
        [&] { return rec.count({"\"event\":\"login\""}) >= 2 && rec.count(streaming) >= 2; },
        20000));
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(v.window->loginDialog(), nullptr);
    EXPECT_EQ(v.window->viewer().singleChannel(), 0);
}

// S saves the picture on screen as a PNG named after the camera: the decoded size, upright,
// with the camera's colours.
TEST(EndToEnd, KeySSavesTheCameraPictureAsPng)
{
    RecorderProcess rec;
    ASSERT_TRUE(rec.start());
    ViewerUnderTest v;
    ASSERT_TRUE(v.logIn(rec.port())) << "no camera tree";
    // The pictures folder of this run, not the user's own.
    const std::string config = makeTempDir(), folder = config + "pictures";
    std::ofstream(config + "user-dirs.dirs") << "XDG_PICTURES_DIR=\"" << folder << "\"\n";
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config));
    struct Restore {
        QByteArray v;
        ~Restore() { v.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", v); }
    } restore{oldConfig};
    ASSERT_EQ(PictureSaver::folder().toStdString(), folder);
    v.window->savePicture(QString::fromStdString(folder));   // nothing open yet
    EXPECT_EQ(v.status(), lang(u"NO_PIC"));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(folder))) << "made for a picture only";

    emit v.window->tree()->itemClicked(v.camera(1), 0);   // "Lobby": green with a pink box
    ASSERT_TRUE(waitUntil([&] { return v.status() == lang(u"PLAYING"); }, 30000));
    pump(300);
    const QString saved = v.window->savePicture(QString::fromStdString(folder));
    ASSERT_FALSE(saved.isEmpty()) << v.status().toStdString();
    EXPECT_TRUE(QFileInfo(saved).fileName().startsWith("Lobby_")) << saved.toStdString();
    EXPECT_TRUE(saved.endsWith(".png"));
    EXPECT_TRUE(v.status().startsWith(lang(u"PIC_SAVED") + " ")) << v.status().toStdString();
    EXPECT_EQ(v.window->statusLine()->toolTip(), saved);

    QImage png(saved, "png");
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), QSize(v.window->surface().width(), v.window->surface().height()));
    EXPECT_GT(png.width(), 100);
    EXPECT_GT(share(png, 40, 160, 60), 0.15) << "background colour";
    EXPECT_GT(share(png, 230, 80, 200), 0.002) << "box colour";
    // Upright: the solid background fills the lower part of the picture.
    EXPECT_TRUE(near(png.pixelColor(png.width() / 2, png.height() * 7 / 8), 40, 160, 60, 28));

    // The key does the same, and a second picture in the same second gets its own file.
    const int before = int(QDir(QString::fromStdString(folder)).entryList({"*.png"}).size());
    v.window->activateWindow();   // the key is a shortcut of the active window
    ASSERT_TRUE(QTest::qWaitForWindowActive(v.window.get()));
    QTest::keyClick(keyTarget(v.window.get()), Qt::Key_S);
    EXPECT_TRUE(v.status().startsWith(lang(u"PIC_SAVED"))) << v.status().toStdString();
    EXPECT_EQ(int(QDir(QString::fromStdString(folder)).entryList({"*.png"}).size()), before + 1);
    // In the camera tree S is a letter for finding a camera, not a save.
    v.window->showTreeMode();
    QTest::keyClick(keyTarget(v.window.get()), Qt::Key_S);
    EXPECT_EQ(int(QDir(QString::fromStdString(folder)).entryList({"*.png"}).size()), before + 1);
}
