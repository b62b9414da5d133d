#include "demux/FrameNames.h"

#include "demux/FormatProbe.h"
#include "demux/MediaFrame.h"

namespace kevra {

const char* streamFormatName(StreamFormat format)
{
    return FormatProbe::name(format);
}

const char* codecName(int kind, int codec)
{
    if (kind == recordCode(FrameKind::Video)) {
        switch (codec) {
        case recordCode(VideoCodec::Mpeg4): return "mpeg4";
        case recordCode(VideoCodec::H264Kxav):
        case recordCode(VideoCodec::H264): return "h264";
        case recordCode(VideoCodec::Declared1FE): return "declared-1fe";
        default: return "unknown";
        }
    }
    // Audio codec numbers are the recorder's own and passed on uninterpreted.
    if (kind == recordCode(FrameKind::Audio))
        return "audio";
    if (kind == recordCode(FrameKind::Other))
        return "none";
    return "unknown";
}

}   // namespace kevra
