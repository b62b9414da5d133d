#include "app/WallLayout.h"

#include "app/GridLayout.h"

namespace kevra {

bool WallLayout::isLayout(int tiles)
{
    return tiles == 6 || tiles == 8 || GridLayout::isLayout(tiles);
}

int WallLayout::next(int tiles)
{
    switch (tiles) {
    case 16: return 6;
    case 6: return 8;
    default: return GridLayout::next(tiles);   // 1 -> 4 -> 9 -> 16, and 1 after 1+7
    }
}

int WallLayout::gridOf(int tiles)
{
    return tiles == 6 ? 9 : tiles == 8 ? 16 : tiles;
}

int WallLayout::tileAt(int tiles, int cell)
{
    const int grid = gridOf(tiles);
    if (!isLayout(tiles) || cell < 0 || cell >= grid)
        return -1;
    if (grid == tiles)
        return cell;
    // The large tile takes the (side - 1) x (side - 1) cells at the top left; the other cells
    // are numbered from 1 in row order.
    const int side = GridLayout::side(grid);
    const int row = cell / side, col = cell % side;
    if (row < side - 1 && col < side - 1)
        return 0;
    if (row < side - 1)
        return 1 + row;   // the right column
    return side + col;    // the bottom row, after the side - 1 tiles of the right column
}

bool WallLayout::cells(int tiles, int index, int& first, int& last)
{
    if (!isLayout(tiles) || index < 0 || index >= tiles)
        return false;
    const int grid = gridOf(tiles);
    first = -1;
    for (int cell = 0; cell < grid; ++cell) {
        if (tileAt(tiles, cell) != index)
            continue;
        if (first < 0)
            first = cell;
        last = cell;
    }
    return first >= 0;
}

Rect WallLayout::tile(const Rect& area, int tiles, int index)
{
    int first = 0, last = 0;
    if (!cells(tiles, index, first, last))
        return Rect{};
    const int grid = gridOf(tiles);
    const Rect a = GridLayout::tile(area, grid, first);
    const Rect b = GridLayout::tile(area, grid, last);
    if (a.width() <= 0 || b.width() <= 0)
        return Rect{};
    return Rect{a.left, a.top, b.right, b.bottom};
}

Rect WallLayout::content(const Rect& area, int tiles, int index)
{
    return GridLayout::inset(tile(area, tiles, index), tiles);
}

int WallLayout::hit(const Rect& area, int tiles, int x, int y)
{
    if (!isLayout(tiles))
        return -1;
    return tileAt(tiles, GridLayout::hit(area, gridOf(tiles), x, y));
}

}   // namespace kevra
