#include "ScriptedRun.h"

#include "profile/WallSettings.h"
#include "ui/LoginDialog.h"
#include "ui/DisplaySurface.h"
#include "ui/MainWindow.h"
#include "ui/TileView.h"
#include "ui/VideoArea.h"
#include "ui/WallScreens.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kevra {

ScriptedRun* ScriptedRun::fromEnvironment(MainWindow& window)
{
    const QString path = qEnvironmentVariable("KEVRA_TEST_ACTIONS");
    if (path.isEmpty())
        return nullptr;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "script: cannot read %s\n", qPrintable(path));
        std::_Exit(3);
    }
    QStringList lines;
    for (const QString& line : QString::fromUtf8(f.readAll()).split('\n')) {
        const QString t = line.trimmed();
        if (!t.isEmpty() && !t.startsWith('#'))
            lines << t;
    }
    // The login settings are written beside the script, never beside the program.
    return new ScriptedRun(window, lines, QFileInfo(path).absolutePath() + "/login.ini");
}

ScriptedRun::ScriptedRun(MainWindow& window, QStringList lines, QString settingsPath)
    : QObject(&window), window_(window), lines_(std::move(lines)),
      settingsPath_(std::move(settingsPath))
{
    connect(&timer_, &QTimer::timeout, this, &ScriptedRun::step);
    timer_.start(20);
    sincePicture_.start();
}

void ScriptedRun::watch()
{
    const int presented = window_.surface().presentedCount();
    if (presented != presentedSeen_) {
        presentedSeen_ = presented;
        const qint64 gap = sincePicture_.restart();
        if (gap >= 1000)
            std::fprintf(stderr, "script: picture after %lld ms at %.3f\n",
                         static_cast<long long>(gap), QDateTime::currentMSecsSinceEpoch() / 1000.0);
    }
    // Each tile too (the grid of several recorders: one recorder's tiles stop and come back).
    for (int p = 0; p < kTiles; ++p) {
        const int n = window_.viewer().playback().presentedAt(p);
        if (n == tileSeen_[size_t(p)])
            continue;
        tileSeen_[size_t(p)] = n;
        const qint64 gap = tileSince_[size_t(p)].isValid() ? tileSince_[size_t(p)].restart() : 0;
        if (!tileSince_[size_t(p)].isValid())
            tileSince_[size_t(p)].start();
        if (gap >= 1000)
            std::fprintf(stderr, "script: tile %d picture after %lld ms at %.3f\n", p,
                         static_cast<long long>(gap), QDateTime::currentMSecsSinceEpoch() / 1000.0);
    }
    const bool recovering = window_.recovering();
    if (wasRecovering_ && !recovering) {
        ++reconnects_;
        presentedAtReconnect_ = presented;
    }
    if (recovering != wasRecovering_)
        std::fprintf(stderr,
                     recovering ? "script: connection lost at %.3f\n"
                                : "script: reconnected at %.3f\n",
                     QDateTime::currentMSecsSinceEpoch() / 1000.0);
    wasRecovering_ = recovering;
}

void ScriptedRun::fail(const QString& why)
{
    std::fprintf(stderr, "script: line %d (%s): %s\n", next_ + 1, qPrintable(lines_.value(next_)),
                 qPrintable(why));
    std::fflush(stderr);
    std::_Exit(3);
}

void ScriptedRun::step()
{
    watch();
    if (next_ >= lines_.size()) {
        timer_.stop();
        return;
    }
    const QStringList words = lines_[next_].split(' ', Qt::SkipEmptyParts);
    if (!started_) {
        started_ = true;
        clock_.start();
        presentedAtStart_ = window_.surface().presentedCount();
        reconnectsAtStart_ = reconnects_;
        std::fprintf(stderr, "script: %s\n", qPrintable(lines_[next_]));
        if (!begin(words))
            return;
    } else if (!finished(words)) {
        if (words.value(0) != "wait" && clock_.elapsed() > kStepTimeoutMs)
            fail("not finished in time");
        return;
    }
    started_ = false;
    ++next_;
}

bool ScriptedRun::begin(const QStringList& w)
{
    const QString& what = w.value(0);
    if (what == "login") {
        return false;   // waits for the dialog first
    } else if (what == "play") {
        QTreeWidget* tree = window_.tree();
        QTreeWidgetItem* root = tree->topLevelItem(0);
        QTreeWidgetItem* item = root ? root->child(w.value(1).toInt()) : nullptr;
        if (!item)
            fail("no such camera");
        emit tree->itemClicked(item, 0);
        return false;
    } else if (what == "camera") {
        window_.command(MainWindow::CameraCommand);
    } else if (what == "full") {
        window_.command(MainWindow::FullCommand);
    } else if (what == "exit") {
        window_.command(MainWindow::ExitCommand);
    } else if (what == "relogin") {
        window_.command(MainWindow::LoginCommand);
        return false;
    } else if (what == "cancel") {
        LoginDialog* d = window_.loginDialog();
        if (!d)
            fail("no login dialog");
        d->command(LoginDialog::Command::Cancel)->click();
    } else if (what == "key") {
        static const QStringList names{"left", "up", "right", "down", "1", "4", "9"};
        static const int keys[] = {Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down,
                                   Qt::Key_1,    Qt::Key_4,  Qt::Key_9};
        // "alt+1": the key with Alt held (send the framed camera to wall 1).
        const bool alt = w.value(1).startsWith(QStringLiteral("alt+"));
        const int i = int(names.indexOf(alt ? w.value(1).mid(4) : w.value(1)));
        if (i < 0)
            fail("unknown key");
        const Qt::KeyboardModifiers mod = alt ? Qt::AltModifier : Qt::NoModifier;
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &window_;
        QKeyEvent press(QEvent::KeyPress, keys[i], mod);
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, keys[i], mod);
        QApplication::sendEvent(target, &release);
    } else if (what == "wait" || what == "tiles" || what == "waitpicture" ||
               what == "waitreconnect" || what == "walltiles" || what == "treecameras") {
        return false;
    } else if (what == "layout") {
        window_.command(MainWindow::LayoutCommand);
    } else if (what == "click" || what == "dclick") {
        // While one tile is shown alone, the video area takes the clicks.
        QWidget* tv = window_.tileView();
        QRect r = window_.tileView()->tileRect(w.value(1).toInt());
        if (tv->isHidden()) {
            tv = window_.videoArea();
            r = tv->rect();
        }
        if (tv->isHidden() || r.isEmpty())
            fail("no such tile");
        const QPointF at(r.center());
        const QEvent::Type type =
            what == "click" ? QEvent::MouseButtonPress : QEvent::MouseButtonDblClick;
        QMouseEvent press(type, at, tv->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(tv, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, tv->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(tv, &release);
    } else if (what == "shot") {
        if (!window_.grab().save(w.value(1)))
            fail("cannot save the picture");
    } else if (what == "rate") {
        tileCounts_.clear();
        for (int i = 0; i < window_.tileView()->tileCount(); ++i)
            tileCounts_.push_back(window_.tileView()->presentedCount(i));
        wallCounts_.clear();
        for (int n = 0; n <= WallSettings::kMaxWalls; ++n)
            if (const WallWindow* wall = window_.wallScreens().window(n))
                for (int i = 0; i < wall->tiles()->tileCount(); ++i)
                    wallCounts_.push_back({n, i, wall->tiles()->presentedCount(i)});
        return false;
    } else {
        fail("unknown action");
    }
    return true;
}

bool ScriptedRun::finished(const QStringList& w)
{
    const QString& what = w.value(0);
    if (what == "login") {
        LoginDialog* d = window_.loginDialog();
        if (d && !d->waiting() && d->property("scriptFilled").isNull()) {
            d->setProperty("scriptFilled", true);
            d->setSettingsPath(settingsPath_.toStdU16String());
            d->field(LoginDialog::Field::Address)->setText(w.value(1));
            d->field(LoginDialog::Field::Port)->setText(w.value(2));
            d->field(LoginDialog::Field::User)->setText(w.value(3));
            d->field(LoginDialog::Field::Password)->setText(w.value(4));
            d->command(LoginDialog::Command::Login)->click();
            return false;
        }
        QTreeWidgetItem* root = window_.tree()->topLevelItem(0);
        return !d && root && root->childCount() > 0;
    }
    if (what == "play" || what == "waitpicture")
        return window_.surface().presentedCount() > presentedAtStart_;
    if (what == "waitreconnect")
        return reconnects_ > reconnectsAtStart_ &&
               window_.surface().presentedCount() > presentedAtReconnect_;
    if (what == "relogin")
        return window_.loginDialog() != nullptr;
    if (what == "wait")
        return clock_.elapsed() >= w.value(1).toInt();
    if (what == "walltiles") {
        for (int n = 0; n <= WallSettings::kMaxWalls; ++n)
            if (const WallWindow* wall = window_.wallScreens().window(n))
                for (int i = 0; i < wall->tiles()->tileCount(); ++i)
                    if (wall->tiles()->presentedCount(i) == 0)
                        return false;
        return true;
    }
    if (what == "treecameras") {
        int listed = 0;
        for (int i = 0; i < window_.tree()->topLevelItemCount(); ++i)
            listed += window_.tree()->topLevelItem(i)->childCount();
        return listed >= w.value(1).toInt();
    }
    if (what == "tiles") {
        TileView* tv = window_.tileView();
        const int n = w.value(1).toInt();
        if (tv->isHidden() || tv->tileCount() < n)
            return false;
        for (int i = 0; i < n; ++i)
            if (tv->presentedCount(i) == 0)
                return false;
        return true;
    }
    if (what == "rate") {
        const qint64 ms = clock_.elapsed();
        if (ms < w.value(1).toInt())
            return false;
        for (size_t i = 0; i < tileCounts_.size(); ++i) {
            const int n = window_.tileView()->presentedCount(int(i)) - tileCounts_[i];
            std::fprintf(stderr, "script: rate %d %.1f\n", int(i), n * 1000.0 / double(ms));
        }
        for (const WallCount& c : wallCounts_) {
            const WallWindow* wall = window_.wallScreens().window(c.wall);
            const int n = wall ? wall->tiles()->presentedCount(c.tile) - c.count : 0;
            std::fprintf(stderr, "script: rate %s %d %.1f\n",
                         c.wall > 0 ? ("wall" + std::to_string(c.wall)).c_str() : "spot", c.tile,
                         n * 1000.0 / double(ms));
        }
        return true;
    }
    return true;
}

}   // namespace kevra
