// Parser of the KXPT packet variant (format 3): "KXPT" MPEG-4 video packets and 0x000001F0
// audio packets; video records are classified from the MPEG-4 headers in their payload.
// Base state only. Decoder thread only.
#pragma once
#include "demux/FrameParser.h"

namespace kevra {

class KxptParser : public FrameParser {
public:
    static constexpr uint32_t kMagic = 0x4B585054;   // "KXPT"

    KxptParser(uint8_t* workBuffer, size_t capacity);

    bool isSyncCode(uint32_t code) override;
    int parseHeader() override;
    int checkFrameEnd() override;

private:
    void classifyVideo(MediaFrame* r);
};

}   // namespace kevra
