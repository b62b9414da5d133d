// Tile arithmetic of the multi-camera view: where each tile of a 1, 4, 9 or 16 tile layout sits
// inside the video rectangle (normal or full screen), the part of a tile its picture may use
// (inside the selection frame) and which tile a point hits. Tiles are numbered row by row from
// the top left. Pure arithmetic (truncating division); any thread.
#pragma once
#include "app/Rect.h"

namespace kevra::GridLayout {

constexpr int kMaxTiles = 16;
// Black pixels between neighbouring tiles.
constexpr int kGap = 2;
// Width of the selection frame, drawn inside the tile's edge in layouts of several tiles.
constexpr int kFrame = 2;

// 1, 4, 9 and 16 are layouts; nothing else is.
bool isLayout(int tiles);
// Tiles per row: 1, 2, 3, 4; 0 for a count that is not a layout.
int side(int tiles);
// The layout control's order: 1 -> 4 -> 9 -> 16 -> 1; anything else gives 1.
int next(int tiles);

// Tile `index` of a `tiles` layout inside `area`. The gaps take (side - 1) x kGap pixels and the
// rest is shared out by truncating division, so the first tile starts at the area's left/top
// edge, the last one ends at its right/bottom edge and tiles differ by at most one pixel. A
// one-tile layout is the area itself. Empty rectangle for an index outside the layout, a count
// that is not a layout, or an area too small to hold a pixel per tile.
Rect tile(const Rect& area, int tiles, int index);
// Where the tile's picture goes: the tile inset by kFrame on every side in layouts of several
// tiles (so the frame never covers the picture), the whole tile in a one-tile layout. Empty
// when the tile is too small for the frame. inset() does the same for any tile rectangle of
// a `tiles` layout (the walls' large tiles too).
Rect content(const Rect& area, int tiles, int index);
Rect inset(const Rect& tile, int tiles);
// Tile under the point, or -1 when the point is outside the area. A gap is shared by the two
// tiles beside it (its first half belongs to the tile before it).
int hit(const Rect& area, int tiles, int x, int y);

}   // namespace kevra::GridLayout
