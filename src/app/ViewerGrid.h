// The viewer's grid commands: a camera chosen in the tree, the layout chosen or cycled, a tile
// clicked or shown alone, full screen; owns the TileGrid (what the grid and the single view
// show) and brings the streams (Playback's shown set) and the window in line with it. Also says
// which camera the framed tile shows, for PTZ, recording and Save picture. What else streams
// (a tour's next cameras, recordings, walls) and what is remembered come from its Host, the
// coordinator. User-interface thread.
#pragma once
#include "app/CameraId.h"
#include "app/Playback.h"
#include "app/TileGrid.h"

#include <array>
#include <map>
#include <string>
#include <vector>

namespace kevra {

class ViewerView;

class ViewerGrid {
public:
    class Host {
    public:
        virtual Playback& gridPlayback() = 0;
        // A manual choice: a running tour holds.
        virtual void pauseTour() = 0;
        // The rest of the shown set: the tour's next cameras, recordings, walls.
        virtual void addShown(Playback::Shown& shown) = 0;
        // The streams and the window follow the grid; save: remember it.
        virtual void gridApplied(bool save) = 0;
        // The tiles were placed again (the status row follows the framed tile).
        virtual void tilesPlaced() = 0;
        // Another tile was framed.
        virtual void framedMoved() = 0;
        virtual std::u16string cameraName(CameraId camera) const = 0;

    protected:
        ~Host() = default;
    };

    // The picture Save picture takes: from the framed tile of a grid or from the single view
    // (turned: shown a quarter turned). camera is empty when nothing plays.
    struct SaveSource {
        bool tile = false;
        int position = -1;
        bool turned = false;
        std::u16string camera;
    };

    // A grid's layout and tiles, to be restored later.
    struct Placement {
        int layout = 1;
        std::array<CameraId, TileGrid::kMaxTiles> tiles{};
    };

    ViewerGrid(ViewerView& view, Host& host) : view_(view), host_(host) {}

    TileGrid& model() { return grid_; }
    const TileGrid& model() const { return grid_; }
    bool shown() const { return grid_.layout() > 1; }
    bool fullScreen() const { return full_; }
    void endFullScreen() { full_ = false; }

    // A camera chosen in the tree: into the framed tile of a grid, or the single view.
    void chooseCamera(CameraId camera);
    void toggleFullScreen();
    void chooseLayout(int tiles);
    void cycleLayout();
    // A click on a tile frames it; true when the tile was framed already.
    bool clickTile(int position);
    // Double click: the tile's camera alone, and back to the grid.
    void toggleTileZoom(int position);
    // The tree's cameras (every recorder's, in list order; names by recorder) to the grid.
    void listCameras(const std::vector<std::vector<std::u16string>>& names);

    // The recorder's cameras leave the grid and its tiles empty (the next session's cameras are
    // not these); its streams stop now.
    void dropRecorder(int recorder);
    // Recorders that move in the list (old place -> new place, -1: gone): their cameras leave
    // the grid and their streams stop now. Returned: the layout and tiles as they were, with
    // those recorders' tiles on their new places (empty when gone), for restoring later.
    Placement leaveRecorders(const std::map<int, int>& moved);

    // Brings the streams and the window in line with the model. save: remember the grid.
    void apply(bool save = true);
    void place();
    // The tree marks the cameras shown.
    void markTree();

    // The camera the panels drive: the framed tile's in a grid, else the single view's.
    CameraId ptzCamera() const;
    // The camera the framed tile (or the single view) plays.
    CameraId shownCamera() const;
    SaveSource saveSource() const;

private:
    Playback& playback() const { return host_.gridPlayback(); }

    ViewerView& view_;
    Host& host_;
    TileGrid grid_;
    bool full_ = false;   // the grid shown full screen
};

}   // namespace kevra
