// KxavMuxer: writes KXAV streams (format 8) for tests and the simulated recorder: key and
// dependent video frames, audio, text and auxiliary packets, with a running frame sequence
// number and options for broken checksums. Owns only its counters; one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kevra {

class KxavMuxer {
public:
    static constexpr int kHeaderBytes = 24;
    static constexpr int kTrailerBytes = 8;

    KxavMuxer() = default;

    // One video packet. key: type 0xFD with the picture and codec blocks (codecByte 1 MPEG-4,
    // 2 or 8 H.264; width/height multiples of 8); otherwise a dependent frame (type 0xFC, or
    // 0xFE when setDependentType(0xFE)). Every video packet takes the next sequence number.
    std::vector<uint8_t> videoFrame(const uint8_t* data, size_t n, bool key, int codecByte,
                                    int width, int height, int fps, uint32_t packedTime);
    std::vector<uint8_t> videoFrame(const std::vector<uint8_t>& data, bool key, int codecByte,
                                    int width, int height, int fps, uint32_t packedTime)
    {
        return videoFrame(data.data(), data.size(), key, codecByte, width, height, fps, packedTime);
    }
    // One audio packet (type 0xF0) with its channel count, codec byte and sample-rate code.
    std::vector<uint8_t> audioFrame(const uint8_t* data, size_t n, int channels, int codecByte,
                                    int rateCode, uint32_t packedTime = 0);
    // A text packet (type 0xF1, sub-type 6): "TEXT", 4 bytes, 32-bit length, the text.
    // declaredLength < 0 declares the true length.
    std::vector<uint8_t> textPacket(const std::string& text, int64_t declaredLength = -1,
                                    uint32_t packedTime = 0);
    // An auxiliary packet of any type byte and sub-type.
    std::vector<uint8_t> auxPacket(int type, int subType, const uint8_t* data, size_t n,
                                   uint32_t packedTime = 0);

    // Options for the following packets.
    void setBrokenChecksum(bool broken) { brokenChecksum_ = broken; }
    void setCodecBlockFirst(bool codecFirst) { codecBlockFirst_ = codecFirst; }
    void setScanMode(int scanMode) { scanMode_ = scanMode; }
    void setDependentType(int type) { dependentType_ = type; }
    void setSequence(uint32_t next) { sequence_ = next; }
    uint32_t sequence() const { return sequence_; }

    // Any packet from its parts: header with checksum (off by one when broken), extension,
    // payload, 8 zero trailer bytes. totalOverride >= 0 writes that total length instead.
    static std::vector<uint8_t> packet(int type, int subType, uint32_t sequence,
                                       uint32_t packedTime, const std::vector<uint8_t>& extension,
                                       const uint8_t* payload, size_t n,
                                       bool brokenChecksum = false, int64_t totalOverride = -1);
    // Packed date-time: second bits 0-5, minute 6-11, hour 12-16, day 17-21, month 22-25,
    // year - 2000 in bits 26-31.
    static uint32_t packTime(int year, int month, int day, int hour, int minute, int second);

private:
    uint32_t sequence_ = 1;
    bool brokenChecksum_ = false;
    bool codecBlockFirst_ = false;
    int scanMode_ = 1;
    int dependentType_ = 0xFC;
};

}   // namespace kevra
