// A running camera tour: a camera tour steps the single view through every camera, a tile tour
// steps one tile of a grid through the cameras the other tiles do not show; a whole-grid tour
// pages a 2 x 2 or 3 x 3 grid through the cameras, a page at a time. It knows
// the pages and keeps the timing (TourScheduler); the coordinator opens the cameras it names
// as preparing (hidden, before their turn) and shows a page when told. Pure state on the
// millisecond clock; user-interface thread.
#pragma once
#include "app/TourScheduler.h"

#include <functional>
#include <string>
#include <vector>

namespace kevra {

class TourController {
public:
    enum class Kind { None, Camera, Tile, Grid };
    struct Update {
        bool prepare = false;   // preparing() changed: open its cameras
        bool show = false;      // the current page changed: show it
    };

    // A camera tour from camera `current` (layout 1), or a grid tour of `layout` (4 or 9) tiles
    // from the page holding `current`; cameraCount cameras. False (nothing runs) when there
    // are fewer than two cameras or pages.
    bool start(Kind kind, int layout, int cameraCount, int current, int dwellS, uint64_t nowMs);
    // A tile tour of grid tile `tile` through `cameras` (in this order), from camera `current`
    // (shown in the tile now). False (nothing runs) with fewer than two cameras.
    bool startTile(int tile, const std::vector<int>& cameras, int current, int dwellS,
                   uint64_t nowMs);
    void stop();
    // A manual choice: the tour holds (and opens nothing ahead) until resume().
    void pause();
    void resume(uint64_t nowMs);
    // ready(channel): the camera's stream shows pictures.
    Update poll(uint64_t nowMs, const std::function<bool(int channel)>& ready);

    Kind kind() const { return kind_; }
    bool running() const { return scheduler_.state() == TourScheduler::State::Running; }
    bool paused() const { return scheduler_.state() == TourScheduler::State::Paused; }
    int layout() const { return layout_; }
    // The grid tile a tile tour steps (-1: none).
    int tile() const { return tile_; }
    // The channels of a page (a grid page may end with fewer than layout() cameras).
    std::vector<int> page(int index) const;
    std::vector<int> currentPage() const { return page(scheduler_.current()); }
    // Cameras opened ahead of their turn; empty when none.
    const std::vector<int>& preparing() const { return preparing_; }
    // What the screen says: "Tour 7 s", "Tour paused"; empty when no tour runs.
    std::u16string text(uint64_t nowMs) const;
    const TourScheduler& scheduler() const { return scheduler_; }

private:
    TourScheduler scheduler_;
    Kind kind_ = Kind::None;
    int layout_ = 1;
    int tile_ = -1;
    std::vector<int> cameras_;   // the toured channels, in touring order
    std::vector<int> preparing_;
};

}   // namespace kevra
