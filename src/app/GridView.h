// Multi-camera view controller: runs the streams of the tiles shown in a grid of 4, 9 or 16
// tiles and hands their pictures to the tiles' drawing target. Owned by the main window.
// Every operation runs on the user-interface thread except tick(), which runs on the
// frame-timer thread.
//
// How it works:
// - TileGrid (the model) says which channel each shown position holds and answers every change
//   with the channels to stop and to open. GridView keeps one stream per open channel, keyed by
//   channel rather than by position, so tiles that swap cameras keep their streams. A stream is
//   a LiveViewDevice over the device client: its own DecoderWorker (input queue and frame list
//   bounded as in the one-camera view) and its own media sink. Stopping a channel stops it at the
//   recorder and ends its decoding before the stream object goes.
// - One frame timer drives all streams. Each tick polls every shown stream once
//   (takePicture), applies the one-camera view's buffering rule per stream and keeps a state
//   per stream: opening, buffering, playing, open error, stopped. A state change is posted to
//   the user-interface thread, which draws it in the tile with the camera's name. The timer polls
//   twice per frame of the fastest stream (500 / frame rate): a picture finished just after a
//   tick waits half a frame, not a whole one, and a tile that is late once catches up.
// - Drawing: the decoder converts each picture once, at its own size, into its picture buffer.
//   The tile's drawing target scales it from there straight into a picture of the tile's content
//   size (one pass that reads the full picture and writes the small one), and painting copies
//   that small picture unscaled. No full-size copy is made, the full picture is read once per
//   shown picture, and a hidden tile's pictures are not scaled at all.
// - The stream table changes only while the timer is paused (cancel, change, start), so tick()
//   reads it without a lock; per-stream states are atomics (TileController).
// - Grids are never turned; the quarter turn on portrait screens belongs to the one-tile view.
// - Connection loss stops every stream and keeps the model, so the login that follows reopens
//   the same tiles.
// - The one-tile view (layout 1, or a grid tile shown alone) is not run here: the main window
//   gives it to the one-camera LiveView, which keeps its status line and quarter turn.
#pragma once
#include "app/LiveViewDevice.h"
#include "app/TileController.h"
#include "app/TileGrid.h"
#include "app/TileSurface.h"
#include "common/PeriodicTimer.h"

#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>

namespace kevra {

class GridView {
public:
    using DeviceFactory = std::function<std::unique_ptr<LiveViewDevice>()>;

    // factory makes one stream's device (a ClientLiveViewDevice over the client; tests fake it).
    GridView(TileSurface& surface, DeviceFactory factory);
    ~GridView();   // stopAll()
    GridView(const GridView&) = delete;
    GridView& operator=(const GridView&) = delete;

    void setDisplayDepth(int bitsPerPixel) { depth_ = bitsPerPixel; }
    // Tests drive tick() by hand: no frame timer is started from now on.
    void setManualTicks(bool manual) { manualTicks_ = manual; }
    // Brings the streams in line with the grid: streams of channels no longer in the grid stop
    // (at the recorder too) before those of new channels open; positions whose camera changed
    // lose their picture. Streams of channels still in the grid keep running, also while one
    // tile is shown alone (the others are polled but not drawn).
    void sync(const TileGrid& grid);
    // Recorder's answer to opening a channel; false when no stream of the grid has it.
    bool onOpenResult(int channel, int result);
    // Opens one stream's channel again (its media connection closed or went silent); the other
    // streams keep running. False when no stream of the grid has the channel.
    bool reopen(int channel);
    // Stops every stream; no tick runs once it returns. The next sync() opens them again.
    void stopAll();
    // Frame timer callback (frame-timer thread; tests drive it by hand).
    void tick();

    // User-interface thread.
    int channelAt(int position) const;
    // Tile state at a shown position (Stopped for an empty tile).
    TileController::State stateAt(int position) const;
    int streamCount() const { return int(streams_.size()); }
    TileController* stream(int channel) const;
    bool timerRunning() const { return timerId_.load() != 0; }
    // Pictures handed to the surface per shown position since the stream there opened.
    int presentedAt(int position) const;

private:
    void startTimer();
    void cancelTimer();
    TileController* streamFor(int channel);   // the channel's stream, opened when new

    TileSurface& surface_;
    DeviceFactory factory_;
    PeriodicTimer timer_;
    std::atomic<int> timerId_{0};   // written by the user-interface thread only
    std::atomic<int> depth_{32};    // set by the user-interface thread, read by tick()
    bool manualTicks_ = false;
    // Changed by the user-interface thread only while the timer is cancelled.
    std::map<int, std::unique_ptr<TileController>> streams_;
    std::array<TileController*, TileGrid::kMaxTiles> shown_{};   // per shown position
    int shownCount_ = 0;
    // Frame-timer thread while the timer runs.
    int period_ = 20;
    std::array<std::atomic<int>, TileGrid::kMaxTiles> presented_{};
};

}   // namespace kevra
