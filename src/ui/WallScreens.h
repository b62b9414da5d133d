// The walls' and the spot monitor's windows: one WallWindow per wall (and the spot) whose
// screen is there now and is not the main window's, attached to the viewer as the surface of
// that wall. A wall whose screen is missing at start, or goes away, has no window and its
// streams stop; it appears when the screen comes (QGuiApplication::screenAdded/Removed). A
// window is detached from the viewer before it is destroyed, so no frame-timer tick draws into
// it any more. Owned by the main window; user-interface thread only.
#pragma once
#include "ui/WallWindow.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class QScreen;
class QWidget;

namespace kevra {

class Viewer;

class WallScreens : public QObject {
    Q_OBJECT
public:
    WallScreens(Viewer& viewer, QWidget& mainWindow, WallWindow::CameraOf cameraOf);
    ~WallScreens() override;   // detaches and closes every window

    // Makes the windows again from the viewer's walls and the screens there now.
    void rebuild();
    // Each window's layout follows its wall; every tile draws its text again.
    void refresh();
    // The window of wall `number` (0: the spot); null when there is none.
    WallWindow* window(int number) const;

private:
    void closeAll();
    QScreen* screenAt(int index) const;

    Viewer& viewer_;
    QWidget& main_;
    WallWindow::CameraOf cameraOf_;
    std::vector<std::unique_ptr<WallWindow>> windows_;
    QScreen* leaving_ = nullptr;   // a screen being removed: no window goes on it
    QTimer refresh_;
};

}   // namespace kevra
