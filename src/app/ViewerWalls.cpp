// The coordinator's walls and spot monitor: what views.ini says about them, what they show and
// their tours; Playback runs their tiles with the main window's on the one frame timer.
#include "app/AppValues.h"
#include "app/Viewer.h"
#include "app/WallLayout.h"
#include "common/Clock.h"
#include "profile/Language.h"
#include "profile/ViewSettings.h"
#include "profile/WallSettings.h"

#include <algorithm>

namespace kevra {

std::u16string Viewer::wallsPath() const
{
    return remembered_.path().empty() ? ViewSettings::pathIn(AppValues::settingsFolder())
                                      : remembered_.path();
}

void Viewer::loadWalls()
{
    const std::u16string path = wallsPath();
    walls_.load(WallSettings::loadAll(path), WallSettings::loadSpotScreen(path),
                [this](const std::u16string& name) {
                    return RememberedView::recorderOf(name, recorders_);
                });
}

void Viewer::saveWalls()
{
    // Before a login the further recorders' tiles are not resolved yet: writing then would empty
    // them in the file.
    if (remembered_.path().empty())
        return;
    const std::u16string path = wallsPath();
    const auto nameOf = [this](int recorder) {
        return RememberedView::sourceOf(recorder, recorders_);
    };
    for (const WallSettings& stored : WallSettings::loadAll(path))
        if (!walls_.wall(stored.number))
            WallSettings::remove(path, stored.number);
    for (const WallSet::Wall& w : walls_.walls())
        WallSettings::save(path, walls_.settings(w.number, nameOf));
    WallSettings::saveSpotScreen(path, walls_.spotScreen());
}

void Viewer::resumeWallTours()
{
    for (const WallSet::Wall& w : walls_.walls())
        if (w.tourToResume)
            walls_.startTour(w.number, grid_.model().cameras(), w.dwellS, Clock::nowMs());
}

void Viewer::addWalls(Playback::Shown& shown)
{
    walls_.follow(gridShown() ? grid_.model().selectedCamera() : grid_.model().camera(0));
    for (Playback::Shown::Wall w : walls_.shown()) {
        for (CameraId& c : w.tiles)
            if (!grid_.model().listed(c))
                c = CameraId{};   // not listed (yet): kept by the wall, shown once it is
        shown.walls.push_back(w);
    }
    for (CameraId c : walls_.preparing())
        if (grid_.model().listed(c))
            shown.live.push_back(c);
}

void Viewer::framedMoved()
{
    if (walls_.spotSurface() && grid_.model().selectedCamera() != walls_.spotCamera())
        grid_.apply(false);   // the spot follows the framed camera
}

void Viewer::pollWalls()
{
    const auto ready = [this](CameraId c) {
        const StreamController* s = playback_->stream(c);
        return s && s->state() == StreamController::State::Playing;
    };
    if (walls_.poll(Clock::nowMs(), ready))
        grid_.apply(false);
}

void Viewer::attachWall(int number, TileSurface* surface)
{
    walls_.attach(number, surface);
    grid_.apply(false);
}

void Viewer::attachSpot(TileSurface* surface)
{
    walls_.attachSpot(surface);
    grid_.apply(false);
}

bool Viewer::sendToWall(int number)
{
    const CameraId c = gridShown() ? grid_.model().selectedCamera() : grid_.model().camera(0);
    if (!c.valid() || !walls_.send(number, c))
        return false;
    grid_.apply(false);
    saveWalls();
    return true;
}

bool Viewer::placeOnWall(int number, int tile, CameraId camera)
{
    if (!grid_.model().listed(camera) || !walls_.place(number, tile, camera))
        return false;
    grid_.apply(false);
    saveWalls();
    return true;
}

bool Viewer::cycleWallLayout(int number)
{
    const WallSet::Wall* w = walls_.wall(number);
    if (!w || !walls_.setLayout(number, WallLayout::next(w->layout)))
        return false;
    grid_.apply(false);
    saveWalls();
    return true;
}

bool Viewer::toggleWallTours()
{
    bool any = false;
    for (const WallSet::Wall& w : walls_.walls())
        any = any || walls_.touring(w.number);
    for (const WallSet::Wall& w : walls_.walls()) {
        if (any)
            walls_.stopTour(w.number);
        else
            walls_.startTour(w.number, grid_.model().cameras(), w.dwellS, Clock::nowMs());
    }
    grid_.apply(false);
    saveWalls();
    return !any;
}

void Viewer::assignWallScreens(const std::vector<int>& screens, int spotScreen)
{
    walls_.assignScreens(screens, spotScreen);
    grid_.apply(false);   // every surface is detached: the walls' streams stop
    saveWalls();
}

Viewer::TileLabel Viewer::wallLabel(const TileSurface* wall, int position) const
{
    TileLabel l;
    CameraId c = playback_->wallCamera(wall, position);
    const bool stopped = !c.valid();
    if (stopped) {
        // No stream (not listed yet, the connection lost): the tile still names its camera.
        for (const WallSet::Wall& w : walls_.walls())
            if (w.surface == wall && position >= 0 && position < w.layout)
                c = w.tiles[size_t(position)];
        if (wall == walls_.spotSurface() && position == 0)
            c = walls_.spotCamera();
        if (!c.valid() || !grid_.model().listed(c))
            return l;
    }
    l.name = cameraName(c);
    l.state = Language::text(
        stopped ? u"STOP_TILE" : StreamController::tileKey(playback_->wallState(wall, position)));
    // A recorder that is away: its tiles say so (and keep their last pictures).
    if (std::u16string away = recorderAway(c); !away.empty())
        l.state = std::move(away);
    const StreamController* s = stopped ? nullptr : playback_->stream(c);
    if (const int seconds = s ? s->stalledSeconds() : 0)
        l.note = Language::format(u"NO_PICTURE", {seconds});
    l.recording = recordingMark(c);
    return l;
}

}   // namespace kevra
