// Cuts a recorder channel's raw media bytes, fed in blocks of any size, into whole video access
// units (H.264 Annex B or MPEG-4 Part 2) for writing or forwarding without decoding: owns the
// demultiplexer, the frame joiner for formats that deliver frames in pieces, the stream's
// current parameters (codec, size, rate, extradata) and its clock.
// Timestamps come from the recorder's frame times where the stream carries them and from the
// frame rate otherwise; they never go back, also across gaps and restarted streams.
// Used by one thread (the one that feeds it); nothing is locked.
#pragma once
#include "remux/AccessUnit.h"
#include "video/FrameJoiner.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kevra {

class StreamDemuxer;
struct MediaFrame;

class FrameCutter {
public:
    static constexpr int kMaxUnitBytes = 4 << 20;   // larger frames are dropped as damaged
    static constexpr int kMaxSide = 8192;           // larger declared pictures are not a stream
    static constexpr int kMaxFrameRate = 1000;      // larger declared rates are not a stream
    static constexpr int kDefaultFrameRate = 25;    // when the stream declares none
    // The stream clock follows the recorder's frame times when it is this far off them.
    static constexpr int64_t kClockSlackUs = 1500000;

    FrameCutter();
    ~FrameCutter();
    FrameCutter(const FrameCutter&) = delete;
    FrameCutter& operator=(const FrameCutter&) = delete;

    // Takes the next block of the channel's bytes. Call next() until it returns false before
    // feeding again: units point into the bytes fed.
    void feed(const uint8_t* data, int length);
    // The next whole access unit, valid until the next feed() or next(); false when the bytes
    // fed so far hold no further unit. Nothing comes out before the first key frame with its
    // parameter sets.
    bool next(AccessUnit& unit);

    // The stream has ended: a frame still held back, because only the start of the next one
    // would show where it ends, comes out by next() as far as it can be told whole.
    void finish() { finishing_ = true; }
    // Bytes were lost (a block dropped): units resume at the next key frame, time goes on.
    void markGap();
    // The stream starts afresh (a new media connection): the format is recognised again and
    // units resume at the next key frame; time goes on from where it was.
    void restartStream();

    // Units handed out so far.
    int64_t unitCount() const { return units_; }
    // Video frames passed over: before the first key frame, after a gap, or damaged.
    int64_t skippedCount() const { return skipped_; }
    // The current stream's parameters (zero / empty before the first unit).
    int width() const { return width_; }
    int height() const { return height_; }
    int frameRate() const { return rate_; }
    bool started() const { return started_; }
    UnitCodec codec() const { return codec_; }
    const std::vector<uint8_t>& extradata() const { return extradata_; }

private:
    struct Candidate {
        UnitCodec codec;
        bool key;
        const uint8_t* data;
        int size;
    };
    // The next whole frame of the stream (from a record or from the joiner), or false.
    bool nextCandidate(Candidate& c);
    bool accept(const Candidate& c, AccessUnit& unit);
    void noteRecord(const MediaFrame& f);
    int64_t stamp(int rate);

    std::unique_ptr<StreamDemuxer> demux_;
    FrameJoiner joiner_;
    bool joinerOpen_ = false;
    bool finishing_ = false;
    UnitCodec joinCodec_ = UnitCodec::H264;

    // What the latest key record declared (records of a joined stream carry it on key frames).
    int declaredWidth_ = 0;
    int declaredHeight_ = 0;
    int declaredRate_ = 0;
    int64_t wallSeconds_ = -1;   // the latest record's date and time, or -1 when it has none

    // The stream handed out.
    bool started_ = false;
    bool waitingForKey_ = true;
    bool gap_ = false;
    UnitCodec codec_ = UnitCodec::H264;
    int width_ = 0;
    int height_ = 0;
    int rate_ = 0;
    std::vector<uint8_t> extradata_;

    // Clock: the last time handed out, and the recorder time it was last aligned to.
    int64_t lastUs_ = -1;
    int64_t anchorUs_ = 0;
    int64_t anchorWall_ = -1;

    int64_t units_ = 0;
    int64_t skipped_ = 0;
};

}   // namespace kevra
