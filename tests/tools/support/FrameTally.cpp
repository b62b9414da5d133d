#include "tools/support/FrameTally.h"

#include "demux/KxavParser.h"
#include "demux/MediaFrame.h"
#include "demux/StreamDemuxer.h"

namespace kevra {

FrameTally::FrameTally(int format)
{
    if (format == 8) {
        buffer_.reset(new uint8_t[FrameParser::kWorkBufferSize]);
        parser_ = std::make_unique<KxavParser>(buffer_.get(), FrameParser::kWorkBufferSize);
    } else {
        demuxer_ = std::make_unique<StreamDemuxer>(StreamFormat(format));
    }
}

FrameTally::~FrameTally() = default;

void FrameTally::feed(const uint8_t* data, int length)
{
    if (parser_) {
        parser_->input(data, length);
        while (MediaFrame* f = parser_->nextFrame())
            take(f);
    } else {
        demuxer_->feed(data, length);
        while (MediaFrame* f = demuxer_->nextFrame())
            take(f);
    }
}

void FrameTally::take(const MediaFrame* f)
{
    Frame s;
    s.kind = f->kind;
    s.subtype = f->subtype;
    s.codec = f->codec;
    s.width = f->width;
    s.height = f->height;
    s.frameRate = f->frameRate;
    s.payloadLength = f->payloadLength;
    const uint8_t* p = f->payload;
    int n = f->payloadLength;
    if (p && n > 0) {
        for (int i = 0; i + 3 < n; ++i) {
            if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
                int type = p[i + 3] & 0x1F;
                if (s.firstNal < 0)
                    s.firstNal = type;
                if (type == 7)
                    s.hasSps = true;
                i += 2;
            }
        }
        if (f->kind == recordCode(FrameKind::Video))
            elementary_.insert(elementary_.end(), p, p + n);
    }
    frames_.push_back(s);
}

int FrameTally::keyFrames() const
{
    int n = 0;
    for (const auto& f : frames_)
        n += (f.kind == recordCode(FrameKind::Video) &&
              f.subtype == recordCode(FrameSubtype::Key) && f.payloadLength > 0)
                 ? 1
                 : 0;
    return n;
}

int FrameTally::dependentFrames() const
{
    int n = 0;
    for (const auto& f : frames_)
        n += (f.kind == recordCode(FrameKind::Video) &&
              f.subtype != recordCode(FrameSubtype::Key) && f.payloadLength > 0)
                 ? 1
                 : 0;
    return n;
}

}   // namespace kevra
