#include "demux/FrameNames.h"

#include "demux/MediaFrame.h"

namespace kevra {

const char* streamFormatName(int format)
{
    switch (format) {
    case stream_format::NONE: return "none";
    case stream_format::MPEG4_ES: return "mpeg4-es";
    case stream_format::KXPT: return "kxpt";
    case stream_format::PACKET: return "packet";
    case stream_format::CHUNK: return "chunk";
    case stream_format::PACKET_AUDIO_ONLY: return "packet-audio-only";
    case stream_format::PROGRAM_STREAM: return "program-stream";
    case stream_format::KXAV: return "kxav";
    case stream_format::ASF: return "asf";
    default: return "unknown";
    }
}

const char* codecName(int kind, int codec)
{
    if (kind == frame_kind::VIDEO) {
        switch (codec) {
        case video_codec::MPEG4: return "mpeg4";
        case video_codec::H264_2:
        case video_codec::H264: return "h264";
        case video_codec::DECLARED_1FE: return "declared-1fe";
        default: return "unknown";
        }
    }
    // Audio codec numbers are the recorder's own and passed on uninterpreted.
    if (kind == frame_kind::AUDIO)
        return "audio";
    if (kind == frame_kind::OTHER)
        return "none";
    return "unknown";
}

}   // namespace kevra
