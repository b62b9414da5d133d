#include "ui/MainWindow.h"

#include "app/AppValues.h"
#include "app/ViewerLog.h"
#include "profile/LoginSettings.h"
#include "profile/ViewSettings.h"
#include "ui/BitmapButton.h"
#include "ui/CameraTree.h"
#include "ui/DisplaySurface.h"
#include "ui/HelpOverlay.h"
#include "ui/LoginSequence.h"
#include "ui/MessageBoxes.h"
#include "ui/PictureMenu.h"
#include "ui/PictureSaver.h"
#include "ui/PtzButtons.h"
#include "ui/RecorderListDialog.h"
#include "ui/QtText.h"
#include "ui/SettingsDialog.h"
#include "ui/StatusRow.h"
#include "ui/TitleBand.h"
#include "ui/VideoArea.h"
#include "ui/WallScreens.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace kevra {

namespace {
const QColor kDarkGrey(24, 24, 24);
const QColor kLightText(200, 200, 200);
const QColor kPanelEdge(45, 50, 46);
}   // namespace

MainWindow::MainWindow(Playback::DeviceFactory devices, int forcedDepth)
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
    tree_ = new CameraTree(this);
    tree_->onCameraChosen = [this](CameraId camera) { viewer_->chooseCamera(camera); };
    tree_->onRecorderList = [this] { editRecorderList(); };

    videoBar_ = {makeButton(LoginCommand, u"LOGIN"), makeButton(CameraCommand, u"CAMERA"),
                 makeButton(FullCommand, u"FULL"), makeButton(AboutCommand, u"ABOUT"),
                 makeButton(ExitCommand, u"EXIT")};
    back_ = makeButton(BackCommand, u"BACK");
    treeExit_ = makeButton(ExitCommand, u"EXIT");
    ptz_ = std::make_unique<PtzButtons>(
        this,
        std::array<int, 6>{DirLeftCommand, DirRightCommand, LensLeftCommand, LensRightCommand,
                           DirLabelCommand, LensLabelCommand},
        [this](int id) { command(id); }, [this](PtzCode code) { viewer_->ptz(code); });
    layoutBtn_ = makeButton(LayoutCommand, nullptr);
    layoutBtn_->setToolTip(QtText::lang(u"LAYOUT"));

    status_ = new StatusRow(this);

    surface_ = std::make_unique<DisplaySurface>(video_, forcedDepth);
    video_->setSurface(surface_.get());
    connect(video_, &VideoArea::clicked, this, &MainWindow::toggleFullScreen);
    auto pictureMenu = [this](const QPoint& at) { PictureMenu::exec(*this, at); };
    connect(video_, &VideoArea::menuRequested, this, pictureMenu);
    video_->setNoticeSource([this] { return QtText::from(viewer_->videoNotice()); });
    video_->setMarkSource([this] { return QtText::from(viewer_->recordingMark()); });
    video_->setStatsSource([this] { return QtText::from(viewer_->singleStats()); });
    video_->setZoom(&zoom_, [this] { return viewer_->pictureTurned(); });

    tileView_ = new TileView(this);
    tileView_->hide();
    tileView_->setDescribe([this](int p) { return tileLabel(p); });
    connect(tileView_, &TileView::tileClicked, this, &MainWindow::clickTile);
    connect(tileView_, &TileView::tileDoubleClicked, this, &MainWindow::toggleTileZoom);
    tileView_->setZoom(&tileZoom_);
    connect(tileView_, &TileView::dragStarted, this, [this] { fullTimer_->stop(); });
    connect(tileView_, &TileView::menuRequested, this, pictureMenu);
    fullTimer_ = new QTimer(this);
    fullTimer_->setSingleShot(true);
    connect(fullTimer_, &QTimer::timeout, this, &MainWindow::toggleFullScreen);

    help_ = new HelpOverlay(this);
    connect(help_, &HelpOverlay::closed, this, [this] { setFocus(Qt::OtherFocusReason); });

    viewer_ = std::make_unique<Viewer>(static_cast<ViewerView&>(*this), *surface_, *tileView_,
                                       std::move(devices));
    viewer_->loadWalls();
    login_ = std::make_unique<LoginSequence>(*viewer_);
    walls_ = std::make_unique<WallScreens>(*viewer_, *this, [](const QMap<int, QVariant>& roles) {
        if (!roles.contains(CameraTree::kChannelRole))
            return CameraId{};
        return CameraId{roles.value(CameraTree::kRecorderRole, 0).toInt(),
                        roles.value(CameraTree::kChannelRole).toInt()};
    });
    initialised_ = true;
    pollTimer_ = new QTimer(this);
    connect(pollTimer_, &QTimer::timeout, this, [this] {
        viewer_->poll();
        status_->showTour(QtText::from(viewer_->tourText()));
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
    keys_ = new KeyDispatch(*this);
}

MainWindow::~MainWindow()
{
    delete keys_;   // no key reaches a half-destroyed window
    pollTimer_->stop();
    login_.reset();
    walls_.reset();    // the walls' windows go before their streams' owner
    viewer_.reset();   // streams stopped, sessions ended, their threads joined
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
    for (BitmapButton* b : {back_, layoutBtn_})
        if (b->commandId() == id)
            return b;
    return ptz_->button(id);
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

void MainWindow::showRecorders(const std::vector<RecorderNode>& nodes)
{
    tree_->showRecorders(nodes);
}

void MainWindow::editRecorderList()
{
    RecorderListDialog dlg(LoginSettings::pathIn(AppValues::settingsFolder()), this);
    dlg.exec();
    if (dlg.changed())
        viewer_->followRecorderList();
}

void MainWindow::setCameraShown(CameraId camera, bool shown)
{
    tree_->setCameraShown(camera, shown);
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
    ptz_->setVisible(visible);
    status_->setVisible(visible);
    layoutBtn_->setVisible(visible);
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
    status_->showState(QtText::from(text));
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
    MessageBoxes::error(this, QtText::lang(u"D_DIS"));
}

void MainWindow::showError(const std::u16string& text)
{
    MessageBoxes::error(this, QtText::from(text));
}

void MainWindow::endProgram()
{
    done(QDialog::Rejected);
}

TileView::Label MainWindow::tileLabel(int position)
{
    const Viewer::TileLabel l = viewer_->tileLabel(position);
    return TileView::Label{QtText::from(l.name), QtText::from(l.state), QtText::from(l.note),
                           QtText::from(l.recording), QtText::from(l.stats)};
}

// ---------------------------------------------------------------- input

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
    default: ptz_->command(id); break;
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

QString MainWindow::savePicture(const QString& folder)
{
    const Viewer::SaveSource source = viewer_->saveSource();
    QImage shown;
    if (!source.camera.empty())
        shown = source.tile ? tileView_->keptPicture() : surface_->picture();
    if (shown.isNull()) {
        status_->showPassing(QtText::lang(u"NO_PIC"));
        return QString();
    }
    const PictureSaver::Result r =
        PictureSaver::save(PictureSaver::upright(shown, source.turned), QtText::from(source.camera),
                           !folder.isEmpty()           ? folder
                           : !pictureFolder_.isEmpty() ? pictureFolder_
                                                       : PictureSaver::folder());
    status_->showFile(QtText::lang(r.saved ? u"PIC_SAVED" : u"PIC_SAVE_ERR") + QLatin1Char(' '),
                      r.path);
    const std::string where = QDir::toNativeSeparators(r.path).toStdString();
    ViewerLog::event(r.saved ? "picture saved to " + where
                             : "picture not saved to " + where + ": " + r.error.toStdString());
    return r.saved ? r.path : QString();
}

void MainWindow::showAbout()
{
    MessageBoxes::about(this);
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
    SettingsDialog::Screens screens;
    for (const WallSet::Wall& w : viewer_->walls().walls()) {
        if (size_t(w.number) > screens.walls.size())
            screens.walls.resize(size_t(w.number), -1);
        screens.walls[size_t(w.number - 1)] = w.screen;
    }
    const QList<QScreen*> all = QGuiApplication::screens();
    screens.count = int(all.size());
    screens.main = int(all.indexOf(screen()));
    screens.spot = viewer_->walls().spotScreen();
    const SettingsDialog::Screens before = screens;
    const std::optional<ViewerSettings> s =
        SettingsDialog::edit(this, loginPath, viewsPath, &screens);
    if (!s)
        return;
    if (screens.walls != before.walls || screens.spot != before.spot) {
        viewer_->assignWallScreens(screens.walls, screens.spot);
        walls_->rebuild();
    }
    applySettings(*s);
    viewer_->setAutoReconnect(s->autoReconnect);
    viewer_->setLowLatency(s->lowLatency, false);   // saved with the rest
    viewer_->setStreamNumbers(s->tileStream, s->singleStream);
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

    ptz_->place(r);

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
