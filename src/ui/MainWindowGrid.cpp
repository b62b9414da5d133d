// The main window's multi-camera view: layout control and keys, tile clicks, the remembered
// view and the streams of the tiles. Several tiles run through GridView and TileView; the
// one-tile view (layout 1 or a tile shown alone) through the one-camera LiveView as before.
#include "ui/MainWindow.h"

#include "app/ClientLiveViewDevice.h"
#include "app/GridLayout.h"
#include "app/GridView.h"
#include "profile/ViewSettings.h"
#include "ui/BitmapButton.h"
#include "ui/LoginDialog.h"
#include "ui/QtText.h"
#include "ui/VideoArea.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QTreeWidget>

namespace kevra {

namespace {
constexpr int kItemHandleRole = Qt::UserRole + 1;
constexpr int kChannelRole = Qt::UserRole;
}   // namespace

void MainWindow::gridCreate()
{
    tileView_ = new TileView(this);
    tileView_->setProperty("controlId", 1138);
    tileView_->hide();
    tileView_->setDescribe([this](int p) { return describeTile(p); });
    connect(tileView_, &TileView::tileClicked, this, &MainWindow::clickTile);
    connect(tileView_, &TileView::tileDoubleClicked, this, &MainWindow::toggleTileZoom);
    connect(video_, &VideoArea::doubleClicked, this, [this] {
        if (grid_.zoomed())
            toggleTileZoom(grid_.selected());
    });
    gridView_ = std::make_unique<GridView>(
        *tileView_, [this] { return std::make_unique<ClientLiveViewDevice>(client_); });
    gridFullTimer_ = new QTimer(this);
    gridFullTimer_->setSingleShot(true);
    connect(gridFullTimer_, &QTimer::timeout, this, &MainWindow::toggleFullScreen);
    layoutBtn_ = makeButton(ID_LAYOUT, nullptr);
    layoutBtn_->setToolTip(QtText::lang(u"LAYOUT"));
}

int MainWindow::ptzChannel() const
{
    if (gridShown())
        return grid_.selectedChannel();
    return liveView_->channel();
}

QTreeWidgetItem* MainWindow::itemOfChannel(int channel) const
{
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* root = tree_->topLevelItem(i);
        for (int j = 0; j < root->childCount(); ++j)
            if (root->child(j)->data(0, kChannelRole).toInt() == channel)
                return root->child(j);
    }
    return nullptr;
}

TileView::Label MainWindow::describeTile(int position)
{
    TileView::Label l;
    int ch = gridView_->channelAt(position);
    bool stopped = false;
    if (ch == TileGrid::kNone) {
        // No stream (the connection is lost, say): the tile still names its camera.
        ch = grid_.channel(grid_.positionTile(position));
        if (ch == TileGrid::kNone || !gridShown())
            return l;
        stopped = true;
    }
    if (ch >= 0 && size_t(ch) < cameraNames_.size())
        l.name = QtText::from(cameraNames_[size_t(ch)]);
    l.state = QtText::lang(stopped ? u"STOP_TILE"
                                   : TileController::stateKey(gridView_->stateAt(position)));
    if (position >= 0 && position < TileGrid::kMaxTiles)
        l.note = tileNotes_[size_t(position)];
    // The status line follows the selected tile, unless a recovery is under way.
    if (position == grid_.selected() && recoveryText_.isEmpty() && status_->text() != l.state)
        status_->setText(l.state);
    return l;
}

void MainWindow::setTileNote(int position, const QString& note)
{
    if (position < 0 || position >= TileGrid::kMaxTiles || tileNotes_[size_t(position)] == note)
        return;
    tileNotes_[size_t(position)] = note;
    tileView_->update();
}

void MainWindow::gridPlace()
{
    const Rect r = gridFull_ ? layout_.fullScreenVideo : layout_.normalVideo;
    tileView_->setGeometry(r.left, r.top, r.width(), r.height());
    if (gridFull_)
        tileView_->raise();
}

void MainWindow::gridTreeImages()
{
    const std::vector<int> shown = gridShown() ? grid_.shownChannels() : std::vector<int>{};
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* root = tree_->topLevelItem(i);
        for (int j = 0; j < root->childCount(); ++j) {
            const int ch = root->child(j)->data(0, kChannelRole).toInt();
            const bool on = std::find(shown.begin(), shown.end(), ch) != shown.end();
            setItemImage(uintptr_t(root->child(j)->data(0, kItemHandleRole).toULongLong()),
                         on ? LiveView::kImageOpenCamera : LiveView::kImageIdleCamera);
        }
    }
}

// Brings the streams and widgets in line with the model.
void MainWindow::gridApply()
{
    gridFullTimer_->stop();
    const bool video = isVideoMode();
    if (gridShown()) {
        liveView_->stop();   // the one-tile view's stream, full screen and status
        gridView_->setDisplayDepth(liveView_->pixelDepth());
        gridView_->sync(grid_);
        tileView_->setTiles(grid_.shownTiles(), grid_.selected());
        gridPlace();
        video_->hide();
        tileView_->setVisible(video);
    } else {
        gridView_->stopAll();
        gridFull_ = false;
        tileView_->hide();
        video_->setVisible(video);
        const int ch = grid_.channel(grid_.positionTile(0));
        QTreeWidgetItem* item = itemOfChannel(ch);
        if (ch == TileGrid::kNone || !item)
            liveView_->stop();
        else if (liveView_->channel() != ch)
            liveView_->openCamera(uintptr_t(item->data(0, kItemHandleRole).toULongLong()), ch);
    }
    gridTreeImages();
    if (gridShown())
        tileView_->update();
    gridSave();
}

void MainWindow::gridStop()
{
    gridView_->stopAll();
}

void MainWindow::chooseLayout(int tiles)
{
    if (!GridLayout::isLayout(tiles))
        return;
    grid_.setLayout(tiles);
    gridApply();
    if (!grid_.shownChannels().empty())
        showVideoMode();
}

void MainWindow::cycleLayout()
{
    chooseLayout(GridLayout::next(grid_.layout()));
}

void MainWindow::clickTile(int position)
{
    const int tile = grid_.positionTile(position);
    if (tile < 0)
        return;
    if (tile == grid_.selected()) {
        // Full screen once it is clear the click is not the first half of a double click.
        gridFullTimer_->start(QApplication::doubleClickInterval());
        return;
    }
    grid_.select(tile);
    tileView_->setTiles(grid_.shownTiles(), position);
}

void MainWindow::toggleTileZoom(int position)
{
    gridFullTimer_->stop();
    const int tile = grid_.zoomed() ? grid_.selected() : grid_.positionTile(position);
    grid_.toggleZoom(tile);
    gridApply();
    showVideoMode();
}

bool MainWindow::handleLayoutKey(int qtKey, Qt::KeyboardModifiers modifiers)
{
    if (modifiers & ~(Qt::KeypadModifier | Qt::ShiftModifier))
        return false;
    switch (qtKey) {
    case Qt::Key_1: chooseLayout(1); return true;
    case Qt::Key_4: chooseLayout(4); return true;
    case Qt::Key_9: chooseLayout(9); return true;
    default: return false;
    }
}

bool MainWindow::gridChooseCamera(int channel)
{
    grid_.choose(channel);
    if (!gridShown()) {
        gridSave();
        return false;
    }
    gridApply();
    showVideoMode();
    return true;
}

void MainWindow::gridLoggedIn(const LoginDialog& dlg)
{
    recorderName_ = ViewSettings::recorderName(dlg.ip(), dlg.port());
    const std::u16string& login = dlg.settingsPath();
    const size_t slash = login.find_last_of(u'/');
    viewsPath_ = ViewSettings::pathIn(slash == std::u16string::npos ? std::u16string()
                                                                    : login.substr(0, slash + 1));
}

void MainWindow::gridCamerasListed(const std::vector<std::u16string>& names)
{
    cameraNames_ = names;
    gridView_->stopAll();   // streams of an earlier session are gone
    grid_.setCameraCount(int(names.size()));
    const ViewSettings v = ViewSettings::load(viewsPath_, recorderName_);
    if (v.layout > 1) {
        grid_.restore(v.layout, v.tiles);
        gridApply();
        showVideoMode();
    } else {
        // One tile: as ever, the tree is shown and the user chooses.
        grid_.restore(1, {TileGrid::kNone, TileGrid::kNone, TileGrid::kNone, TileGrid::kNone,
                          TileGrid::kNone, TileGrid::kNone, TileGrid::kNone, TileGrid::kNone,
                          TileGrid::kNone, TileGrid::kNone, TileGrid::kNone, TileGrid::kNone,
                          TileGrid::kNone, TileGrid::kNone, TileGrid::kNone, TileGrid::kNone});
        tileView_->hide();
    }
}

void MainWindow::gridConnectionLost()
{
    // Every tile stops; the model stays, so the next login reopens the same tiles.
    gridView_->stopAll();
    gridFull_ = false;
    gridPlace();
}

void MainWindow::gridSave()
{
    if (recorderName_.empty())
        return;
    ViewSettings v;
    v.layout = grid_.layout();
    for (int t = 0; t < TileGrid::kMaxTiles; ++t)
        v.tiles[size_t(t)] = grid_.tiles()[size_t(t)];
    ViewSettings::save(viewsPath_, recorderName_, v);
}

}   // namespace kevra
