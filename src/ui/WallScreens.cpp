#include "ui/WallScreens.h"

#include "app/Viewer.h"
#include "app/ViewerLog.h"
#include "ui/QtText.h"
#include "ui/TileView.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <string>

namespace kevra {

WallScreens::WallScreens(Viewer& viewer, QWidget& mainWindow, WallWindow::CameraOf cameraOf)
    : viewer_(viewer), main_(mainWindow), cameraOf_(std::move(cameraOf))
{
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen*) { rebuild(); });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, [this](QScreen* gone) {
        leaving_ = gone;
        rebuild();
        leaving_ = nullptr;
    });
    // Stall notes and recorder states change without a picture: drawn again each second.
    connect(&refresh_, &QTimer::timeout, this, &WallScreens::refresh);
    refresh_.start(1000);
}

WallScreens::~WallScreens()
{
    closeAll();
}

QScreen* WallScreens::screenAt(int index) const
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (index < 0 || index >= screens.size() || screens[index] == leaving_ ||
        screens[index] == main_.screen())
        return nullptr;
    return screens[index];
}

void WallScreens::closeAll()
{
    for (const auto& w : windows_) {
        if (w->number() > 0)
            viewer_.attachWall(w->number(), nullptr);
        else
            viewer_.attachSpot(nullptr);
    }
    windows_.clear();
}

void WallScreens::rebuild()
{
    closeAll();
    ViewerLog::event("walls: " + std::to_string(QGuiApplication::screens().size()) + " screens, " +
                     std::to_string(viewer_.walls().walls().size()) + " walls");
    auto open = [this](QScreen* screen, int number, int tiles) {
        auto w = std::make_unique<WallWindow>(screen, number, cameraOf_);
        TileView* t = w->tiles();
        t->setTiles(tiles, -1);
        t->setDescribe([this, t](int p) {
            const Viewer::TileLabel l = viewer_.wallLabel(t, p);
            return TileView::Label{QtText::from(l.name), QtText::from(l.state),
                                   QtText::from(l.note), QtText::from(l.recording), QString()};
        });
        connect(w.get(), &WallWindow::cameraDropped, this,
                [this](int n, int tile, int recorder, int channel) {
                    viewer_.placeOnWall(n, tile, CameraId{recorder, channel});
                });
        w->showFullScreen();
        windows_.push_back(std::move(w));
        return t;
    };
    for (const WallSet::Wall& wall : viewer_.walls().walls())
        if (QScreen* s = screenAt(wall.screen))
            viewer_.attachWall(wall.number, open(s, wall.number, wall.layout));
    if (QScreen* s = screenAt(viewer_.walls().spotScreen()))
        viewer_.attachSpot(open(s, 0, 1));
}

void WallScreens::refresh()
{
    for (const auto& w : windows_) {
        const WallSet::Wall* wall = w->number() > 0 ? viewer_.walls().wall(w->number()) : nullptr;
        const int tiles = wall ? wall->layout : 1;
        if (w->tiles()->tileCount() != tiles)
            w->tiles()->setTiles(tiles, -1);
        w->tiles()->update();
    }
}

WallWindow* WallScreens::window(int number) const
{
    for (const auto& w : windows_)
        if (w->number() == number)
            return w.get();
    return nullptr;
}

}   // namespace kevra
