#include "demux/StreamDemuxer.h"

#include "demux/FormatProbe.h"
#include "demux/Mpeg4EsParser.h"

#include <new>

namespace kevra {

StreamDemuxer::StreamDemuxer(int initialFormat)
    : buffer_(new (std::nothrow) uint8_t[kWorkBufferSize])
{
    switch (initialFormat) {
    case stream_format::MPEG4_ES:
    case stream_format::KXPT:
    case stream_format::PACKET:
    case stream_format::CHUNK:
        format_ = initialFormat;
        parser_ = FormatProbe::createParser(initialFormat, buffer_.get(), kWorkBufferSize,
                                            Mpeg4EsParser::kModeStream);
        break;
    default: break;
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
    case stream_format::ASF:
        replaceParser(FormatProbe::createParser(stream_format::ASF, buf, kWorkBufferSize,
                                                Mpeg4EsParser::kModeStream, nullptr,
                                                ev.asfPacketSize, ev.asfVideoStream),
                      stream_format::ASF);
        break;
    case stream_format::MPEG4_ES:
        if (ev.avi) {
            MediaFrame tmpl{};
            FormatProbe::readAviHeader(data, length, ev.riffEnd, &tmpl);
            replaceParser(FormatProbe::createParser(stream_format::MPEG4_ES, buf, kWorkBufferSize,
                                                    Mpeg4EsParser::kModeAvi, &tmpl),
                          stream_format::MPEG4_ES);
        } else {
            replaceParser(FormatProbe::createParser(stream_format::MPEG4_ES, buf, kWorkBufferSize,
                                                    Mpeg4EsParser::kModeStream),
                          stream_format::MPEG4_ES);
            vopCount_ = 0;
        }
        break;
    case stream_format::PACKET_AUDIO_ONLY:
        if (format_ == stream_format::PACKET_AUDIO_ONLY && parser_)
            return 0;   // still only audio: keep what was collected
        replaceParser(
            FormatProbe::createParser(stream_format::PACKET_AUDIO_ONLY, buf, kWorkBufferSize),
            stream_format::PACKET_AUDIO_ONLY);
        break;
    default: replaceParser(FormatProbe::createParser(chosen, buf, kWorkBufferSize), chosen); break;
    }
    return 0;
}

int StreamDemuxer::feed(const uint8_t* data, int length)
{
    if (!buffer_)
        return -1;
    if (format_ == stream_format::NONE || format_ == stream_format::PACKET_AUDIO_ONLY) {
        if (probe(data, length) < 0) {
            if (format_ == stream_format::PACKET_AUDIO_ONLY && parser_)
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
    return (format_ == stream_format::NONE || !parser_) ? nullptr : parser_->nextFrame();
}

MediaFrame* StreamDemuxer::nextKeyFrame()
{
    return (format_ == stream_format::NONE || !parser_) ? nullptr : parser_->nextKeyFrame();
}

int StreamDemuxer::control(int resetMode, int format)
{
    if (format_ == stream_format::NONE) {
        if (resetMode == 0 && format == stream_format::PACKET)
            replaceParser(
                FormatProbe::createParser(stream_format::PACKET, buffer_.get(), kWorkBufferSize),
                stream_format::PACKET);
        return -1;
    }
    if (resetMode != 0)
        return parser_ ? parser_->reset(resetMode) : -1;
    if (format == stream_format::PACKET) {
        replaceParser(
            FormatProbe::createParser(stream_format::PACKET, buffer_.get(), kWorkBufferSize),
            stream_format::PACKET);
        return 0;
    }
    format_ = stream_format::NONE;   // the parser stays until the next probe replaces it
    return 0;
}

}   // namespace kevra
