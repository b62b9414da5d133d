#include "app/Playback.h"

#include "common/Clock.h"

#include <algorithm>

namespace kevra {

Playback::Playback(SingleViewHost& host, PictureSurface& picture, TileSurface& tiles,
                   DeviceFactory factory)
    : host_(host), single_(host, picture), tiles_(tiles), factory_(std::move(factory))
{
    depth_ = single_.initialise();
}

Playback::~Playback()
{
    stopAll();
}

int Playback::framePeriod(int rate)
{
    // 1000 / rate, truncated; rates above 1000 still tick every millisecond.
    if (rate <= 0)
        return 40;
    const int period = 1000 / rate;
    return period > 0 ? period : 1;
}

void Playback::startTimer()
{
    if (timerId_.load() != 0 || streams_.empty() || manualTicks_)
        return;
    timerId_ = timer_.start(period_.load(), [this] { tick(); });
}

void Playback::cancelTimer()
{
    const int id = timerId_.exchange(0);
    if (id > 0)
        timer_.cancel(id);   // waits for a running tick
}

void Playback::setLowLatency(bool on)
{
    lowLatency_ = on;
    for (auto& [camera, s] : streams_)
        s->setLowLatency(on);
}

void Playback::postSingleState(State state)
{
    host_.postStatus(StreamController::singleKey(state));
}

StreamController* Playback::streamFor(CameraId camera, int number)
{
    const PixelFormat format = pixelFormatForDepth(depth_.load());
    auto& slot = streams_[camera];
    if (!slot) {
        slot = std::make_unique<StreamController>(camera, factory_(camera));
        slot->setLowLatency(lowLatency_.load());
        slot->setStreamNumber(number);
        slot->open(format);
    } else if (slot->state() == State::Stopped) {
        slot->setStreamNumber(number);
        slot->open(format);   // suspended with the lost session
    } else if (slot->streamNumber() != number) {
        // Shown alone or back in a tile: the other stream, the last picture held meanwhile.
        slot->switchStream(number, format);
    }
    return slot.get();
}

int Playback::positionOf(const StreamController* s) const
{
    for (int p = 0; p < tileCount_; ++p)
        if (tileStreams_[size_t(p)] == s)
            return p;
    return -1;
}

void Playback::show(const Shown& shown)
{
    cancelTimer();
    std::vector<CameraId> live = shown.live;
    if (shown.single.valid())
        live.push_back(shown.single);
    const int count = std::clamp(shown.tileCount, 0, TileGrid::kMaxTiles);
    for (int p = 0; p < count; ++p)
        if (shown.tiles[size_t(p)].valid())
            live.push_back(shown.tiles[size_t(p)]);
    // Cameras shown alone anywhere run at the single-view number, wherever else they are shown.
    std::vector<CameraId> alone;
    if (shown.single.valid())
        alone.push_back(shown.single);
    if (count == 1 && shown.tiles[0].valid())
        alone.push_back(shown.tiles[0]);
    for (const Shown::Wall& w : shown.walls) {
        if (!w.surface)
            continue;
        const int n = std::clamp(w.tileCount, 0, TileGrid::kMaxTiles);
        for (int p = 0; p < n; ++p)
            if (w.tiles[size_t(p)].valid())
                live.push_back(w.tiles[size_t(p)]);
        if (n == 1 && w.tiles[0].valid())
            alone.push_back(w.tiles[0]);
    }
    // A camera that records streams the single-view number too, wherever it is shown.
    alone.insert(alone.end(), shown.full.begin(), shown.full.end());
    const auto numberOf = [&](CameraId c) {
        return std::find(alone.begin(), alone.end(), c) != alone.end() ? singleStreamNumber_
                                                                       : tileStream_;
    };

    const CameraId singleBefore = singleCamera();
    const State stateBefore = singleStream_ ? singleStream_->state() : State::Stopped;
    std::array<CameraId, TileGrid::kMaxTiles> tilesBefore{};
    for (int p = 0; p < tileCount_; ++p)
        if (tileStreams_[size_t(p)])
            tilesBefore[size_t(p)] = tileStreams_[size_t(p)]->camera();
    singleStream_ = nullptr;
    tileStreams_.fill(nullptr);
    tileCount_ = 0;
    std::vector<WallTiles> wallsBefore = std::move(walls_);
    walls_.clear();
    wallTargets_.clear();

    // Stop first, so a recorder limiting its streams has room for the new ones.
    for (auto it = streams_.begin(); it != streams_.end();) {
        if (std::find(live.begin(), live.end(), it->first) == live.end())
            it = streams_.erase(it);   // the controller stops its channel
        else
            ++it;
    }
    if (shown.single.valid())
        singleStream_ = streamFor(shown.single, singleStreamNumber_);
    const int tileCountBefore = tileCount_;
    tileCount_ = count;
    // A tile shown alone is a camera alone too (numberOf).
    for (int p = 0; p < count; ++p)
        if (shown.tiles[size_t(p)].valid())
            tileStreams_[size_t(p)] =
                streamFor(shown.tiles[size_t(p)], numberOf(shown.tiles[size_t(p)]));
    for (CameraId c : shown.live) {
        if (c.valid() && c != shown.single &&
            std::find(shown.tiles.begin(), shown.tiles.begin() + count, c) ==
                shown.tiles.begin() + count)
            streamFor(c, numberOf(c));   // hidden: ready to come back as a tile
    }
    for (const Shown::Wall& w : shown.walls) {
        if (!w.surface)
            continue;
        WallTiles wall;
        wall.surface = w.surface;
        wall.count = std::clamp(w.tileCount, 0, TileGrid::kMaxTiles);
        for (int p = 0; p < wall.count; ++p) {
            const CameraId c = w.tiles[size_t(p)];
            if (!c.valid())
                continue;
            StreamController* s = streamFor(c, numberOf(c));
            wall.streams[size_t(p)] = s;
            wallTargets_[s].emplace_back(w.surface, p);
        }
        // A tile whose camera changed loses its picture; the others are told of their state.
        const auto before =
            std::find_if(wallsBefore.begin(), wallsBefore.end(),
                         [&](const WallTiles& b) { return b.surface == w.surface; });
        for (int p = 0; p < TileGrid::kMaxTiles; ++p) {
            const StreamController* was = before != wallsBefore.end() && p < before->count
                                              ? before->streams[size_t(p)]
                                              : nullptr;
            StreamController* now = wall.streams[size_t(p)];
            if (was != now && (was || p < wall.count))
                w.surface->clearTile(p);
            if (now)
                w.surface->tileStateChanged(p);
        }
        walls_.push_back(wall);
    }

    // A camera whose stream already shows pictures (opened ahead by a tour) replaces the one
    // shown with its next picture: no black between the two, the mode kept.
    const bool ready =
        singleStream_ && singleBefore.valid() && singleStream_->state() == State::Playing;
    if (singleCamera() != singleBefore && ready) {
        postSingleState(State::Playing);
    } else if (singleCamera() != singleBefore) {
        single_.reset();   // black, normal size, the next picture laid out afresh
        if (singleStream_ || singleBefore.valid())
            postSingleState(singleStream_ ? singleStream_->state() : State::Stopped);
    } else if (singleStream_ && singleStream_->state() != stateBefore) {
        postSingleState(singleStream_->state());
    }
    // A camera that moves to another tile (shown alone, back in the grid) takes its last
    // picture along; a tile whose camera is new there loses its picture.
    std::array<int, TileGrid::kMaxTiles> from{};
    bool moved = count != tileCountBefore;
    for (int p = 0; p < TileGrid::kMaxTiles; ++p) {
        const CameraId now = p < count ? shown.tiles[size_t(p)] : CameraId{};
        from[size_t(p)] = -1;
        if (now == tilesBefore[size_t(p)]) {   // the same camera, or empty as before
            from[size_t(p)] = p;
            continue;
        }
        moved = true;
        presented_[size_t(p)] = 0;
        for (int q = 0; now.valid() && q < TileGrid::kMaxTiles; ++q)
            if (tilesBefore[size_t(q)] == now)
                from[size_t(p)] = q;
    }
    if (moved)
        tiles_.rearrangeTiles(count, from);
    for (int p = 0; p < count; ++p)
        if (from[size_t(p)] == p && shown.tiles[size_t(p)].valid())
            tiles_.tileStateChanged(p);
    startTimer();
}

bool Playback::onOpenResult(CameraId camera, int result)
{
    StreamController* s = stream(camera);
    if (!s)
        return false;
    cancelTimer();   // a refused open stops the device: never while a tick polls it
    if (s->onOpenResult(result)) {
        if (s == singleStream_ && s->state() == State::OpenError)
            host_.fillVideoAreaBlack();
        showState(s);
    }
    startTimer();
    return true;
}

bool Playback::reopen(CameraId camera)
{
    StreamController* s = stream(camera);
    if (!s)
        return false;
    cancelTimer();   // the decoder restarts: no tick may poll it meanwhile
    s->open(pixelFormatForDepth(depth_.load()));
    showState(s);
    startTimer();
    return true;
}

void Playback::suspend(int recorder)
{
    cancelTimer();
    for (auto& [camera, s] : streams_)
        if (camera.recorder == recorder)
            s->suspend();
    for (int p = 0; p < tileCount_; ++p)
        if (tileStreams_[size_t(p)] && tileStreams_[size_t(p)]->camera().recorder == recorder)
            tiles_.tileStateChanged(p);
    for (const auto& [s, targets] : wallTargets_)
        if (s->camera().recorder == recorder)
            tellWalls(s);
    startTimer();   // the other recorders' streams play on
}

void Playback::stopAll()
{
    cancelTimer();
    const bool hadSingle = singleStream_ != nullptr;
    singleStream_ = nullptr;
    for (int p = 0; p < TileGrid::kMaxTiles; ++p) {
        if (tileStreams_[size_t(p)])
            tiles_.clearTile(p);
        presented_[size_t(p)] = 0;
    }
    tileStreams_.fill(nullptr);
    tileCount_ = 0;
    for (const WallTiles& w : walls_)
        for (int p = 0; p < w.count; ++p)
            if (w.streams[size_t(p)])
                w.surface->clearTile(p);
    walls_.clear();
    wallTargets_.clear();
    streams_.clear();
    if (hadSingle) {
        single_.reset();
        postSingleState(State::Stopped);
    }
}

void Playback::tick()
{
    const bool low = lowLatency_.load();
    const int pollsPerFrame = low ? 4 : 2;
    int fastest = 0;
    for (auto& [camera, stream] : streams_) {
        StreamController* s = stream.get();
        if (!s->polling())
            continue;
        s->setPollsPerFrame(pollsPerFrame);
        const bool single = s == singleStream_;
        const int p = positionOf(s);
        const auto wallIt = wallTargets_.find(s);
        const auto* targets = wallIt == wallTargets_.end() ? nullptr : &wallIt->second;
        Picture picture;
        bool changed = false;
        if (s->poll(picture, changed)) {
            bool drawn = false;
            if (single) {
                drawn = single_.present(picture);
            } else if (p >= 0) {
                tiles_.presentTile(p, picture.pixels, picture.width, picture.height,
                                   picture.bitsPerPixel(), picture.bottomUp);
                presented_[size_t(p)]++;
                drawn = true;
            }
            if (targets)
                for (const auto& [surface, position] : *targets) {
                    surface->presentTile(position, picture.pixels, picture.width, picture.height,
                                         picture.bitsPerPixel(), picture.bottomUp);
                    drawn = true;
                }
            if (drawn)
                s->pictureDrawn(picture, Clock::nowUs());
            else
                s->pictureSkipped(picture);   // hidden, or the tree is shown
        }
        if (changed)
            showState(s);
        fastest = std::max(fastest, s->frameRate());
    }
    // The single view's surface decides the depth every stream converts to.
    const int depth = single_.pixelDepth();
    if (depth != depth_.load()) {
        depth_ = depth;
        for (auto& [camera, s] : streams_)
            s->setPixelFormat(pixelFormatForDepth(depth));
    }
    const int period = std::max(1, framePeriod(fastest > 0 ? fastest : 25) / pollsPerFrame);
    if (period != period_.load()) {
        period_ = period;
        timer_.restartRunning(period);   // nothing when driven by hand
    }
}

StreamController* Playback::stream(CameraId camera) const
{
    auto it = streams_.find(camera);
    return it == streams_.end() ? nullptr : it->second.get();
}

std::vector<StreamController*> Playback::streams() const
{
    std::vector<StreamController*> all;
    for (const auto& [camera, s] : streams_)
        all.push_back(s.get());
    return all;
}

CameraId Playback::tileCamera(int position) const
{
    if (position < 0 || position >= tileCount_ || !tileStreams_[size_t(position)])
        return {};
    return tileStreams_[size_t(position)]->camera();
}

Playback::State Playback::tileState(int position) const
{
    if (position < 0 || position >= tileCount_ || !tileStreams_[size_t(position)])
        return State::Stopped;
    return tileStreams_[size_t(position)]->state();
}

void Playback::showState(const StreamController* s)
{
    if (s == singleStream_)
        postSingleState(s->state());
    if (const int p = positionOf(s); p >= 0)
        tiles_.tileStateChanged(p);
    tellWalls(s);
}

void Playback::tellWalls(const StreamController* s)
{
    if (const auto it = wallTargets_.find(s); it != wallTargets_.end())
        for (const auto& [surface, position] : it->second)
            surface->tileStateChanged(position);
}

const StreamController* Playback::wallStream(const TileSurface* wall, int position) const
{
    for (const WallTiles& w : walls_)
        if (w.surface == wall && position >= 0 && position < w.count)
            return w.streams[size_t(position)];
    return nullptr;
}

CameraId Playback::wallCamera(const TileSurface* wall, int position) const
{
    const StreamController* s = wallStream(wall, position);
    return s ? s->camera() : CameraId{};
}

Playback::State Playback::wallState(const TileSurface* wall, int position) const
{
    const StreamController* s = wallStream(wall, position);
    return s ? s->state() : State::Stopped;
}

int Playback::presentedAt(int position) const
{
    if (position < 0 || position >= TileGrid::kMaxTiles)
        return 0;
    return presented_[size_t(position)].load();
}

}   // namespace kevra
