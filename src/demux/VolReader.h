// VolReader: walks the configuration headers at the start of an MPEG-4 Visual key frame
// and reports the video object layer's width, height and time-increment resolution.
// Stateless; called by the stream parsers on the decoder worker thread.
#pragma once

#include <cstdint>

namespace kevra {

class VolReader {
public:
    // Walks start codes while fewer than `limit` bytes are consumed; never reads past
    // `available` bytes of `data`. Outputs are written as their fields are reached, so the
    // rate can be set even when the result is -1. Returns 0 when width and height were read.
    static int read(const uint8_t* data, int limit, int available, int* width, int* height,
                    int* rate);

    // Bits needed to code vop_time_increment for a given resolution (25 -> 5, 30000 -> 15).
    static int timeIncrementBits(uint32_t resolution);
    // video_object_type_indication of the advanced simple object type.
    static constexpr uint32_t kAdvancedSimpleObject = 0x11;
};

}   // namespace kevra
