#include "demux/StreamDemuxer.h"

#include "demux/FormatProbe.h"

#include <new>

namespace kevra {

StreamDemuxer::StreamDemuxer(int initialFormat)
    : buffer_(new (std::nothrow) uint8_t[kWorkBufferSize])
{
    switch (initialFormat) {
    case 1:
    case 3:
    case 4:
    case 5:
        format_ = initialFormat;
        parser_ = FormatProbe::createParser(initialFormat, buffer_.get(), kWorkBufferSize, 0);
        break;
    default:
        break;
    }
}

StreamDemuxer::~StreamDemuxer()
{
    parser_.reset();   // before the buffer it works in
}

void StreamDemuxer::replaceParser(std::unique_ptr<FrameParser> parser, int format)
{
    parser_.reset();
    parser_ = std::move(parser);
    format_ = format;
}

int StreamDemuxer::probe(const uint8_t* data, int length)
{
    vopCount_ = 0;
    const FormatProbe::Evidence ev = FormatProbe::scan(data, length);
    vopCount_ = ev.vopCount;
    const int chosen = FormatProbe::choose(ev);
    if (chosen < 0)
        return -1;
    uint8_t* buf = buffer_.get();
    if (ev.any())
        parser_.reset();   // every stronger choice starts from a fresh parser
    switch (chosen) {
    case 9:
        replaceParser(FormatProbe::createParser(9, buf, kWorkBufferSize, 0, nullptr,
                                                ev.asfPacketSize, ev.asfVideoStream), 9);
        break;
    case 1:
        if (ev.avi) {
            MediaFrame tmpl{};
            FormatProbe::readAviHeader(data, length, ev.riffEnd, &tmpl);
            replaceParser(FormatProbe::createParser(1, buf, kWorkBufferSize, 2, &tmpl), 1);
        } else {
            replaceParser(FormatProbe::createParser(1, buf, kWorkBufferSize, 0), 1);
            vopCount_ = 0;
        }
        break;
    case 6:
        if (format_ == 6 && parser_)
            return 0;   // still only audio: keep what was collected
        replaceParser(FormatProbe::createParser(6, buf, kWorkBufferSize), 6);
        break;
    default:
        replaceParser(FormatProbe::createParser(chosen, buf, kWorkBufferSize), chosen);
        break;
    }
    return 0;
}

int StreamDemuxer::feed(const uint8_t* data, int length)
{
    if (!buffer_)
        return -1;
    if (format_ == 0 || format_ == 6) {
        if (probe(data, length) < 0) {
            if (format_ == 6 && parser_)
                return parser_->input(data, length);
            return -1;
        }
    }
    if (!parser_)
        return -1;   // the format's parser could not be built
    return parser_->input(data, length);
}

MediaFrame* StreamDemuxer::nextFrame()
{
    return (format_ == 0 || !parser_) ? nullptr : parser_->nextFrame();
}

MediaFrame* StreamDemuxer::nextKeyFrame()
{
    return (format_ == 0 || !parser_) ? nullptr : parser_->nextKeyFrame();
}

int StreamDemuxer::control(int resetMode, int format)
{
    if (format_ == 0) {
        if (resetMode == 0 && format == 4)
            replaceParser(FormatProbe::createParser(4, buffer_.get(), kWorkBufferSize), 4);
        return -1;
    }
    if (resetMode != 0)
        return parser_ ? parser_->reset(resetMode) : -1;
    if (format == 4) {
        replaceParser(FormatProbe::createParser(4, buffer_.get(), kWorkBufferSize), 4);
        return 0;
    }
    format_ = 0;   // the parser stays until the next probe replaces it
    return 0;
}

} // namespace kevra
