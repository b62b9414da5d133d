// Turns the current channel's media bytes into pictures for the screen: owns the input queue,
// the demultiplexer, the frame list, the video decoder (H.264 or MPEG-4 Visual) with its frame
// joiner and the picture buffer (decoded pictures are converted from the decoder's own planes).
// Threads: network worker (push), its own decoder thread (intake, decode, convert), the
// frame timer (pictureQuery, lowerConvertedCount), the device client (start, stop, depth).
#pragma once
#include "common/WorkerThread.h"
#include "demux/MediaFrame.h"
#include "video/FrameJoiner.h"
#include "video/VideoDecoder.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <new>

namespace kevra {

class StreamDemuxer;

class DecoderWorker {
public:
    static constexpr int kByteLimit = 1048576;   // bytes the input queue may hold
    static constexpr int kDropWindowMs = 2000;   // frames of this many ms start dropping
    static constexpr int kMaxSide = 4096;        // largest picture side decoded (bounds memory)
    static constexpr int kMaxFrameRate = 1000;   // larger declared rates are not a stream
    static constexpr size_t kFrameListByteLimit = 64u << 20;   // frame bytes held before dropping
    // Audio frames without a single video frame after which a stream counts as audio only.
    static constexpr int kAudioOnlyFrames = 50;
    // Zeroed bytes behind every frame's payload, for the decoder library's reads past the end.
    static constexpr int kPayloadPadding = 64;
    // Longest idle wait of the decoder thread between looks at its work.
    static constexpr int kIdleWaitMs = 20;
    // decodeStep results
    static constexpr int kStepDone = 0;
    static constexpr int kStepUndecodable = 1;
    static constexpr int kStepIdle = 8;

    DecoderWorker();
    ~DecoderWorker();
    DecoderWorker(const DecoderWorker&) = delete;
    DecoderWorker& operator=(const DecoderWorker&) = delete;

    // Begins a new stream on the decoder thread (stops a running one first).
    void start();
    // Ends decoding and discards everything queued; the picture buffer is kept.
    void stop();
    // Appends a copy of the bytes to the input queue (network worker thread).
    void push(const uint8_t* bytes, int length);
    void setDisplayDepth(int bitsPerPixel);
    // Frame-timer thread: the converted picture (buffering set to 0, width and height set), or
    // nullptr with the buffering answer updated (1 buffering, 0 not, or left as it was).
    const uint8_t* pictureQuery(int& buffering, int& width, int& height);
    // After drawing a picture: one less waiting (only when above 0).
    void lowerConvertedCount();
    int convertedCount() const { return converted_.load(std::memory_order_acquire); }
    int frameRate() const { return frameRate_.load(); }

    // Inspection for tests and tools.
    int displayDepth() const { return displayBits_.load(); }
    int framesQueued() const { return frameListCount_.load(); }
    int bytesQueued();
    bool dropping();
    bool running() const { return running_.load(); }
    int decoderOpens() const { return decoderOpens_.load(); }
    // The codec of the current stream when no decoder here can show it (a video codec other
    // than H.264 and MPEG-4 Visual, or the audio codec of a stream without video); -1 while
    // the stream is decodable or not known yet. Any thread.
    int undecodableCodec() const { return undecodable_.load(); }
    // True when the current codec is decoded through the frame joiner (streams that may hand
    // out pieces of frames: program streams).
    bool joining() const { return joining_; }
    // Pushed chunks discarded (queue full, dropping, or no memory) since construction.
    int64_t droppedPushes() const { return droppedPushes_.load(); }

    // Drives the stream without the decoder thread: start state without a thread, then one
    // intake or one step at a time. Only while no thread runs (tests and tools).
    void startManual();
    // Returns the number of chunks taken.
    int runIntake();
    // Decode one frame and/or convert one picture: kStepDone, kStepUndecodable or kStepIdle.
    int runStep();

private:
    struct Chunk {
        std::unique_ptr<uint8_t[]> bytes;
        int length = 0;
        bool gap = false;
    };
    struct FrameEntry {
        MediaFrame record{};
        std::unique_ptr<uint8_t[]> payload;
    };

    void resetStream();
    void loop();
    int intake();
    bool acceptKeyFrame(const MediaFrame& f) const;
    void noteRecord(const MediaFrame& f);
    bool appendFrame(const MediaFrame& f);
    int decodeOne();
    void decodeFrame(const uint8_t* data, int length, bool padded);
    void decodeJoined();
    int step();
    int openDecoder(int width, int height, int codec);
    void closeDecoder();
    bool ensurePictureBuffer(int width, int height);
    void clearFrameList();

    std::unique_ptr<StreamDemuxer> demux_;

    // Decoder thread (or the thread driving a stopped worker).
    bool waitingForKey_ = true;
    int openCodec_ = -1;
    bool decoderOpen_ = false;
    int32_t handle_ = 0;
    int openWidth_ = 0;
    int openHeight_ = 0;
    // The decoded picture waiting for conversion: the decoder's own planes, valid until the
    // next decode or close (y is null when there is none).
    VideoDecPlanes decoded_{};
    std::deque<FrameEntry> frameList_;
    size_t frameListBytes_ = 0;
    FrameJoiner joiner_;
    bool joining_ = false;
    FrameEntry joinEntry_;    // the frame whose bytes the joiner is working through
    bool sawVideo_ = false;   // a video record since the stream started
    int audioFrames_ = 0;     // audio records before the first video record

    // Picture buffer: written by the decoder thread only while the converted count is 0, read
    // by the frame timer only while it is above 0. A replaced buffer is kept one more round.
    // Cache-line aligned, so the converter can write a large picture with streaming stores.
    struct AlignedDelete {
        void operator()(uint8_t* p) const
        {
            ::operator delete[](p, std::align_val_t(kPictureAlign));
        }
    };
    static constexpr size_t kPictureAlign = 64;
    std::unique_ptr<uint8_t[], AlignedDelete> picture_;
    std::unique_ptr<uint8_t[], AlignedDelete> retiredPicture_;
    int pictureWidth_ = 0;
    int pictureHeight_ = 0;

    // Shared with the frame timer and the device client.
    std::atomic<int> frameRate_{0};
    std::atomic<int> converted_{0};
    std::atomic<int> decodedPending_{0};
    std::atomic<int> displayBits_{32};
    std::atomic<int> frameListCount_{0};
    std::atomic<bool> bufferingMark_{false};
    std::atomic<bool> running_{false};
    std::atomic<int> decoderOpens_{0};
    std::atomic<int> undecodable_{-1};
    std::atomic<int64_t> droppedPushes_{0};

    // Wakes the idle decoder thread: new bytes, a picture taken, or stop. wakeUp_ is guarded
    // by wakeLock_.
    void wake();
    std::mutex wakeLock_;
    std::condition_variable wakeSignal_;
    bool wakeUp_ = false;

    // Input queue, guarded by queueLock_.
    std::mutex queueLock_;
    std::deque<Chunk> queue_;
    int queuedBytes_ = 0;
    bool gapMark_ = false;
    bool dropping_ = false;

    WorkerThread thread_;
};

}   // namespace kevra
