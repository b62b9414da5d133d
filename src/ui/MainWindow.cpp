#include "ui/MainWindow.h"

#include "app/AppValues.h"
#include "app/ClientLiveViewDevice.h"
#include "app/GridView.h"
#include "app/PtzPanel.h"
#include "app/ViewerLog.h"
#include "common/Utf.h"
#include "device/DeviceClient.h"
#include "device/ResultCode.h"
#include "device/TcpLink.h"
#include "ui/BitmapButton.h"
#include "ui/LoginDialog.h"
#include "ui/DisplaySurface.h"
#include "ui/MessageBoxes.h"
#include "ui/PictureSaver.h"
#include "ui/QtText.h"
#include "ui/TitleBand.h"
#include "ui/VideoArea.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstring>

namespace kevra {

// wParam/lParam of the device messages.
class MainWindow::PostedMessage : public QEvent {
public:
    PostedMessage(int type, int w, int l) : QEvent(QEvent::Type(type)), wParam(w), lParam(l) {}
    const int wParam;
    const int lParam;
};

class MainWindow::CameraListMessage : public QEvent {
public:
    explicit CameraListMessage(std::vector<std::u16string> n)
        : QEvent(QEvent::Type(WM_CAMERA_LIST)), names(std::move(n))
    {
    }
    const std::vector<std::u16string> names;
};

class MainWindow::StatusMessage : public QEvent {
public:
    explicit StatusMessage(std::u16string k)
        : QEvent(QEvent::Type(WM_STATUS_TEXT)), key(std::move(k))
    {
    }
    const std::u16string key;
};

namespace {
const QColor kDarkGrey(24, 24, 24);
const QColor kLightText(200, 200, 200);
const QColor kPanelEdge(45, 50, 46);
constexpr int kItemHandleRole = Qt::UserRole + 1;
constexpr int kChannelRole = Qt::UserRole;
}   // namespace

MainWindow::MainWindow(DeviceClient& client, LiveViewDevice* device, int forcedDepth)
    : QDialog(nullptr, Qt::Window | Qt::FramelessWindowHint), client_(client)
{
    if (!device) {
        ownDevice_ = std::make_unique<ClientLiveViewDevice>(client);
        device = ownDevice_.get();
    }
    device_ = device;

    // 1. Window icon; 2. event sink.
    setWindowIcon(QIcon(QStringLiteral(":/icons/128")));
    client_.setSink(this);

    // 4. Background: black children over the window, dark grey title and panel bands.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);

    // 5. Controls. The video area and tree come first, the buttons over them.
    video_ = new VideoArea(this);
    tree_ = new QTreeWidget(this);
    tree_->setProperty("controlId", int(IDC_TREE));
    tree_->setHeaderHidden(true);
    tree_->setColumnCount(1);
    tree_->setIconSize(QSize(16, 16));
    connect(tree_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item, int) { onTreeClick(item); });

    videoBar_ = {makeButton(ID_LOGIN, u"LOGIN"), makeButton(ID_CAMERA, u"CAMERA"),
                 makeButton(ID_FULL, u"FULL"), makeButton(ID_ABOUT, u"ABOUT"),
                 makeButton(ID_EXIT, u"EXIT")};
    back_ = makeButton(ID_BACK, u"BACK");
    treeExit_ = makeButton(ID_EXIT, u"EXIT");
    dirLeft_ = makeButton(ID_DIR_LEFT, nullptr);
    dirRight_ = makeButton(ID_DIR_RIGHT, nullptr);
    lensLeft_ = makeButton(ID_LENS_LEFT, nullptr);
    lensRight_ = makeButton(ID_LENS_RIGHT, nullptr);
    dirLabel_ = makeButton(ID_DIR_LABEL, PtzPanel::directionLabelKey(0));
    lensLabel_ = makeButton(ID_LENS_LABEL, PtzPanel::lensLabelKey(0));

    status_ = new QLabel(this);
    status_->setProperty("controlId", int(IDC_STATUS));
    status_->setAutoFillBackground(true);
    QPalette sp = status_->palette();
    sp.setColor(QPalette::Window, kDarkGrey);
    sp.setColor(QPalette::WindowText, kLightText);
    status_->setPalette(sp);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    // 6. Tree images: recorder, open camera, idle camera.
    images_[0] = QIcon(QStringLiteral(":/icons/147"));
    images_[1] = QIcon(QStringLiteral(":/icons/148"));
    images_[2] = QIcon(QStringLiteral(":/icons/146"));

    // 7. Initialised; 8. live view with its display surface on the video area.
    initialised_ = true;
    surface_ = std::make_unique<DisplaySurface>(video_, forcedDepth);
    video_->setSurface(surface_.get());
    connect(video_, &VideoArea::clicked, this, &MainWindow::toggleFullScreen);
    connect(video_, &VideoArea::menuRequested, this, &MainWindow::showPictureMenu);
    // S saves the picture, whichever control of the window has the keyboard (a shortcut is
    // seen before the focus widget, which may be the hidden camera tree). Only in video mode:
    // the camera tree keeps S for finding a camera by its first letter.
    saveKey_ = new QShortcut(QKeySequence(Qt::Key_S), this);
    connect(saveKey_, &QShortcut::activated, this, [this] { savePicture(); });
    liveView_ = std::make_unique<LiveView>(*this, *surface_, *device_);
    liveView_->initialise();
    gridCreate();
    setUpRecovery();

    setVideoGroupVisible(false);
    setTreeGroupVisible(false);
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
    tearDownRecovery();
    stopShow();
    client_.setSink(nullptr);
    gridView_.reset();
    liveView_.reset();
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

// ---------------------------------------------------------------- device events (network thread)

void MainWindow::onLogin(int code, int channelCount)
{
    // Reported right after the session's connect on this thread: its system error, if any.
    loginSystemError_ = TcpLink::lastConnectError();
    QCoreApplication::postEvent(this, new PostedMessage(WM_LOGIN_RESULT, code, channelCount));
}

std::vector<std::u16string> MainWindow::splitNames(const uint8_t* block, int length, int count)
{
    std::vector<std::u16string> names;
    if (!block || length <= 0 || count <= 0)
        return names;
    int pos = 0;
    for (int i = 0; i < count && pos < length; ++i) {
        const void* zero = std::memchr(block + pos, 0, size_t(length - pos));
        const int end = zero ? int(static_cast<const uint8_t*>(zero) - block) : length;
        names.push_back(
            fromUtf8(std::string(reinterpret_cast<const char*>(block + pos), size_t(end - pos))));
        pos = end + 2;
    }
    return names;
}

void MainWindow::onList(int code, const uint8_t* block, int length, int count)
{
    // Copy the names now (the block lives only during this call); the tree is filled on the
    // user-interface thread.
    QCoreApplication::postEvent(this, new CameraListMessage(splitNames(block, length, count)));
}

void MainWindow::onChannel(int channel, int code)
{
    QCoreApplication::postEvent(this, new PostedMessage(WM_OPEN_RESULT, code, channel));
}

void MainWindow::onConnectionLost()
{
    QCoreApplication::postEvent(this, new PostedMessage(WM_DEVICE_LOST, 0, 0));
}

void MainWindow::onChannelClosed(int channel)
{
    QCoreApplication::postEvent(this, new PostedMessage(WM_CHANNEL_CLOSED, channel, 0));
}

// ---------------------------------------------------------------- live view host

void MainWindow::postStatus(const std::u16string& key)
{
    QCoreApplication::postEvent(this, new StatusMessage(key));
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
                                                      dirLabel_, lensLabel_, status_})
        w->setVisible(visible);
    // The video area or, while several tiles are shown, the tile area.
    video_->setVisible(visible && !(tileView_ && gridShown()));
    if (tileView_)
        tileView_->setVisible(visible && gridShown());
    if (layoutBtn_)
        layoutBtn_->setVisible(visible);
    for (BitmapButton* b : videoBar_)
        b->setVisible(visible);
    saveKey_->setEnabled(visible);
    if (liveView_)
        liveView_->setVideoShown(visible);
}

void MainWindow::setTreeGroupVisible(bool visible)
{
    tree_->setVisible(visible);
    back_->setVisible(visible);
    treeExit_->setVisible(visible);
}

QTreeWidgetItem* MainWindow::findItem(uintptr_t handle) const
{
    if (handle == 0)
        return nullptr;
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* root = tree_->topLevelItem(i);
        for (int j = 0; j < root->childCount(); ++j)
            if (root->child(j)->data(0, kItemHandleRole).toULongLong() == handle)
                return root->child(j);
    }
    return nullptr;
}

void MainWindow::setItemImage(uintptr_t item, int image)
{
    if (image < 0 || image > 2)
        return;
    if (QTreeWidgetItem* it = findItem(item))
        it->setIcon(0, images_[image]);
}

void MainWindow::moveVideoArea(const Rect& r)
{
    video_->setGeometry(r.left, r.top, r.width(), r.height());
    if (liveView_ && liveView_->fullScreen())
        video_->raise();
    updateVideoOrigin();
}

void MainWindow::connectionLost()
{
    MessageBoxes::show(this, QtText::lang(u"D_DIS"), QtText::from(AppValues::productTitle()),
                       MessageBoxes::Error);
    runLoginSequence();
}

// ---------------------------------------------------------------- posted messages

bool MainWindow::event(QEvent* e)
{
    switch (int(e->type())) {
    case WM_DEVICE_LOST:
        gridConnectionLost();
        if (recoverSessionLoss())
            ViewerLog::event("connection to the recorder lost; logging in again by itself");
        else
            liveView_->onConnectionLost();
        return true;
    case WM_CHANNEL_CLOSED: {
        const int channel = static_cast<PostedMessage*>(e)->wParam;
        if (channel == liveView_->channel() || gridView_->stream(channel))
            recovery_->onChannelClosed(channel);
        return true;
    }
    case WM_LOGIN_RESULT: {
        const int code = static_cast<PostedMessage*>(e)->wParam;
        // A login the dialog waits for is the dialog's; otherwise it may answer a retry.
        if (!(loginDialog_ && loginDialog_->waiting()) && recovery_->onLoginResult(code)) {
            if (code == result_code::OK) {
                ViewerLog::event("reconnected to the recorder");
                client_.queryList();
            } else {
                ViewerLog::detail("login again failed: " + describeResult(code));
            }
            return true;
        }
        if (loginDialog_ && code == result_code::OK)
            gridLoggedIn(*loginDialog_);
        if (loginDialog_)
            loginDialog_->applyLoginResult(code, loginSystemError_.load());
        if (code == result_code::OK)
            client_.queryList();
        return true;
    }
    case WM_OPEN_RESULT: {
        const auto* m = static_cast<PostedMessage*>(e);
        if (!gridView_->onOpenResult(m->lParam, m->wParam))
            liveView_->onOpenResult(m->lParam, m->wParam);
        recovery_->onOpenResult(m->lParam, m->wParam);
        return true;
    }
    case WM_CAMERA_LIST:
        fillTree(static_cast<CameraListMessage*>(e)->names);
        recovery_->onCameraList();
        return true;
    case WM_STATUS_TEXT: {
        const std::u16string& key = static_cast<StatusMessage*>(e)->key;
        // While something is being recovered, the status line says that instead.
        if (recoveryText_.isEmpty())
            status_->setText(QtText::lang(key));
        ViewerLog::detail("status " + toUtf8(key));
        return true;
    }
    default: return QDialog::event(e);
    }
}

void MainWindow::fillTree(const std::vector<std::u16string>& names)
{
    tree_->clear();
    auto* root = new QTreeWidgetItem(QStringList(QtText::lang(u"DEVICE")));
    root->setIcon(0, images_[0]);
    tree_->addTopLevelItem(root);
    for (size_t i = 0; i < names.size(); ++i) {
        auto* item = new QTreeWidgetItem(QStringList(QtText::from(names[i])));
        item->setIcon(0, images_[2]);
        item->setData(0, kChannelRole, int(i));
        item->setData(0, kItemHandleRole, qulonglong(nextItemHandle_++));
        root->addChild(item);
    }
    root->setExpanded(true);
    gridCamerasListed(names);
}

void MainWindow::onTreeClick(QTreeWidgetItem* item)
{
    if (!item || !item->parent())
        return;   // nothing hit, or the root item
    if (gridChooseCamera(item->data(0, kChannelRole).toInt()))
        return;   // it went into the selected tile of the grid
    liveView_->openCamera(uintptr_t(item->data(0, kItemHandleRole).toULongLong()),
                          item->data(0, kChannelRole).toInt());
}

// ---------------------------------------------------------------- commands

void MainWindow::command(int id)
{
    switch (id) {
    case ID_LOGIN: runLoginSequence(); break;
    case ID_CAMERA: showTreeMode(); break;
    case ID_FULL: toggleFullScreen(); break;
    case ID_ABOUT: showAbout(); break;
    case ID_EXIT:
        tearDownRecovery();
        stopShow();
        done(QDialog::Rejected);
        break;
    case ID_BACK: showVideoMode(); break;
    case ID_LAYOUT: cycleLayout(); break;
    case ID_DIR_LEFT: sendPtz(PtzPanel::directionCode(true, directionMode_)); break;
    case ID_DIR_RIGHT: sendPtz(PtzPanel::directionCode(false, directionMode_)); break;
    case ID_LENS_LEFT: sendPtz(PtzPanel::lensCode(true, lensMode_)); break;
    case ID_LENS_RIGHT: sendPtz(PtzPanel::lensCode(false, lensMode_)); break;
    case ID_DIR_LABEL:
        directionMode_ = PtzPanel::nextDirectionMode(directionMode_);
        dirLabel_->setText(QtText::lang(PtzPanel::directionLabelKey(directionMode_)));
        break;
    case ID_LENS_LABEL:
        lensMode_ = PtzPanel::nextLensMode(lensMode_);
        lensLabel_->setText(QtText::lang(PtzPanel::lensLabelKey(lensMode_)));
        break;
    default: break;
    }
}

void MainWindow::sendPtz(int code)
{
    const int channel = ptzChannel();
    if (channel != -1)
        client_.ptz(channel, code, 0);
}

bool MainWindow::handleArrowKey(int qtKey)
{
    int vk = 0;
    switch (qtKey) {
    case Qt::Key_Left: vk = PtzPanel::KeyLeft; break;
    case Qt::Key_Up: vk = PtzPanel::KeyUp; break;
    case Qt::Key_Right: vk = PtzPanel::KeyRight; break;
    case Qt::Key_Down: vk = PtzPanel::KeyDown; break;
    default: return false;
    }
    const int channel = ptzChannel();
    if (channel == -1)
        return false;
    // Remapped only while the picture really is shown turned, not from the window's shape.
    const bool turned = !gridShown() && liveView_->pictureTurned();
    client_.ptz(channel, PtzPanel::keyCode(vk, turned), 0);
    return true;
}

void MainWindow::stopShow()
{
    if (gridView_)
        gridStop();
    if (liveView_)
        liveView_->stop();
    device_->stopChannel();   // also after a refused open, when the live view holds no stream
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e)
{
    // Arrow keys aimed at this window drive the camera. A key event is seen once: at the widget
    // it is first delivered to (the focus widget, or this window). In video mode the key ends
    // there, so the hidden camera tree's selection never moves with it; in tree mode it goes on
    // to the tree as usual.
    if (e->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        QWidget* first = QApplication::focusWidget() ? QApplication::focusWidget() : this;
        if (w == first && w->window() == this) {
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (handleLayoutKey(key, static_cast<QKeyEvent*>(e)->modifiers()))
                return true;   // 1, 4, 9: the layout, whichever widget has the focus
            handleArrowKey(key);
            const bool arrow = key == Qt::Key_Left || key == Qt::Key_Up || key == Qt::Key_Right ||
                               key == Qt::Key_Down;
            if (arrow && isVideoMode())
                return true;
        }
    }
    return QDialog::eventFilter(watched, e);
}

void MainWindow::keyPressEvent(QKeyEvent* e)
{
    // Escape must not end the program by accident: only EXIT (or closing the window) does.
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
    menu.exec(globalPos);
}

QString MainWindow::savePicture(const QString& folder)
{
    const QImage shown = liveView_->openItem() != 0 ? surface_->picture() : QImage();
    if (shown.isNull()) {
        status_->setText(QtText::lang(u"NO_PIC"));
        return QString();
    }
    const QTreeWidgetItem* item = findItem(liveView_->openItem());
    const QString camera = item ? item->text(0) : QString();
    const PictureSaver::Result r =
        PictureSaver::save(PictureSaver::upright(shown, liveView_->pictureTurned()), camera,
                           folder.isEmpty() ? PictureSaver::folder() : folder);
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
    ViewerLog::event(r.saved ? "picture saved to " + where.toStdString()
                             : "picture not saved to " + where.toStdString() + ": " +
                                   r.error.toStdString());
    return r.saved ? r.path : QString();
}

void MainWindow::toggleFullScreen()
{
    if (gridShown()) {
        // The whole grid, never turned.
        gridFull_ = !gridFull_;
        gridPlace();
        return;
    }
    liveView_->toggleFullScreen();
}

void MainWindow::showAbout()
{
    const QString text = QtText::from(AppValues::productTitle()) + "\n" + QtText::lang(u"VERSION") +
                         QtText::from(AppValues::versionText()) + "\n" + QtText::lang(u"BUILD") +
                         QStringLiteral(" : 2010-10-22\n");
    MessageBoxes::show(this, text, QtText::lang(u"ABOUT"), MessageBoxes::Information);
}

// ---------------------------------------------------------------- login

void MainWindow::runLoginSequence()
{
    if (loginDialog_) {
        loginDialog_->raise();   // one login dialog at a time
        return;
    }
    tree_->clear();
    auto* dlg = new LoginDialog(&client_, nullptr);
    dlg->setWindowModality(Qt::ApplicationModal);
    dlg->setAttribute(Qt::WA_DeleteOnClose, false);
    loginDialog_ = dlg;
    onLoginDialogOpened();
    connect(dlg, &QDialog::finished, this, [this, dlg] { finishLogin(dlg); });
    dlg->open();
}

void MainWindow::finishLogin(LoginDialog* dlg)
{
    const bool cancelled = dlg->cancelled();
    if (loginDialog_ == dlg)
        loginDialog_ = nullptr;
    dlg->deleteLater();
    onLoginDialogFinished(cancelled, dlg->settingsPath());
    if (cancelled) {
        stopShow();
        done(QDialog::Rejected);
    } else {
        showTreeMode();
    }
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
    if (liveView_)
        liveView_->setLayoutDirty();
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
    liveView_->setRectangles(r.normalVideo, r.fullScreenVideo);
    if (liveView_->fullScreen()) {
        place(video_, r.fullScreenVideo);
        video_->raise();
    }
    if (tileView_)
        gridPlace();
    updateVideoOrigin();
    liveView_->setLayoutDirty();
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
