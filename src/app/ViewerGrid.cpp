#include "app/ViewerGrid.h"

#include "app/GridLayout.h"
#include "app/ViewerView.h"

#include <algorithm>

namespace kevra {

void ViewerGrid::chooseCamera(CameraId camera)
{
    if (!grid_.listed(camera))
        return;
    host_.pauseTour();
    grid_.choose(camera);
    apply();
    view_.showVideoMode();
}

void ViewerGrid::toggleFullScreen()
{
    if (shown()) {
        full_ = !full_;   // the whole grid, never turned
        place();
        return;
    }
    if (playback().singleStream())   // nothing chosen: nothing to show full screen
        playback().single().toggleFullScreen();
}

void ViewerGrid::chooseLayout(int tiles)
{
    if (!GridLayout::isLayout(tiles))
        return;
    host_.pauseTour();
    grid_.setLayout(tiles);
    apply();
    if (!grid_.shownCameras().empty())
        view_.showVideoMode();
}

void ViewerGrid::cycleLayout()
{
    chooseLayout(GridLayout::next(grid_.layout()));
}

bool ViewerGrid::clickTile(int position)
{
    const int tile = grid_.positionTile(position);
    if (tile < 0)
        return false;
    if (tile == grid_.selected())
        return true;
    grid_.select(tile);
    place();
    host_.framedMoved();
    return false;
}

void ViewerGrid::toggleTileZoom(int position)
{
    if (!shown())
        return;
    const int tile = grid_.zoomed() ? grid_.selected() : grid_.positionTile(position);
    host_.pauseTour();
    grid_.toggleZoom(tile);
    apply();
    view_.showVideoMode();
}

void ViewerGrid::listCameras(const std::vector<std::vector<std::u16string>>& names)
{
    std::vector<CameraId> listed;
    for (size_t r = 0; r < names.size(); ++r)
        for (size_t ch = 0; ch < names[r].size(); ++ch)
            listed.push_back(CameraId{int(r), int(ch)});
    if (listed == grid_.cameras())
        return;
    grid_.setCameras(std::move(listed));
    // Tiles remembered for a recorder whose list came only now show it; a grid that grew while
    // a recorder was away keeps its empty tiles until the user chooses.
    apply(false);
}

void ViewerGrid::dropRecorder(int recorder)
{
    std::vector<CameraId> staying;
    for (CameraId c : grid_.cameras())
        if (c.recorder != recorder)
            staying.push_back(c);
    std::array<CameraId, TileGrid::kMaxTiles> tiles = grid_.tiles();
    for (CameraId& c : tiles)
        if (c.recorder == recorder)
            c = CameraId{};
    grid_.setCameras(staying);
    grid_.restore(grid_.layout(), tiles);
    apply(false);
}

ViewerGrid::Placement ViewerGrid::leaveRecorders(const std::map<int, int>& moved)
{
    Placement kept{grid_.layout(), grid_.tiles()};
    std::vector<CameraId> staying;
    for (CameraId c : grid_.cameras())
        if (!moved.count(c.recorder))
            staying.push_back(c);
    grid_.setCameras(staying);
    apply(false);
    for (CameraId& c : kept.tiles)
        if (const auto to = moved.find(c.recorder); c.valid() && to != moved.end())
            c = to->second < 0 ? CameraId{} : CameraId{to->second, c.channel};
    return kept;
}

// Every tile's camera streams, also the hidden ones while a tile is shown alone, so the grid
// comes back at once; a camera that moves between the single view and a tile keeps its stream.
void ViewerGrid::apply(bool save)
{
    Playback::Shown shown;
    shown.live = grid_.liveCameras();
    if (this->shown()) {
        shown.tileCount = grid_.shownTiles();
        for (int p = 0; p < shown.tileCount; ++p)
            shown.tiles[size_t(p)] = grid_.camera(grid_.positionTile(p));
    } else {
        full_ = false;
        shown.single = grid_.camera(0);
    }
    host_.addShown(shown);
    playback().show(shown);
    place();
    markTree();
    host_.gridApplied(save);
}

void ViewerGrid::place()
{
    if (shown())
        view_.showTiles(grid_.shownTiles(), grid_.zoomed() ? 0 : grid_.selected(), full_);
    else
        view_.showTiles(0, -1, false);
    host_.tilesPlaced();
}

void ViewerGrid::markTree()
{
    const std::vector<CameraId> live = shown() ? grid_.liveCameras() : std::vector<CameraId>{};
    for (CameraId c : grid_.cameras()) {
        const bool on = shown() ? std::find(live.begin(), live.end(), c) != live.end()
                                : c == playback().singleCamera();
        view_.setCameraShown(c, on);
    }
}

CameraId ViewerGrid::ptzCamera() const
{
    return shown() ? grid_.selectedCamera() : playback().singleCamera();
}

CameraId ViewerGrid::shownCamera() const
{
    if (shown())
        return playback().tileCamera(grid_.zoomed() ? 0 : grid_.selected());
    return playback().singleCamera();
}

ViewerGrid::SaveSource ViewerGrid::saveSource() const
{
    SaveSource s;
    CameraId c;
    if (shown()) {
        s.tile = true;
        s.position = grid_.zoomed() ? 0 : grid_.selected();
        c = playback().tileCamera(s.position);
    } else if (playback().singleStream()) {
        c = playback().singleCamera();
        s.turned = playback().single().pictureTurned();
    }
    if (c.valid())
        s.camera = host_.cameraName(c);
    return s;
}

}   // namespace kevra
