// Cuts a media stream with the demultiplexer's parsers and keeps a summary of every frame, for
// the recorder tests. Used by one test thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace kevra {

class FrameParser;
class StreamDemuxer;

class FrameTally {
public:
    struct Frame {
        int kind = 0, subtype = 0, codec = 0, width = 0, height = 0, frameRate = 0,
            payloadLength = 0;
        int firstNal = -1;   // type of the first H.264 NAL unit in the payload
        bool hasSps = false;
    };

    // format 8: KXAV parser; any other value goes to StreamDemuxer(format) (4 = packet stream).
    explicit FrameTally(int format);
    ~FrameTally();

    void feed(const uint8_t* data, int length);
    const std::vector<Frame>& frames() const { return frames_; }
    int keyFrames() const;
    int dependentFrames() const;
    // Concatenated H.264 payloads of the frames seen (for decoding in a test).
    const std::vector<uint8_t>& elementary() const { return elementary_; }

private:
    void take(const struct MediaFrame* f);
    std::unique_ptr<uint8_t[]> buffer_;
    std::unique_ptr<FrameParser> parser_;
    std::unique_ptr<StreamDemuxer> demuxer_;
    std::vector<Frame> frames_;
    std::vector<uint8_t> elementary_;
};

}   // namespace kevra
