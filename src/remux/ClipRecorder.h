// Records one camera's stream into a clip file on a thread of its own: the stream's owner hands
// it the same media bytes it gives its decoder, and the recording cuts and writes them there,
// so the network thread never waits for the disk. Owns the bounded input queue, the frame
// cutter, the clip writer and the writer thread.
// Threads: push() and streamRestarted() from the network thread; start(), stop() from the
// owner's thread; status() from any thread. The queue and the status are guarded by lock_.
#pragma once
#include "common/WorkerThread.h"
#include "remux/ClipWriter.h"
#include "remux/FrameCutter.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace kevra {

class ClipRecorder {
public:
    // Bytes the input queue may hold; a block that does not fit is dropped and the recording
    // resumes at the next key frame.
    static constexpr int kQueueBytes = 16 << 20;

    struct Status {
        bool running = false;   // started and not stopped nor failed
        bool failed = false;    // writing stopped: error says why
        std::string error;
        std::string path;   // the part being written (or the last one), "" before the first
        std::vector<ClipWriter::Part> files;   // every part so far, in order
        int64_t elapsedMs = 0;                 // since start()
        int64_t firstFrameMs = -1;             // start() to the first frame written, -1 before it
        int64_t mediaUs = 0;                   // media time written
        int64_t frames = 0;
        int64_t bytes = 0;           // bytes written to the files
        int64_t droppedBlocks = 0;   // blocks dropped because the queue was full
    };

    explicit ClipRecorder(std::string path);
    // The container given rather than the one the name's extension says (standard output).
    ClipRecorder(std::string path, ClipWriter::Container container);
    ~ClipRecorder();
    ClipRecorder(const ClipRecorder&) = delete;
    ClipRecorder& operator=(const ClipRecorder&) = delete;

    // Starts the writer thread. False when it cannot run (the status says why).
    bool start();
    // Bytes of the stream from before start(), oldest first, given before any push(): the clip
    // begins with the latest key frame among them, so a recording started while the stream
    // plays need not wait for the next key frame. Bytes that hold no key frame are passed over.
    void prime(std::vector<uint8_t> earlier);
    // Queues a copy of the bytes; never blocks on the disk.
    void push(const uint8_t* bytes, int length);
    // The stream was interrupted and starts afresh (a new media connection): it goes on in the
    // next part of the clip.
    void streamRestarted();
    // Writes what is queued, completes the file and ends the thread.
    void stop();
    Status status() const;
    const std::string& path() const { return path_; }

private:
    struct Block {
        std::vector<uint8_t> bytes;
        bool restart = false;   // the stream starts afresh before these bytes
        bool gap = false;       // blocks were dropped before these bytes
        bool earlier = false;   // bytes from before the start (prime)
    };
    void loop();
    void writeEarlier(const Block& b);
    void publish();

    const std::string path_;
    WorkerThread thread_;

    // Writer thread only.
    FrameCutter cutter_;
    ClipWriter writer_;

    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Block> queue_;
    int64_t queuedBytes_ = 0;
    bool stopping_ = false;
    bool dropping_ = false;   // a block was dropped: the next one starts with a gap
    Status status_;
    std::chrono::steady_clock::time_point started_;
};

}   // namespace kevra
