#include "app/TileGrid.h"

#include "app/GridLayout.h"

#include <algorithm>

namespace kevra {

namespace {
bool contains(const std::vector<CameraId>& v, CameraId x)
{
    return std::find(v.begin(), v.end(), x) != v.end();
}
}   // namespace

int TileGrid::positionTile(int position) const
{
    if (position < 0 || position >= shownTiles())
        return -1;
    return zoomed_ ? selected_ : position;
}

bool TileGrid::listed(CameraId camera) const
{
    return camera.valid() && contains(listed_, camera);
}

CameraId TileGrid::camera(int tile) const
{
    if (tile < 0 || tile >= layout_)
        return {};
    // A remembered camera not listed now shows nothing, but stays remembered.
    const CameraId c = tiles_[size_t(tile)];
    return listed(c) ? c : CameraId{};
}

std::vector<CameraId> TileGrid::shownCameras() const
{
    std::vector<CameraId> shown;
    for (int p = 0; p < shownTiles(); ++p)
        if (const CameraId c = camera(positionTile(p)); c.valid())
            shown.push_back(c);
    return shown;
}

std::vector<CameraId> TileGrid::liveCameras() const
{
    std::vector<CameraId> live;
    for (int t = 0; t < layout_; ++t)
        if (const CameraId c = camera(t); c.valid())
            live.push_back(c);
    return live;
}

int TileGrid::tileOf(CameraId camera) const
{
    if (!camera.valid())
        return -1;
    for (int t = 0; t < layout_; ++t)
        if (tiles_[size_t(t)] == camera)
            return t;
    return -1;
}

TileGrid::Change TileGrid::diffFrom(const std::vector<CameraId>& before) const
{
    Change c;
    const std::vector<CameraId> after = shownCameras();
    for (CameraId cam : before)
        if (!contains(after, cam))
            c.stop.push_back(cam);
    for (CameraId cam : after)
        if (!contains(before, cam))
            c.open.push_back(cam);
    return c;
}

void TileGrid::fillEmpty()
{
    size_t next = 0;
    for (int t = 0; t < layout_; ++t) {
        if (tiles_[size_t(t)].valid())
            continue;
        while (next < listed_.size() && tileOf(listed_[next]) != -1)
            ++next;
        if (next >= listed_.size())
            return;
        tiles_[size_t(t)] = listed_[next++];
    }
}

TileGrid::Change TileGrid::setCameras(std::vector<CameraId> listed)
{
    const std::vector<CameraId> before = shownCameras();
    listed_.clear();
    for (CameraId c : listed)   // hostile lists: no invalid or repeated entries
        if (c.valid() && !contains(listed_, c))
            listed_.push_back(c);
    return diffFrom(before);
}

TileGrid::Change TileGrid::setLayout(int tiles)
{
    if (!GridLayout::isLayout(tiles))
        return Change{};
    const std::vector<CameraId> before = shownCameras();
    zoomed_ = false;
    if (tiles < layout_) {
        if (selected_ >= tiles) {
            if (tiles_[size_t(selected_)].valid())
                tiles_[size_t(tiles - 1)] = tiles_[size_t(selected_)];
            selected_ = tiles - 1;
        }
        for (int t = tiles; t < kMaxTiles; ++t)
            tiles_[size_t(t)] = CameraId{};
        layout_ = tiles;
    } else {
        layout_ = tiles;
        fillEmpty();
    }
    return diffFrom(before);
}

TileGrid::Change TileGrid::cycleLayout()
{
    return setLayout(GridLayout::next(layout_));
}

TileGrid::Change TileGrid::choose(CameraId camera)
{
    if (!listed(camera))
        return Change{};
    const std::vector<CameraId> before = shownCameras();
    const int other = tileOf(camera);
    if (other != -1)
        tiles_[size_t(other)] = tiles_[size_t(selected_)];
    tiles_[size_t(selected_)] = camera;
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
    const std::vector<CameraId> before = shownCameras();
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

TileGrid::Change TileGrid::restore(int layout, const std::array<CameraId, kMaxTiles>& tiles)
{
    const std::vector<CameraId> before = shownCameras();
    layout_ = GridLayout::isLayout(layout) ? layout : 1;
    zoomed_ = false;
    selected_ = 0;
    tiles_.fill(CameraId{});
    for (int t = 0; t < layout_; ++t) {
        const CameraId c = tiles[size_t(t)];
        if (c.valid() && c.recorder >= 0 && tileOf(c) == -1)
            tiles_[size_t(t)] = c;
    }
    return diffFrom(before);
}

}   // namespace kevra
