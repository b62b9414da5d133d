// Which camera each tile of the multi-camera view shows: the layout (1, 4, 9 or 16 tiles), the
// channel of every tile, the selected tile and the one-tile zoom. A camera is shown in at most
// one tile. Every change answers with the channels whose streams must stop and those that must
// open. Plain value owned by the main window; user-interface thread only.
//
// Tiles are numbered in the grid (0 .. layout - 1, row by row). While zoomed the view shows one
// position, which is the zoomed grid tile; positionTile() maps a shown position to its tile.
#pragma once
#include <array>
#include <vector>

namespace kevra {

class TileGrid {
public:
    static constexpr int kMaxTiles = 16;
    static constexpr int kNone = -1;

    // Streams to stop (first) and to open (then, in the order of the shown positions).
    struct Change {
        std::vector<int> stop;
        std::vector<int> open;
        bool empty() const { return stop.empty() && open.empty(); }
        bool operator==(const Change&) const = default;
    };

    TileGrid();

    int layout() const { return layout_; }   // grid's tile count, kept while zoomed
    bool zoomed() const { return zoomed_; }
    int shownTiles() const { return zoomed_ ? 1 : layout_; }
    int positionTile(int position) const;   // -1 outside the shown positions
    int channel(int tile) const;            // kNone: empty tile or no such tile
    int selected() const { return selected_; }
    int selectedChannel() const { return channel(selected_); }
    int cameraCount() const { return cameraCount_; }
    // Channels with a running stream, in the order of the shown positions.
    std::vector<int> shownChannels() const;
    // Channels of every tile of the grid, in tile order, also while one tile is shown alone:
    // their streams keep running so the grid comes back as it was.
    std::vector<int> liveChannels() const;
    // Grid tile showing the channel, or -1 (hidden tiles included).
    int tileOf(int channel) const;

    // The recorder's camera list: tiles holding a channel the recorder no longer has show nothing
    // (their streams stop) but keep it, so the tile shows it again once the list is long enough.
    Change setCameraCount(int count);
    // Chooses a layout (anything else than 1, 4, 9, 16 is ignored). Leaves the zoom. A smaller
    // grid keeps its first tiles, and the selected camera stays shown: when its tile falls
    // outside, it takes the smaller grid's last tile. A larger grid fills every empty tile, in
    // tile order, with the cameras not yet shown, in list order.
    Change setLayout(int tiles);
    // The layout control: 1 -> 4 -> 9 -> 16 -> 1.
    Change cycleLayout();
    // A camera chosen in the list goes into the selected tile. When another tile already shows
    // it, the two tiles swap their cameras and no stream changes.
    Change choose(int channel);
    // Selects a grid tile; false when the tile is not shown.
    bool select(int tile);
    // Double click: a grid tile is shown alone (the other streams stop), and the same again
    // returns to the grid. Nothing happens in a one-tile layout that is not zoomed.
    Change toggleZoom(int tile);
    // Replaces the whole grid with a remembered one: a layout that is not 1, 4, 9, 16 gives one
    // tile; repeated channels leave their tile empty, channels outside the camera list are kept
    // but show nothing until the list holds them.
    Change restore(int layout, const std::array<int, kMaxTiles>& tiles);
    // The grid as it is to be remembered (tiles beyond the layout are kNone; cameras missing
    // from the current list included).
    const std::array<int, kMaxTiles>& tiles() const { return tiles_; }

private:
    Change diffFrom(const std::vector<int>& before) const;
    void fillEmpty();

    int layout_ = 1;
    bool zoomed_ = false;
    int selected_ = 0;
    int cameraCount_ = 0;
    std::array<int, kMaxTiles> tiles_;
};

}   // namespace kevra
