// Parser of KXAV streams (format 8): video, audio and auxiliary packets with a checksummed
// 24-byte header and an extension area. Owns the copies of text payloads it hands out (each
// with a terminating zero), valid until the next input. Decoder thread only.
#pragma once
#include "demux/FrameParser.h"

#include <memory>
#include <vector>

namespace kevra {

class KxavParser : public FrameParser {
public:
    static constexpr uint32_t kMagic = 0x4B584156;   // "KXAV"
    static constexpr int kHeaderBytes = 24;
    static constexpr int kTrailerBytes = 8;

    KxavParser(uint8_t* workBuffer, size_t capacity);

    bool isSyncCode(uint32_t code) override;
    int parseHeader() override;
    int checkFrameEnd() override;
    int input(const uint8_t* data, int length) override;
    int reset(int mode) override;

    // Sum modulo 256 of header bytes 0..22 (h points at the magic).
    static uint8_t headerChecksum(const uint8_t* h);

private:
    // Records a header that cannot be used as a 4-byte frame to be passed over.
    int skipHeader();
    void takeText(MediaFrame* r, const uint8_t* packet, int total, int payloadOffset,
                  int payloadBytes);

    uint32_t lastSequence_ = 0;   // 0 = none yet
    int extensionLength_ = 0;     // of the header being parsed
    int keyCodec_ = recordCode(
        VideoCodec::Mpeg4);   // codec of the last key frame, inherited by dependent frames
    std::vector<std::unique_ptr<uint8_t[]>> texts_;   // terminated text copies of this call
};

}   // namespace kevra
