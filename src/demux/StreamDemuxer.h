// Turns arbitrary blocks of a recorder's media stream into frame records: recognises the
// stream format (FormatProbe), owns the work buffer and the parser of that format. How the
// stream is cut into blocks does not matter: until the format is known, the bytes that could
// not be judged yet are kept (up to the probe's window) and judged with the next block.
// Used by one thread (the decoder worker); nothing is locked.
#pragma once
#include "demux/FormatProbe.h"
#include "demux/FrameParser.h"
#include "demux/MediaFrame.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kevra {

class StreamDemuxer {
public:
    // Work buffer lent to the parser: twice the 512 KB input limit, so the bytes a parser
    // keeps for the next block can sit behind bytes that records still point into.
    static constexpr size_t kWorkBufferSize = FrameParser::kWorkBufferSize;

    // None: probe the format from the data; Mpeg4Es, Kxpt, Packet and Chunk build that parser
    // at once; any other format is taken as None.
    explicit StreamDemuxer(StreamFormat initialFormat = StreamFormat::None);
    ~StreamDemuxer();
    StreamDemuxer(const StreamDemuxer&) = delete;
    StreamDemuxer& operator=(const StreamDemuxer&) = delete;

    // Takes one block: 0, or -1 (no data, nothing recognised yet, or no parser). Bytes that
    // leave the format undecided are kept and handed to the parser once it is chosen.
    int feed(const uint8_t* data, int length);
    // The end of the input (a file's end): bytes still undecided are judged as they are, and
    // the parser hands out the last frame that no following block can confirm. Records not
    // taken yet stay valid. 0, or -1 when there is no parser.
    int finish();
    // Records stay valid, with the bytes they point to, until the next feed.
    MediaFrame* nextFrame();
    MediaFrame* nextKeyFrame();
    // resetMode != 0: the parser's reset. resetMode 0: Packet forces a new packet parser,
    // any other format returns to "no format" so the next block is probed afresh.
    int control(int resetMode, StreamFormat format);
    StreamFormat format() const { return format_; }
    int vopCount() const { return vopCount_; }

    // Inspection for tests and tools.
    FrameParser* parser() const { return parser_.get(); }
    bool valid() const { return buffer_ != nullptr; }

private:
    int probe(const uint8_t* data, int length);
    int choose(const FormatProbe::Evidence& evidence, const uint8_t* data, int length);
    std::unique_ptr<FrameParser> make(StreamFormat format, int mpeg4Mode = 0,
                                      const MediaFrame* tmpl = nullptr, int asfPacketSize = 0,
                                      int asfVideoStream = 1);
    int feedUndecided(const uint8_t* data, int length);
    void dropUndecided();
    void replaceParser(std::unique_ptr<FrameParser> parser, StreamFormat format);

    std::unique_ptr<uint8_t[]> buffer_;
    std::unique_ptr<FrameParser> parser_;
    StreamFormat format_ = StreamFormat::None;
    int vopCount_ = 0;
    // While no format is chosen: the bytes given so far (at most the probe's window plus one
    // block) and the probe's progress over them. Records may point into undecided_ until the
    // next feed.
    std::vector<uint8_t> undecided_;
    FormatProbe::Scan scan_;
};

}   // namespace kevra
