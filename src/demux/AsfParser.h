// Parser of ASF streams (format 9): cuts the data packets with the generic loop; nextFrame
// unpacks their payloads (other streams re-wrapped as 0x000001F0 audio packets) into an inner
// packet-stream parser, which owns its own work buffer. Decoder worker thread only.
#pragma once
#include "demux/FrameParser.h"
#include "demux/PacketParser.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kevra {

class AsfParser : public FrameParser {
public:
    static constexpr size_t kOutputBufferSize = 0x90000;
    static constexpr int kPayloadOffset = 25;   // single payload data / parseHeader cursor
    static constexpr int kAudioHeader = 8;

    AsfParser(uint8_t* workBuffer, size_t capacity, int packetSize, int videoStream);
    ~AsfParser() override;

    bool isSyncCode(uint32_t code) override;
    int parseHeader() override;
    int checkFrameEnd() override;
    // Unpacks the queued data packets into the inner parser and returns its next frame.
    MediaFrame* nextFrame() override;
    // Unpacks as nextFrame does and returns the inner parser's next key frame.
    MediaFrame* nextKeyFrame() override;
    // The last data packet, unpacked, then the inner parser's end.
    int finish() override;
    int reset(int mode) override;

    int packetSize() const { return packetSize_; }
    int videoStream() const { return videoStream_; }
    PacketParser& inner() { return *inner_; }

private:
    void unpackReadyPackets();
    void unpackPacket(const MediaFrame* r);
    bool appendOutput(const uint8_t* src, size_t n);
    bool appendAudioHeader(int length);

    int packetSize_;
    int videoStream_;
    std::unique_ptr<uint8_t[]> innerBuffer_;
    std::unique_ptr<PacketParser> inner_;
    std::unique_ptr<uint8_t[]> output_;
    size_t outputLength_ = 0;
};

}   // namespace kevra
