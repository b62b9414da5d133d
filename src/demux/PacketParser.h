// Parser of the 0x000001Fx packet stream (formats 4 and 6): key and dependent video frames,
// audio and auxiliary packets, each with a length-declaring header. Base state only; the
// format word holds the last sequence byte of a dependent frame. Decoder thread only.
#pragma once
#include "demux/FrameParser.h"

namespace kevra {

class PacketParser : public FrameParser {
public:
    PacketParser(uint8_t* workBuffer, size_t capacity);

    bool isSyncCode(uint32_t code) override;
    int parseHeader() override;
    int checkFrameEnd() override;
};

}   // namespace kevra
