// Manual runs, not part of the suite (disabled): README screenshots of the viewer playing a
// simulated camera, taken from the real windows on an X server (Xvfb), and the viewer's CPU
// use while playing a 704 x 576, 25 fps stream. Run for example with
//   xvfb-run -s "-screen 0 240x320x24" env QT_QPA_PLATFORM=xcb KEVRA_SHOT=docs/viewer-240x320.png \
//     build/bin/test_ui --gtest_also_run_disabled_tests --gtest_filter='Manual.DISABLED_Screenshot'
#include "common/Utf.h"
#include "device/DeviceClient.h"
#include "tools/support/RecorderProcess.h"
#include "ui/support/UiTestSupport.h"
#include "ui/CDlgLogin.h"
#include "ui/DisplaySurface.h"
#include "ui/MainWindow.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>

using namespace kevra;
using namespace kevra::test;

namespace {

// Logs in, opens camera `index` and waits until it plays. Returns the click-to-picture time.
qint64 playCamera(MainWindow& w, int port, int index)
{
    w.show();
    EXPECT_TRUE(waitUntil([&] { return w.loginDialog() != nullptr; }));
    CDlgLogin* d = w.loginDialog();
    if (!d)
        return -1;
    d->setSettingsPath(fromUtf8(makeTempDir() + "login.ini"));
    d->field(CDlgLogin::IDC_IP)->setText("127.0.0.1");
    d->field(CDlgLogin::IDC_PORT)->setText(QString::number(port));
    d->command(CDlgLogin::ID_LOGIN)->click();
    EXPECT_TRUE(waitUntil([&] {
        return !w.loginDialog() && w.tree()->topLevelItemCount() == 1 &&
               w.tree()->topLevelItem(0)->childCount() > index;
    }));
    QElapsedTimer t;
    t.start();
    emit w.tree()->itemClicked(w.tree()->topLevelItem(0)->child(index), 0);
    EXPECT_TRUE(waitUntil([&] { return w.surface().presentedCount() > 0; }, 30000));
    const qint64 ms = t.elapsed();
    EXPECT_TRUE(waitUntil([&] { return w.statusLine()->text() == lang(u"PLAYING"); }, 30000));
    return ms;
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

TEST(Manual, DISABLED_Screenshot)
{
    const char* out = std::getenv("KEVRA_SHOT");
    ASSERT_NE(out, nullptr) << "set KEVRA_SHOT to the PNG to write";
    RecorderProcess rec({"--cameras", "Gate&&Lobby&&Parking&&Loading dock"});
    ASSERT_TRUE(rec.start());
    DeviceClient client;
    MainWindow w(client);
    playCamera(w, rec.port(), 1);
    pump(1500);
    QScreen* s = QGuiApplication::primaryScreen();
    ASSERT_NE(s, nullptr);
    QPixmap shot = s->grabWindow(0);   // the whole X screen, as a user sees it
    ASSERT_TRUE(shot.save(QString::fromLocal8Bit(out)));
    w.command(MainWindow::ID_EXIT);
}

TEST(Manual, DISABLED_Measure704x576)
{
    RecorderProcess rec({"--size", "704x576", "--fps", "25", "--bitrate", "1500000"});
    ASSERT_TRUE(rec.start());
    DeviceClient client;
    MainWindow w(client);
    const qint64 firstPicture = playCamera(w, rec.port(), 0);
    pump(3000);   // settle
    const int shown0 = w.surface().presentedCount();
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    pump(20000);
    const double cpu = cpuSeconds() - cpu0;
    const double secs = wall.elapsed() / 1000.0;
    const int shown = w.surface().presentedCount() - shown0;
    std::printf("[ measure ] 704x576 25 fps: click to first picture %lld ms; CPU %.1f%% of one core "
                "over %.1f s; %d pictures shown (%.1f per second)\n",
                (long long)firstPicture, 100.0 * cpu / secs, secs, shown, shown / secs);
    w.command(MainWindow::ID_EXIT);
}
