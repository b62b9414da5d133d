// Tile arithmetic of a wall window's layouts: the grids of 1, 4, 9 and 16 tiles and the two
// control-room layouts, one large tile with five small ones (1+5, on a 3 x 3 grid) and one large
// tile with seven (1+7, on a 4 x 4 grid). A layout is named by its tile count (1, 4, 6, 8, 9,
// 16; views.ini spells them as WallSettings does); tile 0 is the large one and the small ones follow row by row from the top left, so tile
// K of every layout lines up with the cells GridLayout puts on the same rows. Gaps, the frame
// inset and the truncating division are GridLayout's. Pure arithmetic; any thread.
#pragma once
#include "app/Rect.h"

namespace kevra {

class WallLayout {
public:
    static constexpr int kMaxTiles = 16;

    // 1, 4, 6 (1+5), 8 (1+7), 9 and 16 are layouts; nothing else is.
    static bool isLayout(int tiles);
    // The menu's and the layout key's order: 1 -> 4 -> 9 -> 16 -> 1+5 -> 1+7 -> 1.
    static int next(int tiles);

    // Tile `index` of the layout inside `area`: a grid tile, or for 1+5 and 1+7 the large tile
    // covering the grid's top left cells (2 x 2 of 3 x 3, 3 x 3 of 4 x 4) with the gaps between
    // them, and a small tile per remaining cell. Empty rectangle for an index outside the
    // layout, a count that is not a layout, or an area too small for the underlying grid.
    static Rect tile(const Rect& area, int tiles, int index);
    // Where the tile's picture goes: inset by GridLayout::kFrame in layouts of several tiles.
    static Rect content(const Rect& area, int tiles, int index);
    // Tile under the point, or -1 outside the area or for a count that is not a layout.
    static int hit(const Rect& area, int tiles, int x, int y);

private:
    // The square grid a layout is drawn on (1, 4, 9, 16 tiles), and the cells of that grid
    // that tile `index` covers: first and last cell, row by row.
    static int gridOf(int tiles);
    static bool cells(int tiles, int index, int& first, int& last);
    // The layout's tile at grid cell `cell`, -1 when none.
    static int tileAt(int tiles, int cell);
};

}   // namespace kevra
