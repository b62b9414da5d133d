#include "app/GridView.h"

#include "app/LiveView.h"

#include <algorithm>

namespace kevra {

GridView::GridView(TileSurface& surface, DeviceFactory factory)
    : surface_(surface), factory_(std::move(factory))
{
}

GridView::~GridView()
{
    stopAll();
}

void GridView::startTimer()
{
    if (timerId_.load() != 0 || streams_.empty() || manualTicks_)
        return;
    period_ = 20;
    timerId_ = timer_.start(period_, [this] { tick(); });
}

void GridView::cancelTimer()
{
    const int id = timerId_.exchange(0);
    if (id > 0)
        timer_.cancel(id);   // waits for a running tick
}

void GridView::sync(const TileGrid& grid)
{
    cancelTimer();
    // Every tile's stream runs, also the hidden ones while a tile is shown alone.
    const std::vector<int> shown = grid.liveChannels();
    // Stop first, so a recorder limiting its streams has room for the new ones.
    for (auto it = streams_.begin(); it != streams_.end();) {
        if (std::find(shown.begin(), shown.end(), it->first) == shown.end())
            it = streams_.erase(it);   // the controller stops its channel
        else
            ++it;
    }
    std::array<TileController*, TileGrid::kMaxTiles> before = shown_;
    shown_.fill(nullptr);
    shownCount_ = grid.shownTiles();
    for (int p = 0; p < shownCount_; ++p) {
        const int ch = grid.channel(grid.positionTile(p));
        if (ch == TileGrid::kNone)
            continue;
        shown_[size_t(p)] = streamFor(ch);
    }
    for (int ch : shown)
        streamFor(ch);
    for (int p = 0; p < TileGrid::kMaxTiles; ++p) {
        if (shown_[size_t(p)] != before[size_t(p)]) {
            presented_[size_t(p)] = 0;
            surface_.clearTile(p);
        }
    }
    startTimer();
}

TileController* GridView::streamFor(int channel)
{
    auto& slot = streams_[channel];
    if (!slot) {
        slot = std::make_unique<TileController>(channel, factory_());
        slot->open(depth_);
    }
    return slot.get();
}

bool GridView::onOpenResult(int channel, int result)
{
    TileController* s = stream(channel);
    if (!s)
        return false;
    cancelTimer();   // a refused open stops the device: never while a tick polls it
    s->onOpenResult(result);
    for (int p = 0; p < shownCount_; ++p)
        if (shown_[size_t(p)] == s)
            surface_.tileStateChanged(p);
    startTimer();
    return true;
}

bool GridView::reopen(int channel)
{
    TileController* s = stream(channel);
    if (!s)
        return false;
    cancelTimer();   // never while a tick polls the device
    s->stop();
    s->open(depth_);
    for (int p = 0; p < shownCount_; ++p)
        if (shown_[size_t(p)] == s)
            surface_.tileStateChanged(p);
    startTimer();
    return true;
}

void GridView::stopAll()
{
    cancelTimer();
    streams_.clear();
    for (int p = 0; p < TileGrid::kMaxTiles; ++p) {
        if (shown_[size_t(p)])
            surface_.clearTile(p);
        presented_[size_t(p)] = 0;
    }
    shown_.fill(nullptr);
    shownCount_ = 0;
}

void GridView::tick()
{
    int fastest = 0;
    // Hidden streams (a tile shown alone) are polled too, so they stay current; their
    // pictures are not drawn.
    for (auto& [channel, stream] : streams_) {
        TileController* s = stream.get();
        if (!s->polling())
            continue;
        int p = 0;
        while (p < shownCount_ && shown_[size_t(p)] != s)
            ++p;
        Picture picture;
        bool changed = false;
        if (!s->poll(picture, changed)) {
        } else if (p == shownCount_) {
            s->pictureShown(picture);   // hidden: handed back undrawn
        } else {
            surface_.presentTile(p, picture.pixels, picture.width, picture.height,
                                 picture.bitsPerPixel(), picture.bottomUp);
            s->pictureShown(picture);
            presented_[size_t(p)]++;
        }
        if (changed && p < shownCount_)
            surface_.tileStateChanged(p);
        fastest = std::max(fastest, s->frameRate());
    }
    // Twice per frame of the fastest stream: a picture the decoder finished just after a tick
    // waits half a frame at most instead of a whole one, so streams whose pictures come a
    // little unevenly are not held back behind the timer (polling an idle stream is cheap).
    const int period = std::max(1, LiveView::periodFor(fastest > 0 ? fastest : 25) / 2);
    if (period != period_) {
        period_ = period;
        timer_.restartRunning(period);   // nothing when driven by hand
    }
}

int GridView::channelAt(int position) const
{
    if (position < 0 || position >= shownCount_ || !shown_[size_t(position)])
        return TileGrid::kNone;
    return shown_[size_t(position)]->channel();
}

TileController::State GridView::stateAt(int position) const
{
    if (position < 0 || position >= shownCount_ || !shown_[size_t(position)])
        return TileController::State::Stopped;
    return shown_[size_t(position)]->state();
}

TileController* GridView::stream(int channel) const
{
    auto it = streams_.find(channel);
    return it == streams_.end() ? nullptr : it->second.get();
}

int GridView::presentedAt(int position) const
{
    if (position < 0 || position >= TileGrid::kMaxTiles)
        return 0;
    return presented_[size_t(position)].load();
}

}   // namespace kevra
