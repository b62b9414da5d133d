#include "demux/StreamDemuxer.h"

#include "demux/FormatProbe.h"
#include "demux/Mpeg4EsParser.h"

#include <algorithm>
#include <new>

namespace kevra {

StreamDemuxer::StreamDemuxer(StreamFormat initialFormat)
    : buffer_(new (std::nothrow) uint8_t[kWorkBufferSize])
{
    switch (initialFormat) {
    case StreamFormat::Mpeg4Es:
    case StreamFormat::Kxpt:
    case StreamFormat::Packet:
    case StreamFormat::Chunk:
        format_ = initialFormat;
        parser_ = make(initialFormat, Mpeg4EsParser::kModeStream);
        break;
    default: break;
    }
}

StreamDemuxer::~StreamDemuxer()
{
    parser_.reset();   // before the buffer it works in
}

std::unique_ptr<FrameParser> StreamDemuxer::make(StreamFormat format, int mpeg4Mode,
                                                 const MediaFrame* tmpl, int asfPacketSize,
                                                 int asfVideoStream)
{
    FormatProbe::ParserSetup setup;
    setup.buffer = buffer_.get();
    setup.capacity = kWorkBufferSize;
    setup.mpeg4Mode = mpeg4Mode;
    setup.tmpl = tmpl;
    setup.asfPacketSize = asfPacketSize;
    setup.asfVideoStream = asfVideoStream;
    return FormatProbe::createParser(format, setup);
}

void StreamDemuxer::replaceParser(std::unique_ptr<FrameParser> parser, StreamFormat format)
{
    parser_.reset();
    parser_ = std::move(parser);
    format_ = format;
}

int StreamDemuxer::probe(const uint8_t* data, int length)
{
    return choose(FormatProbe::scan(data, length), data, length);
}

int StreamDemuxer::choose(const FormatProbe::Evidence& ev, const uint8_t* data, int length)
{
    vopCount_ = ev.vopCount;
    const StreamFormat chosen = FormatProbe::choose(ev);
    if (chosen == StreamFormat::None)
        return -1;
    if (ev.any())
        parser_.reset();   // every stronger choice starts from a fresh parser
    switch (chosen) {
    case StreamFormat::Asf:
        replaceParser(make(StreamFormat::Asf, Mpeg4EsParser::kModeStream, nullptr, ev.asfPacketSize,
                           ev.asfVideoStream),
                      StreamFormat::Asf);
        break;
    case StreamFormat::Mpeg4Es:
        if (ev.avi) {
            MediaFrame tmpl{};
            FormatProbe::readAviHeader(data, length, ev.riffEnd, &tmpl);
            replaceParser(make(StreamFormat::Mpeg4Es, Mpeg4EsParser::kModeAvi, &tmpl),
                          StreamFormat::Mpeg4Es);
        } else {
            replaceParser(make(StreamFormat::Mpeg4Es, Mpeg4EsParser::kModeStream),
                          StreamFormat::Mpeg4Es);
            vopCount_ = 0;
        }
        break;
    case StreamFormat::PacketAudioOnly:
        if (format_ == StreamFormat::PacketAudioOnly && parser_)
            return 0;   // still only audio: keep what was collected
        replaceParser(make(StreamFormat::PacketAudioOnly), StreamFormat::PacketAudioOnly);
        break;
    default: replaceParser(make(chosen), chosen); break;
    }
    return 0;
}

void StreamDemuxer::dropUndecided()
{
    if (undecided_.capacity() != 0)
        std::vector<uint8_t>().swap(undecided_);
    scan_ = FormatProbe::Scan{};
}

int StreamDemuxer::feedUndecided(const uint8_t* data, int length)
{
    constexpr int kWindow = FormatProbe::kWholeBlockLimit;
    // Bytes that can still begin a code are kept when a window's worth held no evidence.
    constexpr size_t kTail = 256;
    if (undecided_.empty()) {
        // The usual case: the first block decides alone, read in place.
        scan_ = FormatProbe::Scan{};
        FormatProbe::scanMore(scan_, data, length, length >= kWindow);
        if (!scan_.waiting && choose(scan_.evidence, data, length) == 0)
            return parser_ ? parser_->input(data, length) : -1;
        if (length >= kWindow) {
            undecided_.assign(data + length - kTail, data + length);
            scan_ = FormatProbe::Scan{};
        } else {
            undecided_.assign(data, data + length);
        }
        return -1;
    }
    // The kept bytes and the block go to the parser as one input, which has a limit.
    const size_t limit = static_cast<size_t>(FrameParser::kInputLimit);
    if (undecided_.size() + static_cast<size_t>(length) > limit) {
        const size_t keep = static_cast<size_t>(length) < limit ? limit - length : 0;
        undecided_.erase(undecided_.begin(),
                         undecided_.end() - static_cast<long>(std::min(keep, undecided_.size())));
        scan_ = FormatProbe::Scan{};
    }
    undecided_.insert(undecided_.end(), data, data + length);
    const int n = static_cast<int>(undecided_.size());
    FormatProbe::scanMore(scan_, undecided_.data(), n, n >= kWindow);
    if (!scan_.waiting && choose(scan_.evidence, undecided_.data(), n) == 0)
        return parser_ ? parser_->input(undecided_.data(), n) : -1;   // undecided_ stays
                                                                      // until the next feed
    if (n >= kWindow) {
        undecided_.erase(undecided_.begin(), undecided_.end() - static_cast<long>(kTail));
        scan_ = FormatProbe::Scan{};
    }
    return -1;
}

int StreamDemuxer::feed(const uint8_t* data, int length)
{
    if (!buffer_)
        return -1;
    if (format_ == StreamFormat::None)
        return (data && length > 0) ? feedUndecided(data, length) : -1;
    // Records of the last feed may point into the kept bytes; they are released only now.
    dropUndecided();
    if (format_ == StreamFormat::PacketAudioOnly) {
        if (probe(data, length) < 0) {
            if (parser_)
                return parser_->input(data, length);
            return -1;
        }
    }
    if (!parser_)
        return -1;   // the format's parser could not be built
    return parser_->input(data, length);
}

int StreamDemuxer::finish()
{
    if (!buffer_)
        return -1;
    if (format_ == StreamFormat::None) {
        if (undecided_.empty())
            return -1;
        const int n = static_cast<int>(undecided_.size());
        FormatProbe::scanMore(scan_, undecided_.data(), n, true);
        if (scan_.waiting || choose(scan_.evidence, undecided_.data(), n) != 0 || !parser_)
            return -1;
        parser_->input(undecided_.data(), n);
    }
    return parser_ ? parser_->finish() : -1;
}

MediaFrame* StreamDemuxer::nextFrame()
{
    return (format_ == StreamFormat::None || !parser_) ? nullptr : parser_->nextFrame();
}

MediaFrame* StreamDemuxer::nextKeyFrame()
{
    return (format_ == StreamFormat::None || !parser_) ? nullptr : parser_->nextKeyFrame();
}

int StreamDemuxer::control(int resetMode, StreamFormat format)
{
    if (format_ == StreamFormat::None) {
        if (resetMode == 0 && format == StreamFormat::Packet)
            replaceParser(make(StreamFormat::Packet), StreamFormat::Packet);
        return -1;
    }
    if (resetMode != 0)
        return parser_ ? parser_->reset(resetMode) : -1;
    if (format == StreamFormat::Packet) {
        replaceParser(make(StreamFormat::Packet), StreamFormat::Packet);
        return 0;
    }
    format_ = StreamFormat::None;   // the parser stays until the next probe replaces it
    dropUndecided();
    return 0;
}

}   // namespace kevra
