#include "app/WallSet.h"

#include "app/WallLayout.h"

#include <algorithm>

namespace kevra {

void WallSet::load(const std::vector<WallSettings>& walls, int spotScreen,
                   const RecorderOf& recorderOf)
{
    std::vector<Wall> before = std::move(walls_);
    walls_.clear();
    for (const WallSettings& s : walls) {
        Wall w;
        // A wall read again on the same screen keeps the surface drawing it.
        for (const Wall& b : before)
            if (b.number == s.number && b.screen == s.screen)
                w.surface = b.surface;
        w.number = s.number;
        w.screen = s.screen;
        w.layout = WallLayout::isLayout(s.layout) ? s.layout : 1;
        w.dwellS = s.dwellS;
        for (int i = 0; i < w.layout; ++i) {
            if (s.tiles[size_t(i)] < 0)
                continue;
            const int recorder = recorderOf(s.sources[size_t(i)]);
            if (recorder >= 0)
                w.tiles[size_t(i)] = CameraId{recorder, s.tiles[size_t(i)]};
        }
        w.tourToResume = s.tour;
        walls_.push_back(std::move(w));
    }
    const int spot = wallOn(spotScreen) ? -1 : spotScreen;
    if (spot != spotScreen_)
        spotSurface_ = nullptr;
    spotScreen_ = spot;
}

WallSettings WallSet::settings(int number, const NameOf& nameOf) const
{
    WallSettings s;
    const Wall* w = wall(number);
    if (!w)
        return s;
    s.number = w->number;
    s.screen = w->screen;
    s.layout = w->layout;
    s.dwellS = w->dwellS;
    s.tour = w->tourToResume || w->tour.state() != TourScheduler::State::Off;
    for (int i = 0; i < w->layout; ++i) {
        const CameraId c = w->tiles[size_t(i)];
        if (!c.valid())
            continue;
        s.tiles[size_t(i)] = c.channel;
        s.sources[size_t(i)] = nameOf(c.recorder);
    }
    return s;
}

const WallSet::Wall* WallSet::wall(int number) const
{
    for (const Wall& w : walls_)
        if (w.number == number)
            return &w;
    return nullptr;
}

WallSet::Wall* WallSet::find(int number)
{
    return const_cast<Wall*>(wall(number));
}

const WallSet::Wall* WallSet::wallOn(int screen) const
{
    for (const Wall& w : walls_)
        if (w.screen == screen)
            return &w;
    return nullptr;
}

void WallSet::assignScreens(const std::vector<int>& screens, int spotScreen)
{
    std::vector<Wall> kept;
    for (size_t k = 0; k < screens.size() && k < size_t(WallSettings::kMaxWalls); ++k) {
        const int screen = screens[k];
        if (screen < 0 || screen > WallSettings::kMaxScreen)
            continue;
        bool taken = false;
        for (const Wall& other : kept)
            taken = taken || other.screen == screen;
        if (taken)
            continue;
        Wall w;
        if (const Wall* was = wall(int(k) + 1))
            w = *was;
        w.number = int(k) + 1;
        w.screen = screen;
        w.surface = nullptr;
        kept.push_back(std::move(w));
    }
    walls_ = std::move(kept);
    spotSurface_ = nullptr;
    spotScreen_ = wallOn(spotScreen) || spotScreen > WallSettings::kMaxScreen ? -1 : spotScreen;
}

void WallSet::attach(int number, TileSurface* surface)
{
    if (Wall* w = find(number))
        w->surface = surface;
}

bool WallSet::place(int number, int tile, CameraId camera)
{
    Wall* w = find(number);
    if (!w || tile < 0 || tile >= w->layout || w->tiles[size_t(tile)] == camera)
        return false;
    for (int i = 0; camera.valid() && i < w->layout; ++i)
        if (w->tiles[size_t(i)] == camera)
            w->tiles[size_t(i)] = w->tiles[size_t(tile)];
    w->tiles[size_t(tile)] = camera;
    w->tour.stop();
    w->tourToResume = false;
    w->preparing.clear();
    return true;
}

bool WallSet::setLayout(int number, int layout)
{
    Wall* w = find(number);
    if (!w || !WallLayout::isLayout(layout) || w->layout == layout)
        return false;
    w->layout = layout;
    for (int i = layout; i < kMaxTiles; ++i)
        w->tiles[size_t(i)] = CameraId{};
    w->tour.stop();
    w->preparing.clear();
    return true;
}

void WallSet::forgetRecorder(int recorder)
{
    for (Wall& w : walls_)
        for (CameraId& c : w.tiles)
            if (c.recorder == recorder)
                c = CameraId{};
}

std::vector<CameraId> WallSet::page(const Wall& w, int index) const
{
    std::vector<CameraId> cams;
    for (int i = 0; i < w.layout; ++i) {
        const size_t at = size_t(index) * size_t(w.layout) + size_t(i);
        if (at < w.tourCameras.size())
            cams.push_back(w.tourCameras[at]);
    }
    return cams;
}

bool WallSet::startTour(int number, const std::vector<CameraId>& cameras, int dwellS,
                        uint64_t nowMs)
{
    Wall* w = find(number);
    if (!w)
        return false;
    w->tourCameras = cameras;
    w->preparing.clear();
    w->tourToResume = false;
    const int pages = int((cameras.size() + size_t(w->layout) - 1) / size_t(w->layout));
    w->dwellS = TourScheduler::clampDwell(dwellS);
    if (!w->tour.start(pages, 0, w->dwellS, nowMs)) {
        w->tourCameras.clear();
        return false;
    }
    const std::vector<CameraId> first = page(*w, 0);
    for (int i = 0; i < w->layout; ++i)
        w->tiles[size_t(i)] = size_t(i) < first.size() ? first[size_t(i)] : CameraId{};
    return true;
}

void WallSet::stopTour(int number)
{
    if (Wall* w = find(number)) {
        w->tour.stop();
        w->tourToResume = false;
        w->preparing.clear();
    }
}

bool WallSet::touring(int number) const
{
    const Wall* w = wall(number);
    return w && w->tour.state() == TourScheduler::State::Running;
}

bool WallSet::poll(uint64_t nowMs, const std::function<bool(CameraId)>& ready)
{
    bool changed = false;
    for (Wall& w : walls_) {
        if (w.tour.state() != TourScheduler::State::Running || w.tourCameras.empty())
            continue;
        const bool nextReady = std::all_of(w.preparing.begin(), w.preparing.end(), ready);
        const TourScheduler::Step step = w.tour.tick(nowMs, nextReady && !w.preparing.empty());
        if (step.action == TourScheduler::Action::Prepare) {
            w.preparing = page(w, step.page);
            changed = true;
        } else if (step.action == TourScheduler::Action::Show) {
            const std::vector<CameraId> cams = page(w, step.page);
            for (int i = 0; i < w.layout; ++i)
                w.tiles[size_t(i)] = size_t(i) < cams.size() ? cams[size_t(i)] : CameraId{};
            w.preparing.clear();
            changed = true;
        }
    }
    return changed;
}

std::vector<Playback::Shown::Wall> WallSet::shown() const
{
    std::vector<Playback::Shown::Wall> all;
    for (const Wall& w : walls_) {
        if (!w.surface)
            continue;
        Playback::Shown::Wall s;
        s.surface = w.surface;
        s.tileCount = w.layout;
        s.tiles = w.tiles;
        all.push_back(s);
    }
    if (spotSurface_) {
        Playback::Shown::Wall s;
        s.surface = spotSurface_;
        s.tileCount = 1;
        s.tiles[0] = spotCamera_;
        all.push_back(s);
    }
    return all;
}

std::vector<CameraId> WallSet::preparing() const
{
    std::vector<CameraId> all;
    for (const Wall& w : walls_)
        if (w.surface)
            all.insert(all.end(), w.preparing.begin(), w.preparing.end());
    return all;
}

}   // namespace kevra
