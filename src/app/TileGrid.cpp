#include "app/TileGrid.h"

#include "app/GridLayout.h"

#include <algorithm>

namespace kevra {

namespace {
bool contains(const std::vector<int>& v, int x)
{
    return std::find(v.begin(), v.end(), x) != v.end();
}
}   // namespace

TileGrid::TileGrid()
{
    tiles_.fill(kNone);
}

int TileGrid::positionTile(int position) const
{
    if (position < 0 || position >= shownTiles())
        return -1;
    return zoomed_ ? selected_ : position;
}

int TileGrid::channel(int tile) const
{
    if (tile < 0 || tile >= layout_)
        return kNone;
    // A remembered camera the recorder does not list now shows nothing, but stays remembered.
    const int ch = tiles_[size_t(tile)];
    return ch >= 0 && ch < cameraCount_ ? ch : kNone;
}

std::vector<int> TileGrid::shownChannels() const
{
    std::vector<int> shown;
    for (int p = 0; p < shownTiles(); ++p) {
        int c = channel(positionTile(p));
        if (c != kNone)
            shown.push_back(c);
    }
    return shown;
}

std::vector<int> TileGrid::liveChannels() const
{
    std::vector<int> live;
    for (int t = 0; t < layout_; ++t)
        if (channel(t) != kNone)
            live.push_back(channel(t));
    return live;
}

int TileGrid::tileOf(int channel) const
{
    if (channel == kNone)
        return -1;
    for (int t = 0; t < layout_; ++t)
        if (tiles_[size_t(t)] == channel)
            return t;
    return -1;
}

TileGrid::Change TileGrid::diffFrom(const std::vector<int>& before) const
{
    Change c;
    const std::vector<int> after = shownChannels();
    for (int ch : before)
        if (!contains(after, ch))
            c.stop.push_back(ch);
    for (int ch : after)
        if (!contains(before, ch))
            c.open.push_back(ch);
    return c;
}

void TileGrid::fillEmpty()
{
    int next = 0;
    for (int t = 0; t < layout_; ++t) {
        if (tiles_[size_t(t)] != kNone)
            continue;
        while (next < cameraCount_ && tileOf(next) != -1)
            ++next;
        if (next >= cameraCount_)
            return;
        tiles_[size_t(t)] = next++;
    }
}

TileGrid::Change TileGrid::setCameraCount(int count)
{
    const std::vector<int> before = shownChannels();
    cameraCount_ = count > 0 ? count : 0;
    return diffFrom(before);
}

TileGrid::Change TileGrid::setLayout(int tiles)
{
    if (!GridLayout::isLayout(tiles))
        return Change{};
    const std::vector<int> before = shownChannels();
    zoomed_ = false;
    if (tiles < layout_) {
        if (selected_ >= tiles) {
            if (tiles_[size_t(selected_)] != kNone)
                tiles_[size_t(tiles - 1)] = tiles_[size_t(selected_)];
            selected_ = tiles - 1;
        }
        for (int t = tiles; t < kMaxTiles; ++t)
            tiles_[size_t(t)] = kNone;
        layout_ = tiles;
    } else if (tiles > layout_) {
        layout_ = tiles;
        fillEmpty();
    }
    return diffFrom(before);
}

TileGrid::Change TileGrid::cycleLayout()
{
    return setLayout(GridLayout::next(layout_));
}

TileGrid::Change TileGrid::choose(int channel)
{
    if (channel < 0 || channel >= cameraCount_)
        return Change{};
    const std::vector<int> before = shownChannels();
    const int other = tileOf(channel);
    if (other != -1)
        tiles_[size_t(other)] = tiles_[size_t(selected_)];
    tiles_[size_t(selected_)] = channel;
    return diffFrom(before);
}

bool TileGrid::select(int tile)
{
    if (tile < 0 || tile >= layout_ || (zoomed_ && tile != selected_))
        return false;
    selected_ = tile;
    return true;
}

TileGrid::Change TileGrid::toggleZoom(int tile)
{
    const std::vector<int> before = shownChannels();
    if (zoomed_) {
        zoomed_ = false;
    } else {
        if (layout_ == 1 || tile < 0 || tile >= layout_)
            return Change{};
        selected_ = tile;
        zoomed_ = true;
    }
    return diffFrom(before);
}

TileGrid::Change TileGrid::restore(int layout, const std::array<int, kMaxTiles>& tiles)
{
    const std::vector<int> before = shownChannels();
    layout_ = GridLayout::isLayout(layout) ? layout : 1;
    zoomed_ = false;
    selected_ = 0;
    tiles_.fill(kNone);
    for (int t = 0; t < layout_; ++t) {
        const int ch = tiles[size_t(t)];
        if (ch >= 0 && tileOf(ch) == -1)
            tiles_[size_t(t)] = ch;
    }
    return diffFrom(before);
}

}   // namespace kevra
