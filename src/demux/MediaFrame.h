// One frame record handed out by the demultiplexer: where the frame's bytes are and what the
// stream header said about them. Records belong to a parser's FramePool; a consumer copies what
// it needs before the next feed. Used by the decoder thread only.
#pragma once
#include <cstdint>

namespace kevra {

// The 23 fields keep their order and meaning; the two pointers are native pointers.
struct MediaFrame {
    uint8_t* packetStart;    // first byte of the packet (its sync code)
    uint8_t* payload;        // first byte of the frame data proper
    int32_t packetLength;    // bytes from packetStart to the end of the packet
    int32_t payloadLength;   // bytes of frame data; 0 = broken frame, skip it
    int32_t kind;            // frame_kind: 1 video, 2 audio, 3 other
    int32_t subtype;         // frame_subtype: video 0 key frame, 1/2 dependent; others per format
    int32_t codec;           // video_codec: 1 MPEG-4, 2/4 H.264, 3; audio: codec byte (audio_codec)
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t timeOfDay;   // hour * 3600 + minute * 60 + second where set
    int32_t frameRate;
    int32_t width;
    int32_t height;
    int32_t reserved;   // never written
    int32_t channels;
    int32_t bitsPerSample;
    int32_t sampleRate;
    int32_t param1;   // per format (scan mode, chunk counter)
    int32_t param2;   // per format (first header byte, codec variant)
};

// Stream format codes; the numbers are part of the interface.
namespace stream_format {
constexpr int NONE = 0;
constexpr int MPEG4_ES = 1;
constexpr int KXPT = 3;
constexpr int PACKET = 4;
constexpr int CHUNK = 5;
constexpr int PACKET_AUDIO_ONLY = 6;   // provisional: only 0x000001F0 audio packets seen
constexpr int PROGRAM_STREAM = 7;
constexpr int KXAV = 8;
constexpr int ASF = 9;
}   // namespace stream_format

// MediaFrame::kind.
namespace frame_kind {
constexpr int VIDEO = 1;
constexpr int AUDIO = 2;
constexpr int OTHER = 3;   // auxiliary, text, unrecognised, or a hidden piece
}   // namespace frame_kind

// MediaFrame::subtype. Video: key frame or a frame that depends on earlier ones.
namespace frame_subtype {
constexpr int KEY = 0;
constexpr int DEPENDENT = 1;
constexpr int DEPENDENT_2 = 2;   // the second dependent frame type of KXAV (0xFE packets)
constexpr int TEXT = 5;          // KXAV text packet, payload is the text
constexpr int AUX_6 = 6;         // KXAV auxiliary packet of sub-type 6 that is not text
}   // namespace frame_subtype

// MediaFrame::codec of video frames. Only the two H.264 values are decoded.
namespace video_codec {
constexpr int MPEG4 = 1;
constexpr int H264_2 = 2;         // KXAV codec byte 2
constexpr int DECLARED_1FE = 3;   // declared by a 0x000001FE packet, not decoded
constexpr int H264 = 4;
constexpr bool isH264(int codec)
{
    return codec == H264_2 || codec == H264;
}
}   // namespace video_codec

// MediaFrame::codec of audio records: the stream header's codec byte, except these.
namespace audio_codec {
constexpr int EIGHT_BIT_7 = 7;   // with 30: samples of 8 bits
constexpr int BYTE_10 = 10;      // as the packet and KXAV headers write it; stored as STORED_10
constexpr int STORED_10 = 22;
constexpr int PROGRAM_STREAM_H264 = 14;    // beside H.264 video in program streams; ASF audio
constexpr int PROGRAM_STREAM_MPEG4 = 21;   // beside MPEG-4 video in program streams
constexpr int EIGHT_BIT_30 = 30;
constexpr int AVI = 31;   // AVI "01wb" chunks
}   // namespace audio_codec

}   // namespace kevra
