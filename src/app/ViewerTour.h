// The viewer's camera tours (T, Shift+T): which tour a key starts, resumes or ends, the cameras a
// tour goes through (every recorder's, in tree order) and the page it shows. Owns the
// TourController; puts a page's cameras into the TileGrid it is given (the coordinator's) and has
// the coordinator bring the streams and the window in line. A tour never rewrites the remembered
// view. User-interface thread.
#pragma once
#include "app/CameraId.h"
#include "app/TileGrid.h"
#include "app/TourController.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kevra {

class ViewerTour {
public:
    struct Host {
        std::function<void(bool save)> apply;              // streams and window follow the grid
        std::function<void(const std::u16string&)> tell;   // a message in the status row
        std::function<bool(CameraId)> playing;             // the camera's stream shows pictures
    };

    ViewerTour(TileGrid& grid, Host host) : grid_(grid), host_(std::move(host)) {}

    // T (wholeGrid: Shift+T, and T on a tile shown alone): the single view through every camera
    // (from `single`), in a grid the framed tile through the cameras the other tiles do not show,
    // or the grid (4 or 9 tiles, else the Grid of views.ini's [tour]) page by page. A running
    // tour ends, whichever key; a paused one resumes, or gives way to one of another kind. The
    // tour's settings come from settingsPath (views.ini). False when there is nothing to tour,
    // and the status row says why.
    bool toggle(bool wholeGrid, CameraId single, const std::u16string& settingsPath);
    // A manual choice: a running tour holds until toggled again.
    void pause();
    void stop() { tour_.stop(); }
    void poll(uint64_t nowMs);
    bool running() const { return tour_.running(); }
    // The listed cameras the tour opens ahead of their turn.
    std::vector<CameraId> preparing() const;
    // The tour's state for the screen (empty: no tour).
    std::u16string text(uint64_t nowMs) const { return tour_.text(nowMs); }
    const TourController& controller() const { return tour_; }

private:
    bool gridShown() const { return grid_.layout() > 1; }
    bool startTile(int tile, int dwellS, uint64_t nowMs);
    void showPage();
    // Why nothing tours: every camera is on screen already, or there are fewer than two.
    void tellNothing();
    // A tour's cameras are numbered by their place in cameras_.
    int index(CameraId camera) const;
    CameraId camera(int index) const;

    TileGrid& grid_;
    Host host_;
    TourController tour_;
    std::vector<CameraId> cameras_;   // the cameras of the running tour
};

}   // namespace kevra
