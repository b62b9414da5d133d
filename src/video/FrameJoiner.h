// Joins the pieces of a stream's video frames into whole frames for the decoder, with
// libavcodec's parser for the codec (h264 or mpeg4video); the frames it hands out point into
// its padded copy of the bytes fed, or into the parser's buffer for a frame that spanned
// several feeds.
// Owned by the decoder worker and used by its thread only.
#pragma once
#include "video/VideoDecoder.h"

#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVCodecParserContext;

namespace kevra {

class FrameJoiner {
public:
    // A frame that grows past this many bytes without an end is dropped.
    static constexpr int64_t kMaxFrameBytes = 4 << 20;

    FrameJoiner() = default;
    ~FrameJoiner();
    FrameJoiner(const FrameJoiner&) = delete;
    FrameJoiner& operator=(const FrameJoiner&) = delete;

    // 0, or -1 when libavcodec has no parser for the codec.
    int open(VideoDecoder::Codec codec);
    void close();
    bool isOpen() const { return parser_ != nullptr; }

    // Hands over the next bytes of the stream (copied, with the zeroed padding libavcodec's
    // parser reads past their end; frames handed out before are no longer valid).
    void feed(const uint8_t* data, int length);
    // The next whole frame of the bytes fed, valid until the following call; false when the
    // bytes fed so far end inside a frame.
    bool next(const uint8_t*& frame, int& length);
    // Bytes fed and not yet looked at.
    int pending() const { return remaining_; }
    // The stream has ended: the frame in progress, if any, as a whole frame (valid until the
    // next call). Call when next() has returned false; the joiner starts afresh afterwards.
    bool flush(const uint8_t*& frame, int& length);

private:
    void restart();

    AVCodecParserContext* parser_ = nullptr;
    AVCodecContext* ctx_ = nullptr;
    VideoDecoder::Codec codec_ = VideoDecoder::Codec::H264;
    std::vector<uint8_t> padded_;     // the bytes fed and the parser's padding
    const uint8_t* data_ = nullptr;   // the next byte of padded_ not yet looked at
    int remaining_ = 0;
    int64_t held_ = 0;       // bytes taken into the frame in progress
    bool flushed_ = false;   // flush() handed out the parser's last frame
};

}   // namespace kevra
