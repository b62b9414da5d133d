// Reads what a recorder's video frame says about itself from its bytes: whether it is a key
// frame, and the codec configuration (H.264 SPS/PPS, MPEG-4 VOS/VO/VOL) to use as extradata.
// Stateless and bounded: never reads past the bytes given. Any thread.
#pragma once
#include "remux/AccessUnit.h"

#include <cstdint>
#include <vector>

namespace kevra {

class ParameterSets {
public:
    // Extradata longer than this is not a plausible configuration: it is not taken.
    static constexpr int kMaxExtradata = 4096;

    // H.264: an IDR slice is present. MPEG-4: the first VOP is intra coded.
    static bool isKeyFrame(UnitCodec codec, const uint8_t* data, int size);
    // H.264: every SPS and PPS NAL unit before the first slice, each behind a 4-byte start code
    // (nothing unless both are there). MPEG-4: the bytes
    // before the first GOV or VOP start code when they begin with a start code and hold a VOL.
    // Empty when the frame carries none (or they exceed kMaxExtradata).
    static std::vector<uint8_t> extract(UnitCodec codec, const uint8_t* data, int size);
};

}   // namespace kevra
