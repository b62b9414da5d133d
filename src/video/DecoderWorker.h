// Turns the current channel's media bytes into pictures for the screen: owns the input queue,
// the demultiplexer, the frame list, the video decoder (H.264 or MPEG-4 Visual) with its frame
// joiner and the picture buffer (decoded pictures are converted from the decoder's own planes
// into the pixel format the showing side asked for). Stamps every picture with the times its
// frame was received, decoded and converted, and counts what came in and what was not shown.
// In low-latency mode it catches up after a backlog (CatchUpRule) instead of handing out every
// picture late.
// Threads: network worker (push), its own decoder thread (intake, decode, convert), the
// frame timer (takePicture, giveBack, buffering), the owner (start, stop, setPixelFormat).
#pragma once
#include "common/WorkerThread.h"
#include "demux/MediaFrame.h"
#include "video/FrameJoiner.h"
#include "video/Picture.h"
#include "video/VideoDecoder.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string>

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
    // Bytes without a single video record after which a stream counts as one without video
    // this viewer can find (no format it reads, or video the demultiplexer does not see): four
    // times the probe's window, about 3 s at 512 kbit/s. Live video sends a record per frame.
    static constexpr int kBytesWithoutVideo = 4 * 51200;
    // Video records without a key frame to start at after which the stream counts as one that
    // cannot be shown (6 s at 25 frames per second: longer than recorders' key frame spacing).
    static constexpr int kFramesWithoutKey = 150;
    // Frames decoded in a row without a single picture after which the stream counts as one
    // the decoder cannot show (2 s at 25 frames per second).
    static constexpr int kFramesWithoutPicture = 50;
    // Zeroed bytes behind every frame's payload, for the decoder's reads past the end.
    static constexpr int kPayloadPadding = 64;
    // Longest idle wait of the decoder thread between looks at its work.
    static constexpr int kIdleWaitMs = 20;
    // decodeStep results
    static constexpr int kStepDone = 0;
    static constexpr int kStepUndecodable = 1;
    static constexpr int kStepIdle = 8;
    static constexpr int kLowLatencyQuietFrames = 4;

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
    // The layout the showing side needs; pictures converted from now on use it (any thread).
    void setPixelFormat(PixelFormat format);
    PixelFormat pixelFormat() const { return format_.load(); }

    // Frame-timer thread. The converted picture, when one is ready: it stays valid and is not
    // replaced until given back (taking it again before that gives the same picture).
    bool takePicture(Picture& picture);
    // After drawing: the decoder thread may convert the next picture. A picture given back
    // twice, or one of an earlier stream, changes nothing.
    void giveBack(const Picture& picture);
    // Asked when no picture was ready: 1 buffering, 0 not; previous when the rule leaves the
    // answer as it was (a stream with a known frame rate buffers once its frames run out and
    // plays again after a second of frames has come in). In low-latency mode nothing is held
    // back, so the list is empty between frames: buffering then means no frame came for
    // kLowLatencyQuietFrames frame intervals.
    int buffering(int previous);
    int frameRate() const { return frameRate_.load(); }

    // Low-latency mode (any thread; takes effect at the next frame): decoded pictures with more
    // than a frame waiting behind them are passed over, see CatchUpRule. Off: every decoded
    // picture is shown, in turn.
    void setLowLatency(bool on) { lowLatency_.store(on); }
    bool lowLatency() const { return lowLatency_.load(); }

    // Running totals since construction (any thread; each figure is read on its own).
    struct Counters {
        int64_t bytes = 0;           // media bytes taken into the input queue
        int64_t frames = 0;          // video frames taken into the frame list
        int64_t skipped = 0;         // frames decoded and passed over, or dropped unread
        int64_t droppedPushes = 0;   // chunks the input queue discarded
    };
    Counters counters() const;
    // The codec number of the open decoder (-1: none open). Any thread.
    int codec() const { return codec_.load(); }

    // Why the current stream shows no picture, when the worker can tell.
    enum class Unsupported : uint8_t {
        None,
        AudioOnly,       // audio records and no video (codec: the audio codec)
        VideoCodec,      // a video codec other than H.264 and MPEG-4 Visual
        PictureFormat,   // pictures the converter does not take: 4:2:2, 4:4:4, over 8 bits
        NoPicture,       // frames go in, no picture comes out (a stream the decoder rejects)
        NoVideo,         // bytes arrive, but no video this viewer can start at
    };
    struct UnsupportedReason {
        Unsupported kind = Unsupported::None;
        int codec = -1;       // the record's codec number, -1 when there is none
        std::string detail;   // codec / profile / pixel format, in plain words
    };
    // The current stream's reason (kind None while it is decodable or not known yet). Any thread.
    UnsupportedReason unsupported() const;
    // The codec of the current stream when it cannot be shown (0 when no codec number tells
    // it), -1 while the stream is decodable or not known yet. Any thread.
    int undecodableCodec() const { return undecodable_.load(); }

    // Inspection for tests and tools.
    int convertedCount() const { return converted_.load(std::memory_order_acquire); }
    int framesQueued() const { return frameListCount_.load(); }
    int bytesQueued();
    bool dropping();
    bool running() const { return running_.load(); }
    int decoderOpens() const { return decoderOpens_.load(); }
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
        uint64_t pushedUs = 0;
    };
    struct FrameEntry {
        MediaFrame record{};
        std::unique_ptr<uint8_t[]> payload;
        uint64_t receivedUs = 0;   // when the chunk holding its last byte was pushed
    };

    void resetStream();
    void loop();
    int intake();
    bool acceptKeyFrame(const MediaFrame& f) const;
    void noteRecord(const MediaFrame& f);
    bool appendFrame(const MediaFrame& f, uint64_t receivedUs);
    void catchUpAfterAppend();
    void passOverBehind();
    void skipFrames(size_t count);
    int decodeOne();
    void decodeFrame(const uint8_t* data, int length, bool padded);
    void decodeJoined();
    int step();
    bool openDecoder(int width, int height, int codec);
    void closeDecoder();
    bool ensurePictureBuffer(int width, int height);
    void clearFrameList();

    std::unique_ptr<StreamDemuxer> demux_;

    // Decoder thread (or the thread driving a stopped worker).
    bool waitingForKey_ = true;
    int openCodec_ = -1;
    std::unique_ptr<VideoDecoder> decoder_;   // open while a stream's key frame opened it
    int openWidth_ = 0;
    int openHeight_ = 0;
    // The decoded picture waiting for conversion: the decoder's own planes, valid until the
    // next decode or close (y is null when there is none).
    VideoDecoder::Planes decoded_{};
    uint64_t decodedUs_ = 0;
    uint64_t decodedReceivedUs_ = 0;    // received stamp of the frame that gave decoded_
    uint64_t decodingReceivedUs_ = 0;   // received stamp of the frame being decoded
    uint64_t sequence_ = 0;
    std::deque<FrameEntry> frameList_;
    size_t frameListBytes_ = 0;
    FrameJoiner joiner_;
    bool joining_ = false;
    FrameEntry joinEntry_;            // the frame whose bytes the joiner is working through
    bool sawVideo_ = false;           // a video record since the stream started
    int audioFrames_ = 0;             // audio records before the first video record
    int64_t bytesWithoutVideo_ = 0;   // bytes fed before the first video record
    int framesWithoutKey_ = 0;        // video records while waiting for a usable key frame
    int framesWithoutPicture_ = 0;    // decoded in a row without a picture
    void setUnsupported(Unsupported kind, int codec, std::string detail);
    void clearUnsupported(Unsupported kind);   // only a reason of that kind

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
    size_t pictureBytes_ = 0;
    // What the picture buffer holds: written with it, published by converted_.
    Picture ready_{};

    // Shared with the frame timer and the device client.
    std::atomic<int> frameRate_{0};
    std::atomic<int> converted_{0};
    std::atomic<int> decodedPending_{0};
    std::atomic<PixelFormat> format_{PixelFormat::Bgrx32};
    std::atomic<int> frameListCount_{0};
    std::atomic<bool> bufferingMark_{false};
    std::atomic<bool> running_{false};
    std::atomic<int> decoderOpens_{0};
    std::atomic<int> undecodable_{-1};
    // The reason behind undecodable_, guarded by reasonLock_ (written by the decoder thread).
    mutable std::mutex reasonLock_;
    UnsupportedReason reason_;
    std::atomic<int64_t> droppedPushes_{0};
    std::atomic<int64_t> bytesIn_{0};
    std::atomic<int64_t> framesIn_{0};
    std::atomic<int64_t> skipped_{0};
    std::atomic<int> codec_{-1};
    std::atomic<uint64_t> lastFrameUs_{0};   // when the last video frame joined the list
    std::atomic<bool> lowLatency_{false};

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
