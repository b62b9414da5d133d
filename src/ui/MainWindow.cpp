#include "ui/MainWindow.h"

#include "app/AppValues.h"
#include "common/Clock.h"
#include "app/PtzPanel.h"
#include "app/ViewerLog.h"
#include "profile/LoginSettings.h"
#include "profile/TourSettings.h"
#include "profile/ViewSettings.h"
#include "common/Utf.h"
#include "profile/LoginSettings.h"
#include "ui/BitmapButton.h"
#include "ui/LoginDialog.h"
#include "ui/DisplaySurface.h"
#include "ui/HelpOverlay.h"
#include "ui/MessageBoxes.h"
#include "ui/PictureSaver.h"
#include "ui/RecorderListDialog.h"
#include "ui/QtKeys.h"
#include "ui/QtText.h"
#include "ui/SettingsDialog.h"
#include "ui/TitleBand.h"
#include "ui/VideoArea.h"
#include "ui/WallScreens.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>

namespace kevra {

namespace {
const QColor kDarkGrey(24, 24, 24);
const QColor kLightText(200, 200, 200);
const QColor kPanelEdge(45, 50, 46);
}   // namespace

MainWindow::MainWindow(DeviceClient& client, Playback::DeviceFactory devices, int forcedDepth)
    : QDialog(nullptr, Qt::Window | Qt::FramelessWindowHint)
{
    setWindowIcon(QIcon(QStringLiteral(":/icons/128")));

    // Background: black children over the window, dark grey title and panel bands.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);

    // Controls. The video area and tree come first, the buttons over them.
    video_ = new VideoArea(this);
    tree_ = new QTreeWidget(this);
    tree_->setProperty("controlId", int(TreeControl));
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    tree_->setIconSize(QSize(16, 16));
    // A camera dragged from the tree may be dropped on a wall's tile (WallWindow).
    tree_->setDragEnabled(true);
    tree_->setDragDropMode(QAbstractItemView::DragOnly);
    connect(tree_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item, int) { onTreeClick(item); });
    // The tree's menu (right click, or a long press) holds the list of further recorders.
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        QAction* list = menu.addAction(QtText::lang(u"NVR_LIST") + QStringLiteral("..."));
        if (menu.exec(tree_->viewport()->mapToGlobal(at)) == list)
            editRecorderList();
    });

    videoBar_ = {makeButton(LoginCommand, u"LOGIN"), makeButton(CameraCommand, u"CAMERA"),
                 makeButton(FullCommand, u"FULL"), makeButton(AboutCommand, u"ABOUT"),
                 makeButton(ExitCommand, u"EXIT")};
    back_ = makeButton(BackCommand, u"BACK");
    treeExit_ = makeButton(ExitCommand, u"EXIT");
    dirLeft_ = makeButton(DirLeftCommand, nullptr);
    dirRight_ = makeButton(DirRightCommand, nullptr);
    lensLeft_ = makeButton(LensLeftCommand, nullptr);
    lensRight_ = makeButton(LensRightCommand, nullptr);
    dirLabel_ = makeButton(DirLabelCommand, PtzPanel::directionLabelKey(0));
    lensLabel_ = makeButton(LensLabelCommand, PtzPanel::lensLabelKey(0));
    layoutBtn_ = makeButton(LayoutCommand, nullptr);
    layoutBtn_->setToolTip(QtText::lang(u"LAYOUT"));

    status_ = new QLabel(this);
    status_->setProperty("controlId", int(StatusControl));
    status_->setAutoFillBackground(true);
    QPalette sp = status_->palette();
    sp.setColor(QPalette::Window, kDarkGrey);
    sp.setColor(QPalette::WindowText, kLightText);
    status_->setPalette(sp);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    tourLabel_ = new QLabel(status_);
    tourLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QPalette tp = sp;
    tp.setColor(QPalette::WindowText, QColor(255, 220, 90));
    tourLabel_->setPalette(tp);
    tourLabel_->setAutoFillBackground(true);
    tourLabel_->hide();

    // Tree images: recorder, open camera, idle camera.
    images_[0] = QIcon(QStringLiteral(":/icons/147"));
    images_[1] = QIcon(QStringLiteral(":/icons/148"));
    images_[2] = QIcon(QStringLiteral(":/icons/146"));

    surface_ = std::make_unique<DisplaySurface>(video_, forcedDepth);
    video_->setSurface(surface_.get());
    connect(video_, &VideoArea::clicked, this, &MainWindow::toggleFullScreen);
    connect(video_, &VideoArea::menuRequested, this, &MainWindow::showPictureMenu);
    video_->setNoticeSource([this] { return videoNotice(); });
    video_->setMarkSource([this] { return QtText::from(viewer_->recordingMark()); });
    video_->setStatsSource([this] { return QtText::from(viewer_->singleStats()); });
    video_->setZoom(&zoom_, [this] { return viewer_->pictureTurned(); });

    tileView_ = new TileView(this);
    tileView_->setProperty("controlId", int(TileControl));
    tileView_->hide();
    tileView_->setDescribe([this](int p) { return tileLabel(p); });
    connect(tileView_, &TileView::tileClicked, this, &MainWindow::clickTile);
    connect(tileView_, &TileView::tileDoubleClicked, this, &MainWindow::toggleTileZoom);
    tileView_->setZoom(&tileZoom_);
    connect(tileView_, &TileView::dragStarted, this, [this] { fullTimer_->stop(); });
    connect(tileView_, &TileView::menuRequested, this, &MainWindow::showPictureMenu);
    fullTimer_ = new QTimer(this);
    fullTimer_->setSingleShot(true);
    connect(fullTimer_, &QTimer::timeout, this, &MainWindow::toggleFullScreen);
    savedTimer_ = new QTimer(this);
    savedTimer_->setSingleShot(true);
    connect(savedTimer_, &QTimer::timeout, this, [this] {
        status_->setText(statusText_);
        status_->setToolTip(QString());
    });

    holdTimer_ = new QTimer(this);
    holdTimer_->setInterval(int(PtzHold::kStepMs / 3));
    connect(holdTimer_, &QTimer::timeout, this, [this] {
        const int code = ptzHold_.due(Clock::nowMs());
        if (code >= 0)
            viewer_->ptz(code);
    });
    help_ = new HelpOverlay(this);
    connect(help_, &HelpOverlay::closed, this, [this] { setFocus(Qt::OtherFocusReason); });

    viewer_ = std::make_unique<Viewer>(client, static_cast<ViewerView&>(*this), *surface_,
                                       *tileView_, std::move(devices));
    viewer_->loadWalls();
    walls_ = std::make_unique<WallScreens>(*viewer_, *this, [](const QMap<int, QVariant>& roles) {
        if (!roles.contains(kChannelRole))
            return CameraId{};
        return CameraId{roles.value(kRecorderRole, 0).toInt(), roles.value(kChannelRole).toInt()};
    });
    initialised_ = true;
    pollTimer_ = new QTimer(this);
    connect(pollTimer_, &QTimer::timeout, this, [this] {
        viewer_->poll();
        showTourText();
        if (viewer_->singleCamera() != zoomCamera_) {   // another camera: whole picture
            zoomCamera_ = viewer_->singleCamera();
            zoom_.reset();
        }
        const CameraId framed = gridShown() ? viewer_->grid().selectedCamera() : CameraId{};
        if (framed != tileZoomCamera_) {   // another framed camera: its whole picture
            tileZoomCamera_ = framed;
            tileZoom_.reset();
            tileView_->update();
        }
    });
    pollTimer_->start(Viewer::kPollMs);

    applySettings(ViewerSettings::load(viewer_->loginSettingsPath()));
    setVideoGroupVisible(false);
    setTreeGroupVisible(false);
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
    pollTimer_->stop();
    walls_.reset();    // the walls' windows go before their streams' owner
    viewer_.reset();   // streams stopped, threads joined, the client's events no longer come
    video_->setSurface(nullptr);
    surface_.reset();
}

BitmapButton* MainWindow::makeButton(int id, const char16_t* captionKey)
{
    auto* b = new BitmapButton(id, this);
    if (captionKey) {
        b->setText(QtText::lang(captionKey));
        b->setCaptionColour(QColor(255, 255, 255));
    }
    connect(b, &QPushButton::clicked, this, [this, id] { command(id); });
    return b;
}

BitmapButton* MainWindow::button(int id) const
{
    for (BitmapButton* b : videoBar_)
        if (b->commandId() == id)
            return b;
    for (BitmapButton* b :
         {back_, layoutBtn_, dirLeft_, dirRight_, lensLeft_, lensRight_, dirLabel_, lensLabel_})
        if (b->commandId() == id)
            return b;
    return nullptr;
}

void MainWindow::stopShow()
{
    pollTimer_->stop();
    viewer_->shutdown();
}

// ---------------------------------------------------------------- what the coordinator shows

void MainWindow::post(std::function<void()> work)
{
    // Queued to this window: run on its thread in posting order, dropped with the window.
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void MainWindow::showCameras(const std::vector<std::u16string>& names)
{
    tree_->clear();
    auto* root = new QTreeWidgetItem(QStringList(
        firstRecorder_.empty() ? QtText::lang(u"DEVICE") : QtText::from(firstRecorder_)));
    root->setIcon(0, images_[0]);
    tree_->addTopLevelItem(root);
    for (size_t i = 0; i < names.size(); ++i) {
        auto* item = new QTreeWidgetItem(QStringList(QtText::from(names[i])));
        item->setIcon(0, images_[2]);
        item->setData(0, kChannelRole, int(i));
        root->addChild(item);
    }
    root->setExpanded(true);
    fillOtherRecorders();
    // Enter shows a camera at once: the first one is highlighted.
    if (root->childCount() > 0)
        tree_->setCurrentItem(root->child(0));
}

void MainWindow::clearCameras()
{
    tree_->clear();
}

void MainWindow::showRecorders(const std::vector<RecorderNode>& nodes)
{
    const bool sameCameras = nodes.size() == otherRecorders_.size() &&
                             std::equal(nodes.begin(), nodes.end(), otherRecorders_.begin(),
                                        [](const RecorderNode& a, const RecorderNode& b) {
                                            return a.name == b.name && a.cameras == b.cameras;
                                        });
    otherRecorders_ = nodes;
    if (!tree_->topLevelItem(0))
        return;   // no tree yet: it is filled with the first recorder's cameras
    if (!sameCameras || tree_->topLevelItemCount() != int(nodes.size()) + 1) {
        fillOtherRecorders();
        return;
    }
    // Only the states changed (a countdown): the entries stay, so does the selection.
    for (size_t i = 0; i < nodes.size(); ++i)
        tree_->topLevelItem(int(i) + 1)
            ->setText(0, QtText::from(nodes[i].name + u" - " + nodes[i].state));
}

void MainWindow::fillOtherRecorders()
{
    while (tree_->topLevelItemCount() > 1)
        delete tree_->takeTopLevelItem(1);
    for (size_t i = 0; i < otherRecorders_.size(); ++i) {
        const RecorderNode& n = otherRecorders_[i];
        auto* node = new QTreeWidgetItem(QStringList(QtText::from(n.name + u" - " + n.state)));
        node->setIcon(0, images_[0]);
        node->setData(0, kRecorderRole, int(i) + 1);
        tree_->addTopLevelItem(node);
        for (size_t c = 0; c < n.cameras.size(); ++c) {
            auto* item = new QTreeWidgetItem(QStringList(QtText::from(n.cameras[c])));
            item->setIcon(0, images_[2]);
            item->setData(0, kChannelRole, int(c));
            item->setData(0, kRecorderRole, int(i) + 1);
            node->addChild(item);
        }
        node->setExpanded(true);
    }
}

void MainWindow::editRecorderList()
{
    RecorderListDialog dlg(LoginSettings::pathIn(AppValues::settingsFolder()), this);
    dlg.exec();
    if (dlg.changed())
        viewer_->followRecorderList();
}

QTreeWidgetItem* MainWindow::itemOfCamera(CameraId camera) const
{
    // The first recorder's node, then one node per other recorder, in list order.
    for (int n = 0; n < tree_->topLevelItemCount(); ++n) {
        QTreeWidgetItem* node = tree_->topLevelItem(n);
        const int recorder = n == 0 ? 0 : node->data(0, kRecorderRole).toInt();
        if (recorder != camera.recorder)
            continue;
        for (int j = 0; j < node->childCount(); ++j)
            if (node->child(j)->data(0, kChannelRole).toInt() == camera.channel)
                return node->child(j);
    }
    return nullptr;
}

void MainWindow::setCameraShown(CameraId camera, bool shown)
{
    if (QTreeWidgetItem* it = itemOfCamera(camera))
        it->setIcon(0, images_[shown ? 1 : 2]);
}

void MainWindow::showFirstRecorder(const std::u16string& text)
{
    firstRecorder_ = text;
    if (QTreeWidgetItem* root = tree_->topLevelItem(0); root && !text.empty())
        root->setText(0, QtText::from(text));
}

void MainWindow::showVideoMode()
{
    setTreeGroupVisible(false);
    setVideoGroupVisible(true);
}

void MainWindow::showTreeMode()
{
    setVideoGroupVisible(false);
    setTreeGroupVisible(true);
}

bool MainWindow::isVideoMode() const
{
    return !status_->isHidden();
}

void MainWindow::setVideoGroupVisible(bool visible)
{
    for (QWidget* w : std::initializer_list<QWidget*>{dirLeft_, dirRight_, lensLeft_, lensRight_,
                                                      dirLabel_, lensLabel_, status_, layoutBtn_})
        w->setVisible(visible);
    // The video area or, while tiles are shown, the tile area.
    video_->setVisible(visible && tileCount_ == 0);
    tileView_->setVisible(visible && tileCount_ > 0);
    for (BitmapButton* b : videoBar_)
        b->setVisible(visible);
    if (viewer_)
        viewer_->setVideoShown(visible);
}

void MainWindow::setTreeGroupVisible(bool visible)
{
    tree_->setVisible(visible);
    back_->setVisible(visible);
    treeExit_->setVisible(visible);
}

void MainWindow::showStatus(const std::u16string& text)
{
    statusText_ = QtText::from(text);
    savedTimer_->stop();
    status_->setToolTip(QString());
    if (status_->text() != statusText_)
        status_->setText(statusText_);
}

void MainWindow::showTiles(int count, int selected, bool fullScreen)
{
    fullTimer_->stop();
    tileCount_ = count;
    tilesFull_ = fullScreen;
    const bool video = isVideoMode();
    if (count > 0) {
        tileView_->setTiles(count, selected);
        tileView_->keepPicture(selected >= 0 ? selected : 0);
        placeTiles();
        video_->hide();
        tileView_->setVisible(video);
        tileView_->update();
    } else {
        tileView_->keepPicture(-1);
        tileView_->hide();
        video_->setVisible(video);
    }
}

void MainWindow::placeTiles()
{
    const Rect r = tilesFull_ ? layout_.fullScreenVideo : layout_.normalVideo;
    tileView_->setGeometry(r.left, r.top, r.width(), r.height());
    if (tilesFull_)
        tileView_->raise();
}

void MainWindow::refreshTiles()
{
    tileView_->update();
}

void MainWindow::refreshNotice()
{
    video_->update();
}

void MainWindow::fillVideoAreaBlack()
{
    surface_->clear();
}

Rect MainWindow::videoAreaToScreen(const Rect& r) const
{
    const int x = videoX_.load(), y = videoY_.load();
    return Rect{r.left + x, r.top + y, r.right + x, r.bottom + y};
}

void MainWindow::updateVideoOrigin()
{
    const QPoint o = video_->mapToGlobal(QPoint(0, 0));
    videoX_ = o.x();
    videoY_ = o.y();
}

void MainWindow::moveVideoArea(const Rect& r, bool fullScreen)
{
    video_->setGeometry(r.left, r.top, r.width(), r.height());
    if (fullScreen)
        video_->raise();
    updateVideoOrigin();
}

void MainWindow::showConnectionLost()
{
    MessageBoxes::show(this, QtText::lang(u"D_DIS"), QtText::from(AppValues::productTitle()),
                       MessageBoxes::Error);
}

void MainWindow::showError(const std::u16string& text)
{
    MessageBoxes::show(this, QtText::from(text), QtText::from(AppValues::productTitle()),
                       MessageBoxes::Error);
}

void MainWindow::endProgram()
{
    done(QDialog::Rejected);
}

QString MainWindow::videoNotice() const
{
    return QtText::from(viewer_->videoNotice());
}

TileView::Label MainWindow::tileLabel(int position)
{
    const Viewer::TileLabel l = viewer_->tileLabel(position);
    return TileView::Label{QtText::from(l.name), QtText::from(l.state), QtText::from(l.note),
                           QtText::from(l.recording), QtText::from(l.stats)};
}

// ---------------------------------------------------------------- input

void MainWindow::onTreeClick(QTreeWidgetItem* item)
{
    if (!item || !item->parent())
        return;   // nothing hit, or a recorder's entry
    viewer_->chooseCamera(
        CameraId{item->data(0, kRecorderRole).toInt(), item->data(0, kChannelRole).toInt()});
}

void MainWindow::command(int id)
{
    switch (id) {
    case LoginCommand: runLoginSequence(); break;
    case CameraCommand: showTreeMode(); break;
    case FullCommand: toggleFullScreen(); break;
    case AboutCommand: showAbout(); break;
    case ExitCommand:
        stopShow();
        done(QDialog::Rejected);
        break;
    case BackCommand: showVideoMode(); break;
    case LayoutCommand: viewer_->cycleLayout(); break;
    case DirLeftCommand: viewer_->ptz(PtzPanel::directionCode(true, directionMode_)); break;
    case DirRightCommand: viewer_->ptz(PtzPanel::directionCode(false, directionMode_)); break;
    case LensLeftCommand: viewer_->ptz(PtzPanel::lensCode(true, lensMode_)); break;
    case LensRightCommand: viewer_->ptz(PtzPanel::lensCode(false, lensMode_)); break;
    case DirLabelCommand:
        directionMode_ = PtzPanel::nextDirectionMode(directionMode_);
        dirLabel_->setText(QtText::lang(PtzPanel::directionLabelKey(directionMode_)));
        break;
    case LensLabelCommand:
        lensMode_ = PtzPanel::nextLensMode(lensMode_);
        lensLabel_->setText(QtText::lang(PtzPanel::lensLabelKey(lensMode_)));
        break;
    default: break;
    }
}

bool MainWindow::handleArrowKey(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Left: return viewer_->arrowKey(PtzPanel::KeyLeft);
    case Qt::Key_Up: return viewer_->arrowKey(PtzPanel::KeyUp);
    case Qt::Key_Right: return viewer_->arrowKey(PtzPanel::KeyRight);
    case Qt::Key_Down: return viewer_->arrowKey(PtzPanel::KeyDown);
    default: return false;
    }
}

void MainWindow::clickTile(int position)
{
    // Full screen once it is clear the click is not the first half of a double click.
    if (viewer_->clickTile(position))
        fullTimer_->start(QApplication::doubleClickInterval());
}

void MainWindow::toggleTileZoom(int position)
{
    fullTimer_->stop();
    viewer_->toggleTileZoom(position);
}

void MainWindow::toggleFullScreen()
{
    viewer_->toggleFullScreen();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e)
{
    // Keys aimed at this window run the key table's commands. A key event is seen once: at the
    // widget it is first delivered to (the focus widget, or this window), before that widget
    // (the camera tree, say) acts on it. The key help reads its own keys.
    const bool press = e->type() == QEvent::KeyPress;
    if ((press || e->type() == QEvent::KeyRelease) && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        QWidget* first = QApplication::focusWidget() ? QApplication::focusWidget() : this;
        if (w == first && w->window() == this && w != help_) {
            auto* k = static_cast<QKeyEvent*>(e);
            if (help_->isVisible()) {
                if (press)   // the help reads the keys while it is shown, focus or not
                    QApplication::sendEvent(help_, k);
                return true;
            }
            if (press)
                return handleKey(*k);
            if (!k->isAutoRepeat() && ptzHold_.release(QtKeys::key(*k)))
                holdTimer_->stop();
        }
    } else if (e->type() == QEvent::ApplicationDeactivate ||
               (e->type() == QEvent::WindowDeactivate && watched == this)) {
        endPtzHold();   // the key's release will not come here
    }
    return QDialog::eventFilter(watched, e);
}

int MainWindow::keyPlace() const
{
    if (!isVideoMode())
        return KeyTable::Tree;
    const int place = gridShown() ? KeyTable::Grid : KeyTable::Single;
    const bool full = gridShown() ? gridFullScreen() : viewer_->playback().single().fullScreen();
    return full ? place | KeyTable::FullScreen : place;
}

bool MainWindow::handleKey(const QKeyEvent& k)
{
    const int key = QtKeys::key(k);
    const int place = keyPlace();
    const KeyTable::Binding* b = key ? KeyTable::find(key, QtKeys::modifiers(k), place) : nullptr;
    const bool arrow = key == KeyTable::Left || key == KeyTable::Up || key == KeyTable::Right ||
                       key == KeyTable::Down;
    if (!b)
        return arrow && place != KeyTable::Tree;   // the hidden tree's selection stays put
    if (!k.isAutoRepeat() || b->hold == KeyTable::Hold::Repeats)
        runKeyCommand(b->command, key);
    // In the camera tree the camera moves and the tree moves its highlight too.
    return !(arrow && place == KeyTable::Tree);
}

void MainWindow::endPtzHold()
{
    ptzHold_.cancel();
    holdTimer_->stop();
}

void MainWindow::frameNextTile(int step)
{
    const TileGrid& g = grid();
    if (!gridShown() || g.zoomed())
        return;
    const int n = g.layout();
    viewer_->clickTile(((std::max(g.selected(), 0) + step) % n + n) % n);
}

void MainWindow::showTourText()
{
    const QString text = QtText::from(viewer_->tourText());
    if (text == tourLabel_->text() && tourLabel_->isVisible() == !text.isEmpty())
        return;
    tourLabel_->setText(text);
    const int w = tourLabel_->fontMetrics().horizontalAdvance(text) + 8;
    tourLabel_->setGeometry(std::max(0, status_->width() - w), 0, std::min(w, status_->width()),
                            status_->height());
    tourLabel_->setVisible(!text.isEmpty());
}

void MainWindow::zoomKey(KeyTable::Command c)
{
    using C = KeyTable::Command;
    DigitalZoom& zoom = gridShown() ? tileZoom_ : zoom_;
    const bool turned = !gridShown() && viewer_->pictureTurned();
    constexpr double kPanStep = 0.1;   // of the shown picture per key press
    switch (c) {
    case C::ZoomIn: zoom.zoomBy(DigitalZoom::kStep); break;
    case C::ZoomOut: zoom.zoomBy(1.0 / DigitalZoom::kStep); break;
    case C::ZoomReset: zoom.reset(); break;
    // Looking left moves the picture right under the window, as a drag to the right does.
    case C::PanLeft: zoom.pan(kPanStep, 0, turned); break;
    case C::PanRight: zoom.pan(-kPanStep, 0, turned); break;
    case C::PanUp: zoom.pan(0, kPanStep, turned); break;
    case C::PanDown: zoom.pan(0, -kPanStep, turned); break;
    default: break;
    }
    video_->update();
    tileView_->update();
}

void MainWindow::runKeyCommand(KeyTable::Command c, int key)
{
    using C = KeyTable::Command;
    // A camera move runs while its key is held: the first step now, the next at a steady pace.
    auto hold = [&](int code) {
        if (!viewer_->ptzCamera().valid() || code < 0)
            return;
        ptzHold_.press(key, code, Clock::nowMs());
        viewer_->ptz(code);
        holdTimer_->start();
    };
    const bool turned = viewer_->pictureTurned();
    switch (c) {
    case C::Help: help_->open(); break;
    case C::Login: runLoginSequence(); break;
    case C::Settings: openSettings(); break;
    case C::About: showAbout(); break;
    case C::Exit: command(ExitCommand); break;
    case C::Layout1: viewer_->chooseLayout(1); break;
    case C::Layout4: viewer_->chooseLayout(4); break;
    case C::Layout9: viewer_->chooseLayout(9); break;
    case C::Layout16: viewer_->chooseLayout(16); break;
    case C::CycleLayout: viewer_->cycleLayout(); break;
    case C::OpenCamera:
        if (tree_->currentItem() && tree_->currentItem()->parent())
            onTreeClick(tree_->currentItem());
        break;
    case C::BackToPicture: showVideoMode(); break;
    case C::LeaveFullScreen:
    case C::FullScreen: toggleFullScreen(); break;
    case C::CameraTree: showTreeMode(); break;
    case C::MoveLeft: hold(PtzPanel::keyCode(PtzPanel::KeyLeft, turned)); break;
    case C::MoveUp: hold(PtzPanel::keyCode(PtzPanel::KeyUp, turned)); break;
    case C::MoveRight: hold(PtzPanel::keyCode(PtzPanel::KeyRight, turned)); break;
    case C::MoveDown: hold(PtzPanel::keyCode(PtzPanel::KeyDown, turned)); break;
    case C::LensZoomIn: hold(PtzPanel::lensCode(true, 0)); break;
    case C::LensZoomOut: hold(PtzPanel::lensCode(false, 0)); break;
    case C::IrisPlus: hold(PtzPanel::lensCode(true, 1)); break;
    case C::IrisMinus: hold(PtzPanel::lensCode(false, 1)); break;
    case C::FocusPlus: hold(PtzPanel::lensCode(true, 2)); break;
    case C::FocusMinus: hold(PtzPanel::lensCode(false, 2)); break;
    case C::ZoomIn:
    case C::ZoomOut:
    case C::ZoomReset:
    case C::PanLeft:
    case C::PanUp:
    case C::PanRight:
    case C::PanDown: zoomKey(c); break;
    case C::SavePicture: savePicture(); break;
    case C::Record: viewer_->toggleRecording(); break;
    case C::Tour: viewer_->toggleTour(); break;
    case C::GridTour: viewer_->toggleTour(true); break;
    case C::Stats: viewer_->toggleStats(); break;
    case C::LowLatency: viewer_->setLowLatency(!viewer_->lowLatency(), true); break;
    case C::SendToWall1: viewer_->sendToWall(1); break;
    case C::SendToWall2: viewer_->sendToWall(2); break;
    case C::SendToWall3: viewer_->sendToWall(3); break;
    case C::SendToWall4: viewer_->sendToWall(4); break;
    case C::WallLayout1:
    case C::WallLayout2:
    case C::WallLayout3:
    case C::WallLayout4:
        viewer_->cycleWallLayout(int(c) - int(C::WallLayout1) + 1);
        walls_->refresh();
        break;
    case C::WallTours: viewer_->toggleWallTours(); break;
    case C::NextTile: frameNextTile(1); break;
    case C::PreviousTile: frameNextTile(-1); break;
    case C::TileAlone:
        if (gridShown())
            toggleTileZoom(std::max(grid().selected(), 0));
        break;
    }
}

void MainWindow::keyPressEvent(QKeyEvent* e)
{
    // Escape must not end the program by accident: only Exit (or closing the window) does.
    if (e->key() == Qt::Key_Escape || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

// ---------------------------------------------------------------- saving the picture

void MainWindow::showPictureMenu(const QPoint& globalPos)
{
    // The bar has no room for another button on a 240-pixel screen: the picture's own menu,
    // opened by holding a finger on it (or the right button), carries the command.
    QMenu menu(this);
    menu.addAction(QtText::lang(u"SAVE_PIC"), this, [this] { savePicture(); });
    menu.addAction(QtText::lang(viewer_->recordingShown() ? u"REC_END" : u"REC_START"), this,
                   [this] { viewer_->toggleRecording(); });
    QAction* stats =
        menu.addAction(QtText::lang(u"STATS"), this, [this] { viewer_->toggleStats(); });
    stats->setCheckable(true);
    stats->setChecked(viewer_->statsShown());
    QAction* low = menu.addAction(QtText::lang(u"LOW_LAT"), this,
                                  [this] { viewer_->setLowLatency(!viewer_->lowLatency(), true); });
    low->setCheckable(true);
    low->setChecked(viewer_->lowLatency());
    menu.addAction(QtText::lang(u"SET_TITLE_T"), this, [this] { openSettings(); });
    menu.exec(globalPos);
}

QString MainWindow::savePicture(const QString& folder)
{
    const Viewer::SaveSource source = viewer_->saveSource();
    QImage shown;
    if (!source.camera.empty())
        shown = source.tile ? tileView_->keptPicture() : surface_->picture();
    if (shown.isNull()) {
        status_->setText(QtText::lang(u"NO_PIC"));
        savedTimer_->start(kSavedTextMs);
        return QString();
    }
    const PictureSaver::Result r =
        PictureSaver::save(PictureSaver::upright(shown, source.turned), QtText::from(source.camera),
                           !folder.isEmpty()           ? folder
                           : !pictureFolder_.isEmpty() ? pictureFolder_
                                                       : PictureSaver::folder());
    const QString where = QDir::toNativeSeparators(r.path);
    // On a narrow screen the file name matters more than the folder's start: "~" for the
    // home folder, the middle left out when it is still too long; the whole path as tip.
    QString shortWhere = where;
    const QString home = QDir::toNativeSeparators(QDir::homePath());
    if (shortWhere.startsWith(home + QDir::separator()))
        shortWhere = QLatin1Char('~') + shortWhere.mid(home.size());
    const QString prefix =
        QtText::lang(r.saved ? u"PIC_SAVED" : u"PIC_SAVE_ERR") + QLatin1Char(' ');
    const QFontMetrics metrics(status_->font());
    const int room = std::max(status_->width() - metrics.horizontalAdvance(prefix) - 4,
                              metrics.averageCharWidth() * 12);
    status_->setText(prefix + metrics.elidedText(shortWhere, Qt::ElideMiddle, room));
    status_->setToolTip(where);
    savedTimer_->start(kSavedTextMs);   // then the row says again what it said before
    ViewerLog::event(r.saved ? "picture saved to " + where.toStdString()
                             : "picture not saved to " + where.toStdString() + ": " +
                                   r.error.toStdString());
    return r.saved ? r.path : QString();
}

void MainWindow::showAbout()
{
    const QString text = QtText::from(AppValues::productTitle()) + "\n" + QtText::lang(u"VERSION") +
                         QtText::from(AppValues::versionText()) + "\n" + QtText::lang(u"BUILD") +
                         QStringLiteral(" : 2010-10-22\n");
    MessageBoxes::show(this, text, QtText::lang(u"ABOUT"), MessageBoxes::Information);
}

void MainWindow::applySettings(const ViewerSettings& s)
{
    pictureFolder_ = QtText::from(s.pictureFolder);
    viewer_->recordings().setFolder(QtText::from(s.clipFolder).toStdString());
}

void MainWindow::openSettings()
{
    const std::u16string loginPath = viewer_->loginSettingsPath();
    const std::u16string viewsPath = viewer_->viewsPath().empty()
                                         ? ViewSettings::pathIn(AppValues::settingsFolder())
                                         : viewer_->viewsPath();
    SettingsDialog dlg(ViewerSettings::load(loginPath), TourSettings::load(viewsPath), this);
    std::vector<int> wallScreens;
    for (const WallSet::Wall& w : viewer_->walls().walls()) {
        if (size_t(w.number) > wallScreens.size())
            wallScreens.resize(size_t(w.number), -1);
        wallScreens[size_t(w.number - 1)] = w.screen;
    }
    const QList<QScreen*> screens = QGuiApplication::screens();
    dlg.setScreens(int(screens.size()), int(screens.indexOf(screen())), wallScreens,
                   viewer_->walls().spotScreen());
    if (dlg.exec() != QDialog::Accepted)
        return;
    if (screens.size() > 1 &&
        (dlg.wallScreens() != wallScreens || dlg.spotScreen() != viewer_->walls().spotScreen())) {
        viewer_->assignWallScreens(dlg.wallScreens(), dlg.spotScreen());
        walls_->rebuild();
    }
    const ViewerSettings s = dlg.viewerSettings();
    const bool saved =
        ViewerSettings::save(loginPath, s) && TourSettings::save(viewsPath, dlg.tourSettings());
    if (!saved)
        MessageBoxes::show(this, QtText::lang(u"SET_SAVE_ERR_T"),
                           QtText::from(AppValues::productTitle()), MessageBoxes::Error);
    applySettings(s);
    viewer_->recovery().setEnabled(s.autoReconnect);
    viewer_->setLowLatency(s.lowLatency, false);   // saved above
    viewer_->setStreamNumbers(s.tileStream, s.singleStream);
    ViewerLog::event(saved ? "settings saved" : "settings not saved");
}

// ---------------------------------------------------------------- login

void MainWindow::runLoginSequence()
{
    if (loginDialog_) {
        loginDialog_->raise();   // one login dialog at a time
        return;
    }
    viewer_->requestLogin();
}

void MainWindow::openLoginDialog()
{
    auto* dlg = new LoginDialog();
    dlg->setWindowModality(Qt::ApplicationModal);
    dlg->setAttribute(Qt::WA_DeleteOnClose, false);
    dlg->postLogout = nullptr;   // the coordinator ends the session before each login
    dlg->postLogin = [this](const std::string& host, int port, const std::string& user,
                            const std::string& password, int timeoutMs) {
        viewer_->logInByHand(Viewer::LoginRequest{host, port, user, password, timeoutMs});
    };
    dlg->postCancelWait = [this] { viewer_->cancelLoginWait(); };
    loginDialog_ = dlg;
    connect(dlg, &QDialog::finished, this, [this, dlg] { finishLogin(dlg); });
    dlg->open();
}

void MainWindow::loginDialogResult(int code, int systemError)
{
    if (loginDialog_)
        loginDialog_->applyLoginResult(code, systemError);
}

void MainWindow::finishLogin(LoginDialog* dlg)
{
    const bool cancelled = dlg->cancelled();
    if (loginDialog_ == dlg)
        loginDialog_ = nullptr;
    dlg->deleteLater();
    viewer_->loginDialogClosed(cancelled, dlg->settingsPath(), dlg->ip(), dlg->port());
    emit loginSequenceFinished(cancelled);
}

// ---------------------------------------------------------------- layout and painting

void MainWindow::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (!loginStarted_) {
        loginStarted_ = true;
        if (QScreen* s = screen())
            setGeometry(s->geometry());
        setWindowState(windowState() | Qt::WindowFullScreen);
        layOut();
        walls_->rebuild();   // the walls on the other screens, now that this one is known
        // The login sequence runs once the window is on the screen.
        QTimer::singleShot(0, this, &MainWindow::runLoginSequence);
    }
}

void MainWindow::resizeEvent(QResizeEvent* e)
{
    QDialog::resizeEvent(e);
    if (initialised_)
        layOut();
}

void MainWindow::moveEvent(QMoveEvent* e)
{
    QDialog::moveEvent(e);
    updateVideoOrigin();
    if (viewer_)
        viewer_->videoAreaMoved();
}

void MainWindow::layOut()
{
    const int cx = width(), cy = height();
    const QFontMetrics barFont(videoBar_[0]->font());
    const QString leftRight = QtText::lang(u"LEFT_RIGHT");
    MainLayout::Input in;
    in.width = cx;
    in.height = cy;
    in.barFontHeight = barFont.height();
    in.labelTextWidth = barFont.horizontalAdvance(leftRight);
    in.labelTextHeight = barFont.height();
    in.windowFontHeight = QFontMetrics(font()).height();
    const QRect screenRect = screen() ? screen()->geometry() : QRect(0, 0, cx, cy);
    in.screenWidth = screenRect.width();
    in.screenHeight = screenRect.height();
    layout_ = MainLayout::compute(in);
    const MainLayout::Result& r = layout_;

    auto place = [](QWidget* w, const Rect& rc) {
        w->setGeometry(rc.left, rc.top, rc.width(), rc.height());
    };
    for (int i = 0; i < 5; ++i) {
        place(videoBar_[i], r.videoBar[i]);
        videoBar_[i]->loadImages(132, 133);
    }
    place(back_, r.backButton);
    back_->loadImages(132, 133);
    place(treeExit_, r.treeExitButton);
    treeExit_->loadImages(132, 133);

    place(status_, r.statusText);
    place(layoutBtn_, r.layoutButton);
    layoutBtn_->loadImages(149, 150);
    place(video_, r.normalVideo);
    place(tree_, r.tree);

    place(dirLabel_, r.directionLabel);
    place(lensLabel_, r.lensLabel);
    place(dirLeft_, r.directionLeft);
    place(dirRight_, r.directionRight);
    place(lensLeft_, r.lensLeft);
    place(lensRight_, r.lensRight);
    dirLeft_->loadImages(144, 139);
    dirRight_->loadImages(143, 140);
    lensLeft_->loadImages(145, 138);
    lensRight_->loadImages(142, 137);
    dirLabel_->loadImages(136, 141);
    lensLabel_->loadImages(136, 141);

    QPixmap source(QStringLiteral(":/bitmaps/134"));
    band_ = source.isNull() || cx <= 0
                ? QPixmap()
                : source.scaled(cx, r.titleHeight, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    viewer_->setVideoRectangles(r.normalVideo, r.fullScreenVideo);
    if (viewer_->playback().single().fullScreen()) {
        place(video_, r.fullScreenVideo);
        video_->raise();
    }
    placeTiles();
    updateVideoOrigin();
    viewer_->videoAreaMoved();
    update();
}

void MainWindow::paintEvent(QPaintEvent*)
{
    if (!isVisible())
        return;
    QPainter p(this);
    const int W = width(), H = height();
    const int T = layout_.titleHeight, B = layout_.barHeight, P = layout_.panelHeight;
    TitleBand::paint(p, band_, W, T, kLightText);
    // Panel band above the bar, with its top edge.
    p.fillRect(QRect(0, H - B - P, W, P), kDarkGrey);
    p.setPen(kPanelEdge);
    p.drawLine(0, H - B - P, W - 1, H - B - P);
}

}   // namespace kevra
