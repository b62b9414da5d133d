// kevra-shots: manual runs of the viewer against the simulated recorder, for the README and for
// measuring (not tests). It starts kevra-recorder from its own folder, logs in through the
// login dialog as a user would, opens a camera and then either saves the whole screen as a PNG
// or measures the viewer's CPU use while playing a 704 x 576, 25 fps stream. Everything runs on
// the user-interface thread; the recorder is a child process it starts and stops.
//   xvfb-run -s "-screen 0 240x320x24" env QT_QPA_PLATFORM=xcb build/bin/kevra-shots screenshot docs/viewer-240x320.png
//   build/bin/kevra-shots measure
#include "common/Utf.h"
#include "profile/Language.h"
#include "ui/LoginDialog.h"
#include "ui/DisplaySurface.h"
#include "ui/MainWindow.h"
#include "ui/QtText.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sys/resource.h>

using namespace kevra;

namespace {

bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

void pump(int ms)
{
    waitUntil([] { return false; }, ms);
}

// The simulated recorder on a free port of 127.0.0.1; stopped when this goes.
class Recorder {
public:
    bool start(const QStringList& args)
    {
        process_.setProgram(QCoreApplication::applicationDirPath() + "/kevra-recorder");
        process_.setArguments(QStringList{"--port", "0"} + args);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        if (!process_.waitForStarted(5000))
            return false;
        // With --port 0 the first line is the port it picked.
        QElapsedTimer t;
        t.start();
        while (!process_.canReadLine() && t.elapsed() < 15000)
            process_.waitForReadyRead(100);
        port_ = QString::fromUtf8(process_.readLine()).trimmed().toInt();
        return port_ > 0;
    }
    ~Recorder()
    {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
    }
    int port() const { return port_; }

private:
    QProcess process_;
    int port_ = 0;
};

// Logs in, opens camera `index` and waits until it plays. Returns the click-to-picture time.
qint64 playCamera(MainWindow& w, const QString& settingsFolder, int port, int index)
{
    w.show();
    if (!waitUntil([&] { return w.loginDialog() != nullptr; }))
        return -1;
    LoginDialog* d = w.loginDialog();
    d->setSettingsPath(fromUtf8((settingsFolder + "/login.ini").toStdString()));
    d->field(LoginDialog::Field::Address)->setText("127.0.0.1");
    d->field(LoginDialog::Field::Port)->setText(QString::number(port));
    d->command(LoginDialog::Command::Login)->click();
    if (!waitUntil([&] {
            return !w.loginDialog() && w.tree()->topLevelItemCount() == 1 &&
                   w.tree()->topLevelItem(0)->childCount() > index;
        }))
        return -1;
    QElapsedTimer t;
    t.start();
    emit w.tree()->itemClicked(w.tree()->topLevelItem(0)->child(index), 0);
    if (!waitUntil([&] { return w.surface().presentedCount() > 0; }, 30000))
        return -1;
    const qint64 ms = t.elapsed();
    waitUntil([&] { return w.statusLine()->text() == QtText::lang(u"PLAYING"); }, 30000);
    return ms;
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int screenshot(const char* out, const QString& settingsFolder)
{
    Recorder rec;
    if (!rec.start({"--cameras", "Gate&&Lobby&&Parking&&Loading dock"})) {
        std::fprintf(stderr, "kevra-shots: the simulated recorder did not start\n");
        return 1;
    }
    MainWindow w;
    if (playCamera(w, settingsFolder, rec.port(), 1) < 0) {
        std::fprintf(stderr, "kevra-shots: the camera did not play\n");
        return 1;
    }
    pump(1500);
    QScreen* s = QGuiApplication::primaryScreen();
    QPixmap shot = s ? s->grabWindow(0) : QPixmap();   // the whole screen, as a user sees it
    w.command(MainWindow::ExitCommand);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(out))) {
        std::fprintf(stderr, "kevra-shots: cannot save %s\n", out);
        return 1;
    }
    std::printf("%dx%d\t%s\n", shot.width(), shot.height(), out);
    return 0;
}

int measure(const QString& settingsFolder)
{
    Recorder rec;
    if (!rec.start({"--size", "704x576", "--fps", "25", "--bitrate", "1500000"})) {
        std::fprintf(stderr, "kevra-shots: the simulated recorder did not start\n");
        return 1;
    }
    MainWindow w;
    const qint64 firstPicture = playCamera(w, settingsFolder, rec.port(), 0);
    if (firstPicture < 0) {
        std::fprintf(stderr, "kevra-shots: the camera did not play\n");
        return 1;
    }
    pump(3000);   // settle
    const int shown0 = w.surface().presentedCount();
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    pump(20000);
    const double cpu = cpuSeconds() - cpu0;
    const double secs = wall.elapsed() / 1000.0;
    const int shown = w.surface().presentedCount() - shown0;
    std::printf(
        "704x576 25 fps: click to first picture %lld ms; CPU %.1f%% of one core over %.1f s; "
        "%d pictures shown (%.1f per second)\n",
        (long long)firstPicture, 100.0 * cpu / secs, secs, shown, shown / secs);
    w.command(MainWindow::ExitCommand);
    return 0;
}

}   // namespace

int main(int argc, char** argv)
{
    const bool shot = argc == 3 && std::strcmp(argv[1], "screenshot") == 0;
    const bool meter = argc == 2 && std::strcmp(argv[1], "measure") == 0;
    if (!shot && !meter) {
        std::fprintf(stderr, "usage: kevra-shots screenshot OUT.png | kevra-shots measure\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(kevra_images);
    Language::setFilePath(
        fromUtf8((QCoreApplication::applicationDirPath() + "/language_eng.ini").toStdString()));
    QTemporaryDir settings;   // login.ini of this run, not the user's
    return shot ? screenshot(argv[2], settings.path()) : measure(settings.path());
}
