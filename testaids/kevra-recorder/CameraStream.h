// One camera's live stream: the pattern encoder (or the looped source file), the frame pacing
// and the stream format wrapping of every frame: H.264 or MPEG-4 Visual in KXAV, 0x000001Fx
// packets, program stream packs or ASF packets; MPEG-4 Visual in chunks, a raw stream or AVI;
// or a file's bytes as they are (--play).
// Owned and used by the recorder's event-loop thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "AnnexBSource.h"
#include "RecorderOptions.h"
#include <memory>

#include "testkit/AsfMuxer.h"
#include "testkit/ChunkMuxer.h"
#include "testkit/KxavMuxer.h"
#include "testkit/Mpeg4EsWriter.h"
#include "testkit/PacketMuxer.h"
#include "testkit/PatternEncoder.h"
#include "testkit/ProgramStreamMuxer.h"

namespace kevra {

class CameraStream {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // source may be null (pattern mode); it must outlive the stream. Stream number 2 of the
    // pattern is a quarter of the picture (half width, half height, rounded down to even); every
    // other stream number, and every stream of a source or played file, is the full picture.
    CameraStream(int cameraIndex, const RecorderOptions& options, const AnnexBSource* source,
                 int streamNumber = 1);

    // Opens the encoder. Returns 0 or -1.
    int open(TimePoint now);
    void requestKeyFrame();

    // When the next frame is due.
    TimePoint due() const { return due_; }
    // Produces the next frame, wrapped in the stream format, and advances the schedule by one
    // frame period (re-anchored to now when the loop fell more than a second behind).
    // Returns 0, or -1 on an encoder failure.
    int nextFrame(TimePoint now, std::vector<uint8_t>& out, bool& key);

    // Bytes a media connection receives once, before its first frame: the ASF header object or
    // the RIFF/AVI header; empty for the other formats.
    std::vector<uint8_t> streamHeader() const;
    // True when the camera sends MPEG-4 Visual.
    bool mpeg4() const { return mpeg4_; }
    // ASF data packet size of the asf format.
    static constexpr int kAsfPacketSize = 2048;

    int cameraIndex() const { return camera_; }
    int streamNumber() const { return stream_; }
    // Pan steps of the following frames (pattern mode).
    void setPan(int px, int py) { encoder_.setPan(px, py); }
    // The number drawn into the last frame produced (its frame code), -1 before the first.
    int64_t lastFrameNumber() const { return encoder_.framesEncoded() - 1; }
    int width() const { return width_; }
    int height() const { return height_; }
    int64_t frames() const { return frames_; }

    // The local wall-clock time as the streams' packed date-time word.
    static uint32_t packedNow();

private:
    int camera_;
    int stream_;
    const RecorderOptions& options_;
    const AnnexBSource* source_;
    PatternEncoder encoder_;
    std::vector<uint8_t> encoded_;
    size_t sourceAt_ = 0;
    bool sourceNeedKey_ = true;
    int width_;
    int height_;
    int64_t frames_ = 0;
    int wrap(bool key, std::vector<uint8_t>& out);
    int nextPlayBlock(std::vector<uint8_t>& out);

    std::vector<uint8_t> play_;   // --play: the file's bytes, sent as they are
    size_t playAt_ = 0;
    size_t playChunk_ = 4096;   // --play: bytes sent per frame period

    KxavMuxer kxav_;
    PacketMuxer packets_;
    std::unique_ptr<ProgramStreamMuxer> programStream_;
    std::unique_ptr<AsfMuxer> asf_;
    std::unique_ptr<ChunkMuxer> chunks_;
    bool mpeg4_ = false;
    TimePoint due_{};
    std::chrono::nanoseconds period_;
};

}   // namespace kevra
