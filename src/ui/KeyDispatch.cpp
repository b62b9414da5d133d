#include "ui/KeyDispatch.h"

#include "app/DigitalZoom.h"
#include "app/PtzPanel.h"
#include "app/Viewer.h"
#include "common/Clock.h"
#include "ui/CameraTree.h"
#include "ui/HelpOverlay.h"
#include "ui/MainWindow.h"
#include "ui/QtKeys.h"
#include "ui/TileView.h"
#include "ui/VideoArea.h"
#include "ui/WallScreens.h"

#include <QApplication>
#include <QKeyEvent>

#include <algorithm>

namespace kevra {

KeyDispatch::KeyDispatch(MainWindow& window) : QObject(&window), window_(window)
{
    holdTimer_.setInterval(int(PtzHold::kStepMs / 3));
    connect(&holdTimer_, &QTimer::timeout, this, [this] {
        if (const std::optional<PtzCode> code = hold_.due(Clock::nowMs()))
            window_.viewer().ptz(*code);
    });
    qApp->installEventFilter(this);
}

KeyDispatch::~KeyDispatch()
{
    qApp->removeEventFilter(this);
}

bool KeyDispatch::eventFilter(QObject* watched, QEvent* e)
{
    const QEvent::Type type = e->type();
    if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && watched->isWidgetType()) {
        // A key event is seen once: at the widget it is first delivered to, before that widget
        // (the camera tree, say) acts on it. That is the window's focus widget, or the window,
        // whether or not the platform counts the window as active.
        auto* w = static_cast<QWidget*>(watched);
        QWidget* first = window_.focusWidget() ? window_.focusWidget() : &window_;
        HelpOverlay* help = window_.helpOverlay();
        if (w != first || w->window() != &window_ || w == help)
            return false;
        auto* k = static_cast<QKeyEvent*>(e);
        if (help->isVisible()) {
            if (type == QEvent::KeyPress)   // the help reads the keys while it is shown
                QApplication::sendEvent(help, k);
            return true;
        }
        if (type == QEvent::KeyPress)
            return handleKey(*k);
        if (!k->isAutoRepeat() && hold_.release(QtKeys::key(*k)))
            holdTimer_.stop();
    } else if (type == QEvent::ApplicationDeactivate ||
               (type == QEvent::WindowDeactivate && watched == &window_)) {
        endHold();   // the key's release will not come here
    } else if (type == QEvent::Hide && watched->isWidgetType() && watched != &window_) {
        // A dialog, message box or menu over the window closed: the keyboard comes back to the
        // window once the platform is done with the closing window.
        const Qt::WindowType t = static_cast<QWidget*>(watched)->windowType();
        if ((t == Qt::Dialog || t == Qt::Popup) && !backPending_) {
            backPending_ = true;
            QTimer::singleShot(0, this, &KeyDispatch::takeKeyboardBack);
        }
    }
    return false;
}

void KeyDispatch::takeKeyboardBack()
{
    backPending_ = false;
    if (!window_.isVisible() || QApplication::activeModalWidget() ||
        QApplication::activePopupWidget())
        return;
    window_.activateWindow();
    QWidget* f = window_.focusWidget();
    if (!f || !f->isVisible())
        window_.setFocus(Qt::ActiveWindowFocusReason);
}

int KeyDispatch::place() const
{
    if (!window_.isVideoMode())
        return KeyTable::Tree;
    const bool grid = window_.gridShown();
    const int place = grid ? KeyTable::Grid : KeyTable::Single;
    const bool full =
        grid ? window_.gridFullScreen() : window_.viewer().playback().single().fullScreen();
    return full ? place | KeyTable::FullScreen : place;
}

bool KeyDispatch::handleKey(const QKeyEvent& k)
{
    const int key = QtKeys::key(k);
    const int where = place();
    const KeyTable::Binding* b = key ? KeyTable::find(key, QtKeys::modifiers(k), where) : nullptr;
    const bool arrow = key == KeyTable::Left || key == KeyTable::Up || key == KeyTable::Right ||
                       key == KeyTable::Down;
    if (!b)
        return arrow && where != KeyTable::Tree;   // the hidden tree's selection stays put
    if (!k.isAutoRepeat() || b->hold == KeyTable::Hold::Repeats)
        run(b->command, key);
    // In the camera tree the camera moves and the tree moves its highlight too.
    return !(arrow && where == KeyTable::Tree);
}

bool KeyDispatch::arrowKey(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Left: return window_.viewer().arrowKey(KeyTable::Left);
    case Qt::Key_Up: return window_.viewer().arrowKey(KeyTable::Up);
    case Qt::Key_Right: return window_.viewer().arrowKey(KeyTable::Right);
    case Qt::Key_Down: return window_.viewer().arrowKey(KeyTable::Down);
    default: return false;
    }
}

void KeyDispatch::startHold(int key, PtzCode code)
{
    // A camera move runs while its key is held: the first step now, the next at a steady pace.
    if (!window_.viewer().ptzCamera().valid())
        return;
    hold_.press(key, code, Clock::nowMs());
    window_.viewer().ptz(code);
    holdTimer_.start();
}

void KeyDispatch::endHold()
{
    hold_.cancel();
    holdTimer_.stop();
}

void KeyDispatch::frameNextTile(int step)
{
    const TileGrid& g = window_.grid();
    if (!window_.gridShown() || g.zoomed())
        return;
    const int n = g.layout();
    window_.viewer().clickTile(((std::max(g.selected(), 0) + step) % n + n) % n);
}

void KeyDispatch::zoomKey(KeyTable::Command c)
{
    using C = KeyTable::Command;
    const bool grid = window_.gridShown();
    DigitalZoom& zoom = grid ? window_.tileZoom() : window_.zoom();
    const bool turned = !grid && window_.viewer().pictureTurned();
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
    window_.videoArea()->update();
    window_.tileView()->update();
}

void KeyDispatch::run(KeyTable::Command c, int key)
{
    using C = KeyTable::Command;
    Viewer& viewer = window_.viewer();
    const bool turned = viewer.pictureTurned();
    auto move = [&](int arrow) {
        if (const std::optional<PtzCode> code = PtzPanel::keyCode(arrow, turned))
            startHold(key, *code);
    };
    switch (c) {
    case C::Help: window_.helpOverlay()->open(); break;
    case C::Login: window_.runLoginSequence(); break;
    case C::Settings: window_.openSettings(); break;
    case C::About: window_.showAbout(); break;
    case C::Exit: window_.command(MainWindow::ExitCommand); break;
    case C::Layout1: viewer.chooseLayout(1); break;
    case C::Layout4: viewer.chooseLayout(4); break;
    case C::Layout9: viewer.chooseLayout(9); break;
    case C::Layout16: viewer.chooseLayout(16); break;
    case C::CycleLayout: viewer.cycleLayout(); break;
    case C::OpenCamera: window_.cameraTree()->openHighlighted(); break;
    case C::BackToPicture: window_.showVideoMode(); break;
    case C::LeaveFullScreen:
    case C::FullScreen: window_.toggleFullScreen(); break;
    case C::CameraTree: window_.showTreeMode(); break;
    case C::MoveLeft: move(KeyTable::Left); break;
    case C::MoveUp: move(KeyTable::Up); break;
    case C::MoveRight: move(KeyTable::Right); break;
    case C::MoveDown: move(KeyTable::Down); break;
    case C::LensZoomIn: startHold(key, PtzCode::ZoomIn); break;
    case C::LensZoomOut: startHold(key, PtzCode::ZoomOut); break;
    case C::IrisPlus: startHold(key, PtzCode::IrisPlus); break;
    case C::IrisMinus: startHold(key, PtzCode::IrisMinus); break;
    case C::FocusPlus: startHold(key, PtzCode::FocusPlus); break;
    case C::FocusMinus: startHold(key, PtzCode::FocusMinus); break;
    case C::ZoomIn:
    case C::ZoomOut:
    case C::ZoomReset:
    case C::PanLeft:
    case C::PanUp:
    case C::PanRight:
    case C::PanDown: zoomKey(c); break;
    case C::SavePicture: window_.savePicture(); break;
    case C::Record: viewer.toggleRecording(); break;
    case C::Tour: viewer.toggleTour(); break;
    case C::GridTour: viewer.toggleTour(true); break;
    case C::Stats: viewer.toggleStats(); break;
    case C::LowLatency: viewer.setLowLatency(!viewer.lowLatency(), true); break;
    case C::SendToWall1: viewer.sendToWall(1); break;
    case C::SendToWall2: viewer.sendToWall(2); break;
    case C::SendToWall3: viewer.sendToWall(3); break;
    case C::SendToWall4: viewer.sendToWall(4); break;
    case C::WallLayout1:
    case C::WallLayout2:
    case C::WallLayout3:
    case C::WallLayout4:
        viewer.cycleWallLayout(int(c) - int(C::WallLayout1) + 1);
        window_.wallScreens().refresh();
        break;
    case C::WallTours: viewer.toggleWallTours(); break;
    case C::NextTile: frameNextTile(1); break;
    case C::PreviousTile: frameNextTile(-1); break;
    case C::TileAlone:
        if (window_.gridShown())
            window_.toggleTileZoom(std::max(window_.grid().selected(), 0));
        break;
    }
}

}   // namespace kevra
