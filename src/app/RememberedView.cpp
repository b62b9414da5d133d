#include "app/RememberedView.h"

#include "app/ViewerLog.h"
#include "profile/ViewSettings.h"

namespace kevra {

void RememberedView::setRecorder(const std::u16string& settingsPath, const std::u16string& address,
                                 int port)
{
    recorder_ = ViewSettings::recorderName(address, port);
    const size_t slash = settingsPath.find_last_of(u'/');
    path_ = ViewSettings::pathIn(slash == std::u16string::npos ? std::u16string()
                                                               : settingsPath.substr(0, slash + 1));
}

void RememberedView::restore(TileGrid& grid,
                             const std::vector<RecorderList::Recorder>& recorders) const
{
    ViewerLog::settingsRead(path_);
    const ViewSettings v = ViewSettings::load(path_, recorder_);
    std::array<CameraId, TileGrid::kMaxTiles> tiles{};
    for (int t = 0; t < TileGrid::kMaxTiles; ++t) {
        // A tile of the dialog's recorder names no source: the file is that recorder's.
        const std::u16string& source = v.sources[size_t(t)];
        int recorder = source.empty() ? RecorderList::kDialogRecorder : -1;
        for (size_t i = 0; i < recorders.size() && recorder < 0; ++i)
            if (int(i) != RecorderList::kDialogRecorder &&
                ViewSettings::recorderName(recorders[i].ip, recorders[i].port) == source)
                recorder = int(i);
        if (recorder >= 0 && v.tiles[size_t(t)] >= 0)   // a recorder no longer listed: empty
            tiles[size_t(t)] = CameraId{recorder, v.tiles[size_t(t)]};
    }
    grid.restore(v.layout, tiles);
    if (v.zoomed != ViewSettings::kNone)
        grid.toggleZoom(v.zoomed);
}

void RememberedView::save(const TileGrid& grid,
                          const std::vector<RecorderList::Recorder>& recorders) const
{
    if (recorder_.empty())
        return;
    ViewSettings v;
    v.layout = grid.layout();
    for (int t = 0; t < TileGrid::kMaxTiles; ++t) {
        const CameraId c = grid.tiles()[size_t(t)];
        const bool own = c.recorder == RecorderList::kDialogRecorder;
        if (!c.valid() || (!own && size_t(c.recorder) >= recorders.size()))
            continue;
        v.tiles[size_t(t)] = c.channel;
        if (!own)
            v.sources[size_t(t)] = ViewSettings::recorderName(recorders[size_t(c.recorder)].ip,
                                                              recorders[size_t(c.recorder)].port);
    }
    if (grid.zoomed() && v.tiles[size_t(grid.selected())] != ViewSettings::kNone)
        v.zoomed = grid.selected();
    ViewSettings::save(path_, recorder_, v);
}

}   // namespace kevra
