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

// The record codes below are stored in MediaFrame's int32_t fields (and the stream format is
// handed to callers) by their numbers, which are part of the interface. recordCode() gives
// the number to store or compare.
template <class Code>
constexpr int32_t recordCode(Code c)
{
    return static_cast<int32_t>(c);
}

// Stream formats.
enum class StreamFormat : int32_t {
    None = 0,
    Mpeg4Es = 1,
    Kxpt = 3,
    Packet = 4,
    Chunk = 5,
    PacketAudioOnly = 6,   // provisional: only 0x000001F0 audio packets seen
    ProgramStream = 7,
    Kxav = 8,
    Asf = 9,
};

// MediaFrame::kind.
enum class FrameKind : int32_t {
    Video = 1,
    Audio = 2,
    Other = 3,   // auxiliary, text, unrecognised, or a hidden piece
};

// MediaFrame::subtype. Video: key frame or a frame that depends on earlier ones.
enum class FrameSubtype : int32_t {
    Key = 0,
    Dependent = 1,
    Dependent2 = 2,   // the second dependent frame type of KXAV (0xFE packets)
    Text = 5,         // KXAV text packet, payload is the text
    Aux6 = 6,         // KXAV auxiliary packet of sub-type 6 that is not text
};

// MediaFrame::codec of video frames. Only MPEG-4 and the two H.264 values are decoded.
enum class VideoCodec : int32_t {
    Mpeg4 = 1,
    H264Kxav = 2,      // KXAV codec byte 2
    Declared1FE = 3,   // declared by a 0x000001FE packet, not decoded
    H264 = 4,
};

constexpr bool isH264(int32_t codec)
{
    return codec == recordCode(VideoCodec::H264Kxav) || codec == recordCode(VideoCodec::H264);
}

// MediaFrame::codec of audio records: the stream header's codec byte, except these.
enum class AudioCodec : int32_t {
    EightBit7 = 7,   // with 30: samples of 8 bits
    Byte10 = 10,     // as the packet and KXAV headers write it; stored as Stored10
    Stored10 = 22,
    ProgramStreamH264 = 14,    // beside H.264 video in program streams; ASF audio
    ProgramStreamMpeg4 = 21,   // beside MPEG-4 video in program streams
    EightBit30 = 30,
    Avi = 31,   // AVI "01wb" chunks
};

}   // namespace kevra
