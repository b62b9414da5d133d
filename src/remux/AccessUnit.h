// One whole video frame cut from a recorder's stream, as the frame cutter hands it out to the
// clip writer and the gateway. A plain value; its byte pointers belong to the cutter and stay
// valid until the cutter's next feed() or next() call. Used on the thread that owns the cutter.
#pragma once
#include <cstdint>

namespace kevra {

enum class UnitCodec {
    H264,    // Annex B byte stream (start codes), parameter sets in band before key frames
    Mpeg4,   // MPEG-4 Part 2 (Visual); the VOL header sits before key frames
};

struct AccessUnit {
    UnitCodec codec = UnitCodec::H264;
    bool key = false;   // decodable on its own (IDR / I-VOP): a file or a client may start here
    int width = 0;      // picture size the recorder declared for the stream
    int height = 0;
    int frameRate = 0;        // frames per second used for timing (declared, or the default)
    int64_t timeUs = 0;       // presentation time: monotonic, starts at 0 with the first unit
    int64_t durationUs = 0;   // one frame at frameRate
    const uint8_t* data = nullptr;   // the frame's bytes as the recorder sent them
    int size = 0;
    // Codec extradata of the stream this unit belongs to: SPS and PPS with start codes, or the
    // MPEG-4 configuration headers (VOS/VO/VOL) before the first VOP. Empty only while none
    // has been seen.
    const uint8_t* extradata = nullptr;
    int extradataSize = 0;
    // The first unit (a key frame) after a codec or picture-size change: whatever was built on
    // the earlier parameters (a file part, a decoder, an RTSP session) must start afresh.
    bool streamChanged = false;
    // Units were lost right before this one (input dropped, connection renewed, damaged data);
    // this unit is a key frame and its time continues after the gap.
    bool afterGap = false;
};

}   // namespace kevra
