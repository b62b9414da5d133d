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
        const int recorder = recorderOf(v.sources[size_t(t)], recorders);
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
        if (!c.valid())
            continue;
        const std::u16string source = sourceOf(c.recorder, recorders);
        if (source.empty() && c.recorder != RecorderList::kDialogRecorder)
            continue;   // a recorder no longer listed
        v.tiles[size_t(t)] = c.channel;
        v.sources[size_t(t)] = source;
    }
    if (grid.zoomed() && v.tiles[size_t(grid.selected())] != ViewSettings::kNone)
        v.zoomed = grid.selected();
    ViewSettings::save(path_, recorder_, v);
}

std::u16string RememberedView::sourceOf(int recorder,
                                        const std::vector<RecorderList::Recorder>& recorders)
{
    if (recorder == RecorderList::kDialogRecorder || recorder < 0 ||
        size_t(recorder) >= recorders.size())
        return u"";
    return ViewSettings::recorderName(recorders[size_t(recorder)].ip,
                                      recorders[size_t(recorder)].port);
}

int RememberedView::recorderOf(const std::u16string& source,
                               const std::vector<RecorderList::Recorder>& recorders)
{
    if (source.empty())
        return RecorderList::kDialogRecorder;
    for (size_t i = 0; i < recorders.size(); ++i)
        if (ViewSettings::recorderName(recorders[i].ip, recorders[i].port) == source)
            return int(i);
    return -1;
}

}   // namespace kevra
