// Which camera each tile of the multi-camera view shows: the layout (1, 4, 9 or 16 tiles), the
// camera of every tile (any recorder's), the selected tile and the one-tile zoom. A camera is
// shown in at most one tile. Every change answers with the cameras whose streams must stop and
// those that must open. Plain value owned by the viewer coordinator; user-interface thread only.
//
// Tiles are numbered in the grid (0 .. layout - 1, row by row). While zoomed the view shows one
// position, which is the zoomed grid tile; positionTile() maps a shown position to its tile.
// The cameras listed (setCameras) are the tree's, in tree order: the first recorder's, then the
// next recorder's. A tile keeps a camera that is not listed now but shows nothing until it is.
#pragma once
#include "app/CameraId.h"

#include <array>
#include <vector>

namespace kevra {

class TileGrid {
public:
    static constexpr int kMaxTiles = 16;

    // Streams to stop (first) and to open (then, in the order of the shown positions).
    struct Change {
        std::vector<CameraId> stop;
        std::vector<CameraId> open;
        bool empty() const { return stop.empty() && open.empty(); }
        bool operator==(const Change&) const = default;
    };

    int layout() const { return layout_; }   // grid's tile count, kept while zoomed
    bool zoomed() const { return zoomed_; }
    int shownTiles() const { return zoomed_ ? 1 : layout_; }
    int positionTile(int position) const;   // -1 outside the shown positions
    // The tile's camera; none (not valid) for an empty tile, a camera not listed now, or no
    // such tile.
    CameraId camera(int tile) const;
    int selected() const { return selected_; }
    CameraId selectedCamera() const { return camera(selected_); }
    const std::vector<CameraId>& cameras() const { return listed_; }
    bool listed(CameraId camera) const;
    // Cameras with a running stream, in the order of the shown positions.
    std::vector<CameraId> shownCameras() const;
    // Cameras of every tile of the grid, in tile order, also while one tile is shown alone:
    // their streams keep running so the grid comes back as it was.
    std::vector<CameraId> liveCameras() const;
    // Grid tile holding the camera, or -1 (hidden tiles and cameras not listed now included).
    int tileOf(CameraId camera) const;

    // The tree's cameras in tree order. Tiles holding a camera no longer listed show nothing
    // (their streams stop) but keep it, so the tile shows it again once it is listed.
    Change setCameras(std::vector<CameraId> listed);
    // Chooses a layout (anything else than 1, 4, 9, 16 is ignored). Leaves the zoom. A smaller
    // grid keeps its first tiles, and the selected camera stays shown: when its tile falls
    // outside, it takes the smaller grid's last tile. The same or a larger grid fills every empty
    // tile, in tile order, with the listed cameras not yet shown, in tree order (so choosing the
    // layout shown again fills the tiles left empty while a recorder's list was on its way).
    Change setLayout(int tiles);
    // The layout control: 1 -> 4 -> 9 -> 16 -> 1.
    Change cycleLayout();
    // A listed camera goes into the selected tile. When another tile already shows it, the two
    // tiles swap their cameras and no stream changes.
    Change choose(CameraId camera);
    // Selects a grid tile; false when the tile is not shown.
    bool select(int tile);
    // Double click: a grid tile is shown alone (the other streams stop), and the same again
    // returns to the grid. Nothing happens in a one-tile layout that is not zoomed.
    Change toggleZoom(int tile);
    // Replaces the whole grid with a remembered one: a layout that is not 1, 4, 9, 16 gives one
    // tile; repeated cameras leave their tile empty, cameras not listed now are kept but show
    // nothing until they are.
    Change restore(int layout, const std::array<CameraId, kMaxTiles>& tiles);
    // The grid as it is to be remembered (tiles beyond the layout are none; cameras not listed
    // now included).
    const std::array<CameraId, kMaxTiles>& tiles() const { return tiles_; }

private:
    Change diffFrom(const std::vector<CameraId>& before) const;
    void fillEmpty();

    int layout_ = 1;
    bool zoomed_ = false;
    int selected_ = 0;
    std::vector<CameraId> listed_;
    std::array<CameraId, kMaxTiles> tiles_{};
};

}   // namespace kevra
