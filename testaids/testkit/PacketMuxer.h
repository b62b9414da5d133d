// PacketMuxer: writes 0x000001Fx packet streams (formats 4 and 6) for tests and the simulated
// recorder: key frames (0x1FD H.264, 0x1FB MPEG-4, 0x1FE), dependent frames (0x1FC, 0x1FA)
// with a running sequence byte, audio (0x1F0) and auxiliary (0x1F1) packets.
// Owns only its sequence byte; one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kevra {

class PacketMuxer {
public:
    PacketMuxer() = default;

    // Key frame: code 0xFD, 0xFB or 0xFE (low byte of the start code); width and height are
    // multiples of 8 up to 2040; firstByte goes to header byte 0, param1 to bits 5-7 of byte 1.
    // Takes the next sequence byte.
    std::vector<uint8_t> keyFrame(const uint8_t* data, size_t n, int width, int height, int fps,
                                  uint32_t packedTime, int code = 0xFD, int firstByte = 0,
                                  int param1 = 0);
    std::vector<uint8_t> keyFrame(const std::vector<uint8_t>& data, int width, int height, int fps,
                                  uint32_t packedTime = 0, int code = 0xFD)
    {
        return keyFrame(data.data(), data.size(), width, height, fps, packedTime, code);
    }
    // Dependent frame: code 0xFC or 0xFA; takes the next sequence byte.
    std::vector<uint8_t> dependentFrame(const uint8_t* data, size_t n, int code = 0xFC);
    std::vector<uint8_t> dependentFrame(const std::vector<uint8_t>& data, int code = 0xFC)
    {
        return dependentFrame(data.data(), data.size(), code);
    }
    // Sequence bytes: the next one used, and skipping some to make a gap.
    void setSequence(uint8_t next) { sequence_ = next; }
    uint8_t sequence() const { return sequence_; }
    void skip(int count) { sequence_ = uint8_t(sequence_ + count); }

    // Packet builders. The payload length is written as declared (24 bits for video, 16 for
    // audio); declaredLength < 0 writes n.
    static std::vector<uint8_t> keyPacket(int code, const uint8_t* data, size_t n, int width,
                                          int height, int fps, uint32_t packedTime,
                                          uint8_t sequence, int firstByte = 0, int param1 = 0,
                                          int64_t declaredLength = -1);
    static std::vector<uint8_t> dependentPacket(int code, const uint8_t* data, size_t n,
                                                uint8_t sequence, int64_t declaredLength = -1);
    static std::vector<uint8_t> audioPacket(const uint8_t* data, size_t n, int codec, int rateCode,
                                            int64_t declaredLength = -1);
    static std::vector<uint8_t> audioPacket(const std::vector<uint8_t>& data, int codec,
                                            int rateCode)
    {
        return audioPacket(data.data(), data.size(), codec, rateCode);
    }
    // Auxiliary packet with the long header (byte 0 = 8, 32-bit length at bytes 8-11).
    static std::vector<uint8_t> auxPacket(const uint8_t* data, size_t n);

private:
    uint8_t sequence_ = 1;
};

}   // namespace kevra
