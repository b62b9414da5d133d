// The main window's automatic recovery: a lost session logged in again with the saved login,
// a camera whose media connection closed reopened, the notice over a picture that stopped.
// Kept apart from the rest of the window; user-interface thread only.
#include "ui/MainWindow.h"

#include "app/GridView.h"
#include "app/TileController.h"

#include "common/Utf.h"
#include "device/DeviceClient.h"
#include "profile/Language.h"
#include "profile/LoginSettings.h"
#include "app/AppValues.h"
#include "ui/QtText.h"
#include "ui/VideoArea.h"

#include <QLabel>
#include <QTimer>
#include <QTreeWidget>

namespace kevra {

namespace {
constexpr int kItemHandleRole = Qt::UserRole + 1;
constexpr int kChannelRole = Qt::UserRole;
constexpr int kLoginTimeoutMs = 10000;   // as the login dialog's
}   // namespace

void MainWindow::reopenChannel(int channel)
{
    if (liveView_->channel() == channel) {
        liveView_->reopen(0);
    } else if (gridView_->stream(channel)) {
        // A tile's camera: the grid's streams start again (the others only rebuffer).
        gridView_->stopAll();
        gridApply();
    }
}

void MainWindow::setUpRecovery()
{
    loginSettingsPath_ = LoginSettings::pathIn(AppValues::settingsFolder());
    recovery_ = std::make_unique<RecoveryController>(static_cast<RecoveryHost&>(*this));
    video_->setNoticeSource([this] { return videoNotice(); });
    recoveryTimer_ = new QTimer(this);
    connect(recoveryTimer_, &QTimer::timeout, this, &MainWindow::pollRecovery);
    recoveryTimer_->start(kRecoveryPollMs);
}

void MainWindow::tearDownRecovery()
{
    if (recoveryTimer_)
        recoveryTimer_->stop();
    if (recovery_)
        recovery_->cancel();
}

bool MainWindow::recoverSessionLoss()
{
    // The key is read when it matters, from the login.ini the last login used.
    recovery_->setEnabled(LoginSettings::load(loginSettingsPath_).autoReconnect);
    if (!recovery_->onConnectionLost())
        return false;
    liveView_->suspend();
    return true;
}

void MainWindow::loginWithSavedSettings()
{
    const LoginSettings s = LoginSettings::load(loginSettingsPath_);
    client_.logout();   // whatever is left of the lost session goes first, as in the dialog
    client_.login(toUtf8(s.ip), s.port, toUtf8(s.user), toUtf8(s.password), kLoginTimeoutMs);
}

void MainWindow::reopenWhatWasShown()
{
    const int channel = liveView_->channel();
    if (channel == -1)
        return;
    QTreeWidgetItem* root = tree_->topLevelItem(0);
    for (int i = 0; root && i < root->childCount(); ++i) {
        QTreeWidgetItem* item = root->child(i);
        if (item->data(0, kChannelRole).toInt() == channel) {
            liveView_->reopen(uintptr_t(item->data(0, kItemHandleRole).toULongLong()));
            return;
        }
    }
    liveView_->stop();   // the recorder no longer lists that camera
}

void MainWindow::pollRecovery()
{
    recovery_->poll();
    markStalledTiles();
    const QString notice = videoNotice();
    if (notice != shownNotice_) {
        shownNotice_ = notice;
        video_->update();
    }
}

void MainWindow::showRecoveryText(const std::u16string& text)
{
    recoveryText_ = QtText::from(text);
    if (!recoveryText_.isEmpty())
        status_->setText(recoveryText_);
}

// Each tile of the grid that was opened and has drawn no new picture for a while says so over
// its last picture, as the one-camera view does; the note goes with the next picture.
void MainWindow::markStalledTiles()
{
    for (int p = 0; p < TileGrid::kMaxTiles; ++p) {
        TileWatch& w = tileWatch_[size_t(p)];
        const int channel = gridShown() ? gridView_->channelAt(p) : TileGrid::kNone;
        const TileController::State state =
            channel == TileGrid::kNone ? TileController::State::Stopped : gridView_->stateAt(p);
        const bool delivering =
            state == TileController::State::Playing || state == TileController::State::Buffering;
        const int presented = gridView_->presentedAt(p);
        if (!delivering) {
            w.stall.stop();
        } else if (!w.stall.playing() || channel != w.channel) {
            w.stall.start();
        } else if (presented != w.presented) {
            w.stall.picture();
        }
        w.channel = channel;
        w.presented = presented;
        const int seconds = w.stall.stalledSeconds();
        setTileNote(p,
                    seconds ? QtText::from(Language::format(u"NO_PICTURE", {seconds})) : QString());
    }
}

QString MainWindow::videoNotice() const
{
    QString notice;
    if (const int seconds = liveView_->stalledSeconds())
        notice = QtText::from(Language::format(u"NO_PICTURE", {seconds}));
    // Full screen has no status line: the recovery is told over the picture.
    if (liveView_->fullScreen() && !recoveryText_.isEmpty())
        notice += (notice.isEmpty() ? QString() : QStringLiteral("\n")) + recoveryText_;
    return notice;
}

void MainWindow::onLoginDialogOpened()
{
    recovery_->pause();
}

void MainWindow::onLoginDialogFinished(bool cancelled, const std::u16string& settingsPath)
{
    if (cancelled)
        return;
    loginSettingsPath_ = settingsPath;
    // Logged in by hand: the retries end; a camera waiting for its session is let go.
    const bool waiting = recovery_->sessionRecovering();
    recovery_->cancel();
    recovery_->resume();
    if (waiting)
        liveView_->stop();
}

}   // namespace kevra
