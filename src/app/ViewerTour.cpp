#include "app/ViewerTour.h"

#include "common/Clock.h"
#include "profile/Language.h"
#include "profile/TourSettings.h"

#include <algorithm>

namespace kevra {

bool ViewerTour::toggle(bool wholeGrid, CameraId single, const std::u16string& settingsPath)
{
    const uint64_t now = Clock::nowMs();
    using Kind = TourController::Kind;
    const Kind wanted = !gridShown()                  ? Kind::Camera
                        : wholeGrid || grid_.zoomed() ? Kind::Grid
                                                      : Kind::Tile;
    // A running tour ends, whichever key; a paused one of the other kind gives way.
    if (tour_.running() || (tour_.paused() && tour_.kind() != wanted)) {
        const bool running = tour_.running();
        tour_.stop();
        host_.apply(false);   // the camera opened ahead stops; views.ini keeps the view as it was
        if (running)
            return true;
    }
    const TourSettings settings = TourSettings::load(settingsPath);
    if (tour_.paused()) {
        // A paused tile tour goes on in its tile from the camera it shows now, through the
        // cameras the other tiles do not show now: a manual choice may have changed them.
        if (wanted == Kind::Tile)
            return startTile(tour_.tile() < grid_.layout() ? tour_.tile() : grid_.selected(),
                             settings.dwellS, now);
        tour_.resume(now);
        return true;
    }
    // Tours go through every recorder's cameras, in tree order.
    cameras_ = grid_.cameras();
    const int cameras = int(cameras_.size());
    bool started = false;
    if (wanted == Kind::Camera) {
        started = tour_.start(Kind::Camera, 1, cameras, index(single), settings.dwellS, now);
    } else if (wanted == Kind::Tile) {
        return startTile(grid_.selected(), settings.dwellS, now);
    } else {
        const int layout =
            grid_.layout() == 4 || grid_.layout() == 9 ? grid_.layout() : settings.grid;
        started = cameras > layout &&
                  tour_.start(Kind::Grid, layout, cameras,
                              index(grid_.camera(grid_.zoomed() ? grid_.selected() : 0)),
                              settings.dwellS, now);
        if (started)
            showPage();
    }
    if (!started)
        tellNothing();
    return started;
}

void ViewerTour::tellNothing()
{
    host_.tell(Language::text(grid_.cameras().size() >= 2 ? u"TOUR_ALL_SHOWN" : u"TOUR_NONE_T"));
}

// A grid tile through every camera the other tiles of the grid do not show.
bool ViewerTour::startTile(int tile, int dwellS, uint64_t nowMs)
{
    cameras_ = grid_.cameras();
    std::vector<int> cameras;
    for (int i = 0; i < int(cameras_.size()); ++i) {
        const int at = grid_.tileOf(cameras_[size_t(i)]);
        if (at < 0 || at == tile || at >= grid_.layout())
            cameras.push_back(i);
    }
    const int current = index(grid_.camera(tile));
    if (!tour_.startTile(tile, cameras, current, dwellS, nowMs)) {
        tellNothing();
        return false;
    }
    if (tour_.currentPage() != std::vector<int>{current})   // an empty tile: its first camera
        showPage();
    return true;
}

void ViewerTour::pause()
{
    if (tour_.running())
        tour_.pause();
}

void ViewerTour::poll(uint64_t nowMs)
{
    if (!tour_.running())
        return;
    const TourController::Update u =
        tour_.poll(nowMs, [this](int i) { return host_.playing(camera(i)); });
    if (u.show)
        showPage();
    else if (u.prepare)
        host_.apply(true);
}

std::vector<CameraId> ViewerTour::preparing() const
{
    std::vector<CameraId> cameras;
    for (int i : tour_.preparing())
        if (const CameraId c = camera(i); grid_.listed(c))
            cameras.push_back(c);
    return cameras;
}

// The tour's current page: the camera of the single view, or the grid's tiles.
void ViewerTour::showPage()
{
    const std::vector<int> page = tour_.currentPage();
    if (page.empty())
        return;
    if (tour_.kind() == TourController::Kind::Camera) {
        grid_.choose(camera(page[0]));
    } else if (tour_.kind() == TourController::Kind::Tile) {
        // The toured tile takes the camera; the frame stays where the user put it.
        const int framed = grid_.selected();
        if (!grid_.select(tour_.tile()))
            return;
        grid_.choose(camera(page[0]));
        grid_.select(framed);
    } else {
        std::array<CameraId, TileGrid::kMaxTiles> tiles{};
        for (size_t i = 0; i < page.size() && i < tiles.size(); ++i)
            tiles[i] = camera(page[i]);
        grid_.restore(tour_.layout(), tiles);
    }
    host_.apply(true);
}

int ViewerTour::index(CameraId c) const
{
    const auto it = std::find(cameras_.begin(), cameras_.end(), c);
    return c.valid() && it != cameras_.end() ? int(it - cameras_.begin()) : -1;
}

CameraId ViewerTour::camera(int index) const
{
    return index >= 0 && size_t(index) < cameras_.size() ? cameras_[size_t(index)] : CameraId{};
}

}   // namespace kevra
