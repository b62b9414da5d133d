// Every camera stream the viewer runs and the one frame timer that drives them: one
// StreamController per camera, keyed by CameraId, each presenting either to the single view
// (one camera, fitted, turned on a portrait screen in full screen, its state in the status row)
// or to a tile, or to nobody while it is hidden (the other tiles of a grid while one tile is
// shown alone). Switching between the single view, a grid and a tile shown alone keeps the
// streams of the cameras still shown: no reopen, no wait for the next key frame. Owned by the
// viewer coordinator.
//
// Threads: tick() runs on the frame-timer thread (tests drive it by hand); everything else on
// the user-interface thread. The stream table and what is shown where change only while the
// timer is paused (cancel, change, start), so tick() reads them without a lock; per-stream
// states are atomics (StreamController).
//
// Each tick polls every open stream once, presents a ready picture where its camera is shown,
// gives it back, and reports state changes: to the status row for the single view's stream,
// to the tile surface for a tile's. The timer polls twice per frame of the fastest stream
// (500 / frame rate ms): a picture finished just after a tick waits half a frame, not a whole
// one. Low latency polls four times per frame.
#pragma once
#include "app/CameraId.h"
#include "app/LiveViewDevice.h"
#include "app/SingleView.h"
#include "app/StreamController.h"
#include "app/TileGrid.h"
#include "app/TileSurface.h"
#include "common/PeriodicTimer.h"

#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace kevra {

class Playback {
public:
    using DeviceFactory = std::function<std::unique_ptr<LiveViewDevice>(CameraId)>;
    using State = StreamController::State;

    // What the window shows. live: every camera whose stream runs, shown or hidden; single: the
    // camera of the single view (none: the single view shows nothing); tiles: the camera of each
    // shown tile position (tileCount 0: no tiles).
    struct Shown {
        std::vector<CameraId> live;
        CameraId single;
        int tileCount = 0;
        std::array<CameraId, TileGrid::kMaxTiles> tiles{};
        // Cameras that stream the single-view number wherever they are (a recording is of the
        // camera's single-view stream, also from a grid tile).
        std::vector<CameraId> full;
        // Tiles on other screens: the walls and the spot monitor, each its own surface.
        struct Wall {
            TileSurface* surface = nullptr;
            int tileCount = 0;
            std::array<CameraId, TileGrid::kMaxTiles> tiles{};
        };
        std::vector<Wall> walls;
    };

    // factory makes one camera's stream device (over its recorder's link; tests fake it).
    Playback(SingleViewHost& host, PictureSurface& picture, TileSurface& tiles,
             DeviceFactory factory);
    ~Playback();   // stopAll()
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;

    // Brings the streams in line with what is shown: streams of cameras no longer live stop
    // (at the recorder too) before new ones open, suspended streams open again, positions
    // whose camera changed lose their picture, a new single camera gets a black, unturned
    // view. A camera that moves between the single view and a tile keeps its stream.
    //
    // Walls: a camera has one stream however many walls and tiles show it (the recorder keeps
    // one stream per channel), at the single-view number when it is shown alone anywhere (the
    // single view, a tile shown alone, the spot or a one-tile wall), else at the tile number;
    // every tile showing it is handed each picture. A wall no longer listed is not touched
    // again: its owner may destroy its surface once show() has returned.
    void show(const Shown& shown);
    // Recorder's answer to opening a channel; false when no stream has the camera.
    bool onOpenResult(CameraId camera, int result);
    // Opens one stream again (its media connection closed or went silent); the others keep
    // running. False when no stream has the camera.
    bool reopen(CameraId camera);
    // The recorder's session is lost: its channels stop, but their streams, last pictures and
    // stall counts stay; the next show() opens them again. Other recorders' streams play on.
    void suspend(int recorder);
    // Stops every stream; no tick runs once it returns. The next show() opens them again.
    void stopAll();
    // Frame timer callback (frame-timer thread; tests drive it by hand).
    void tick();

    // The recorder's stream numbers: for grid tiles, and for a camera shown alone (the single
    // view, or a tile shown alone). Applied by the next show(); a running stream whose number
    // changes switches holding its last picture (StreamController::switchStream).
    void setStreamNumbers(int tile, int single)
    {
        tileStream_ = tile;
        singleStreamNumber_ = single;
    }
    int tileStreamNumber() const { return tileStream_; }
    int singleStreamNumber() const { return singleStreamNumber_; }

    // Low latency: the timer polls four times per frame instead of twice and the streams'
    // states follow their pictures alone (StreamController::setLowLatency).
    void setLowLatency(bool on);
    bool lowLatency() const { return lowLatency_.load(); }
    // Tests drive tick() by hand: no frame timer is started from now on.
    void setManualTicks(bool manual) { manualTicks_ = manual; }

    // User-interface thread.
    SingleView& single() { return single_; }
    const SingleView& single() const { return single_; }
    CameraId singleCamera() const { return singleStream_ ? singleStream_->camera() : CameraId{}; }
    // The single view's stream, or the stream of a camera; null when there is none.
    StreamController* singleStream() const { return singleStream_; }
    StreamController* stream(CameraId camera) const;
    // Every stream, in camera order.
    std::vector<StreamController*> streams() const;
    int streamCount() const { return int(streams_.size()); }
    // The camera at a shown tile position (none for an empty tile), its state (Stopped when
    // none) and the pictures handed to the tile since its stream came there.
    CameraId tileCamera(int position) const;
    State tileState(int position) const;
    int presentedAt(int position) const;
    // The same for a tile of a wall shown (by its surface); none and Stopped for anything else.
    CameraId wallCamera(const TileSurface* wall, int position) const;
    State wallState(const TileSurface* wall, int position) const;
    bool timerRunning() const { return timerId_.load() != 0; }
    int periodMs() const { return period_.load(); }
    // Bits per pixel the surfaces want (any thread).
    int pixelDepth() const { return depth_.load(); }
    // Frame timer period for a frame rate: 1000 / rate ms, truncated (at least 1 ms).
    static int framePeriod(int rate);

private:
    void startTimer();
    void cancelTimer();
    // The camera's stream at this stream number, opened when new.
    StreamController* streamFor(CameraId camera, int number);
    int positionOf(const StreamController* s) const;
    const StreamController* wallStream(const TileSurface* wall, int position) const;
    // The single view, the tile and the walls' tiles showing the stream draw its state again.
    void showState(const StreamController* s);
    // The walls' tiles showing the stream draw its state again.
    void tellWalls(const StreamController* s);
    void postSingleState(State state);

    SingleViewHost& host_;
    SingleView single_;
    TileSurface& tiles_;
    DeviceFactory factory_;
    PeriodicTimer timer_;
    std::atomic<int> timerId_{0};   // written by the user-interface thread only
    std::atomic<int> depth_{32};    // the surfaces' bits per pixel
    std::atomic<bool> lowLatency_{false};
    std::atomic<int> period_{20};
    bool manualTicks_ = false;
    // Changed by the user-interface thread only while the timer is cancelled.
    std::map<CameraId, std::unique_ptr<StreamController>> streams_;
    StreamController* singleStream_ = nullptr;
    std::array<StreamController*, TileGrid::kMaxTiles> tileStreams_{};   // per shown position
    int tileCount_ = 0;
    std::array<std::atomic<int>, TileGrid::kMaxTiles> presented_{};
    struct WallTiles {
        TileSurface* surface = nullptr;
        int count = 0;
        std::array<StreamController*, TileGrid::kMaxTiles> streams{};
    };
    std::vector<WallTiles> walls_;
    // Where each stream's pictures go on the walls: (surface, position) pairs.
    std::map<const StreamController*, std::vector<std::pair<TileSurface*, int>>> wallTargets_;
    int tileStream_ = 1;
    int singleStreamNumber_ = 1;
};

}   // namespace kevra
