// One frame record handed out by the demultiplexer: where the frame's bytes are and what the
// stream header said about them. Records belong to a parser's FramePool; a consumer copies what
// it needs before the next feed. Used by the decoder thread only.
#pragma once
#include <cstdint>

namespace kevra {

// The 23 fields keep their order and meaning; the two pointers are native pointers.
struct MediaFrame {
    uint8_t* packetStart;   // first byte of the packet (its sync code)
    uint8_t* payload;       // first byte of the frame data proper
    int32_t packetLength;   // bytes from packetStart to the end of the packet
    int32_t payloadLength;  // bytes of frame data; 0 = broken frame, skip it
    int32_t kind;           // 1 video, 2 audio, 3 other
    int32_t subtype;        // video: 0 key frame, 1/2 dependent frames; other kinds: per format
    int32_t codec;          // video: 1 MPEG-4, 2/4 H.264, 3; audio: codec byte
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t timeOfDay;      // hour * 3600 + minute * 60 + second where set
    int32_t frameRate;
    int32_t width;
    int32_t height;
    int32_t reserved;       // never written
    int32_t channels;
    int32_t bitsPerSample;
    int32_t sampleRate;
    int32_t param1;         // per format (scan mode, chunk counter)
    int32_t param2;         // per format (first header byte, codec variant)
};

// Stream format codes; the numbers are part of the interface.
namespace stream_format {
constexpr int NONE = 0;
constexpr int MPEG4_ES = 1;
constexpr int KXPT = 3;
constexpr int PACKET = 4;
constexpr int CHUNK = 5;
constexpr int PACKET_AUDIO_ONLY = 6;  // provisional: only 0x000001F0 audio packets seen
constexpr int PROGRAM_STREAM = 7;
constexpr int KXAV = 8;
constexpr int ASF = 9;
} // namespace stream_format

} // namespace kevra
