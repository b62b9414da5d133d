// The viewer's clip recordings: at most one per camera (any recorder's), each a ClipRecorder writing the
// channel's stream into the user's videos folder under the camera's name, the date and the time
// ("Lobby_2026-12-07_17-52-03.mp4"). A recording outlives its stream: when the channel's
// stream comes back after a lost connection, the clip goes on in its next part. The latest
// bytes of every stream fed are kept (up to kEarlierBytes), so a recording started while the
// camera plays begins at once, with the latest key frame.
// Threads: start(), stop(), stopAll(), streamRestarted() and the queries run on the
// user-interface thread; feed() runs on the network thread (the channel's media sink hands it
// the bytes it gives its decoder). The table of recordings is guarded by lock_.
#pragma once
#include "app/CameraId.h"
#include "remux/ClipRecorder.h"

#include <cstdint>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kevra {

class RecordingController {
public:
    // Bytes of each stream kept for a recording that starts while it plays: a key-frame
    // interval of a 1080p camera at 4 Mbit/s and more.
    static constexpr size_t kEarlierBytes = 3u << 20;

    struct Started {
        bool ok = false;
        std::string path;    // the clip's first file
        std::string error;   // why it could not start
    };

    // folder: where clips go ("" = videosFolder(), looked up and made when a recording starts).
    explicit RecordingController(std::string folder = "");
    ~RecordingController();   // stopAll()
    RecordingController(const RecordingController&) = delete;
    RecordingController& operator=(const RecordingController&) = delete;

    // Starts recording the channel; `camera` names the file. A channel already recording keeps
    // its recording (and its path is returned).
    Started start(CameraId id, const std::string& camera, std::time_t when = std::time(nullptr));
    // Ends the channel's recording and completes its files; its final status (not running).
    ClipRecorder::Status stop(CameraId id);
    // Ends every recording (exit, logout). Returns the final status of each, by channel.
    std::map<CameraId, ClipRecorder::Status> stopAll();

    bool recording(CameraId id) const;
    std::vector<CameraId> cameras() const;
    // Elapsed time, files, errors: the red mark and the status line read it. A recording that
    // failed stays here (failed, with the error) until stop().
    ClipRecorder::Status status(CameraId id) const;

    // Network thread: the channel's media bytes, as received (for every channel shown, recording
    // or not).
    void feed(CameraId id, const uint8_t* bytes, int length);
    // The channel's stream was opened again (after a lost connection): the next part begins.
    // Call before the new stream's bytes are fed.
    void streamRestarted(CameraId id);
    // The channel is no longer shown: its kept bytes go (a recording of it goes on, to continue
    // when the stream is back).
    void streamStopped(CameraId id);

    // Where the next recordings go as set ("" = videosFolder()); user-interface thread, as start
    // is.
    const std::string& folder() const { return folder_; }
    void setFolder(const std::string& folder);

    // The user's videos folder: XDG_VIDEOS_DIR of the user-dirs file, else ~/Videos; made when
    // missing; the home folder when it cannot be made.
    static std::string videosFolder();
    // "Lobby_2026-12-07_17-52-03.mp4" in local time; characters that do not belong in a file
    // name become '_', a camera without a usable name is called "camera", as for saved pictures.
    static std::string fileName(const std::string& camera, std::time_t when);
    // "0:07", "12:34", "1:02:03": the elapsed time beside the red mark.
    static std::string elapsedText(int64_t ms);

private:
    std::string folder_;
    mutable std::mutex lock_;
    std::map<CameraId, std::shared_ptr<ClipRecorder>> recordings_;
    struct Earlier {
        std::deque<std::vector<uint8_t>> blocks;
        size_t bytes = 0;
    };
    std::map<CameraId, Earlier> earlier_;
};

}   // namespace kevra
