#include "demux/StreamDemuxer.h"

#include <new>

namespace kevra {

StreamDemuxer::StreamDemuxer(int initialFormat)
    : buffer_(new (std::nothrow) uint8_t[kWorkBufferSize])
{
    (void)initialFormat;
}

StreamDemuxer::~StreamDemuxer()
{
    parser_.reset();
}

int StreamDemuxer::probe(const uint8_t*, int)
{
    return -1;
}

void StreamDemuxer::replaceParser(std::unique_ptr<FrameParser> parser, int format)
{
    parser_ = std::move(parser);
    format_ = format;
}

int StreamDemuxer::feed(const uint8_t* data, int length)
{
    if (!parser_)
        return -1;
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
    return -1;
}

} // namespace kevra
