// ProgramStreamMuxer: writes an MPEG-2 program stream as the recorders send it: every frame in
// a pack of its own; key frames carry a system header and a stream map whose private
// descriptor puts the picture-size code at byte 80 and the frame rate at byte 81 of the pack.
// MPEG-4 frames above one PES are split into maximum-size pieces. Stateless per call apart
// from the clock; one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kevra {

class ProgramStreamMuxer {
public:
    enum class Codec { Mpeg4, H264 };
    // Largest PES payload with a 5-byte header (PES_packet_length 0xFFFC).
    static constexpr int kMaxPayload = 0xFFF4;
    static constexpr int kSizeCodeOffset = 80;
    static constexpr int kFrameRateOffset = 81;

    // sizeCode: the H.264 size table code (0 704x576 ... 13 1600x1200) written at byte 80.
    ProgramStreamMuxer(Codec codec, int sizeCode, int frameRate);

    // One video frame: a pack (with system header and map when keyFrame) and its PES. MPEG-4
    // frames longer than kMaxPayload continue in bare maximum-size PES pieces; H.264 frames
    // that long continue in further packs (they then arrive as several records).
    std::vector<uint8_t> videoFrame(const std::vector<uint8_t>& frame, bool keyFrame);
    // One audio PES (stream 0xC0) in a pack of its own.
    std::vector<uint8_t> audioFrame(const std::vector<uint8_t>& payload);

    // Building blocks for tests.
    static std::vector<uint8_t> packHeader(uint64_t scr90k);
    // System header and stream map, 82 bytes: placed right after a 14-byte pack header they
    // put sizeCode at pack byte 80 and frameRate at pack byte 81.
    std::vector<uint8_t> systemHeaderAndMap() const;
    // A PES packet; headerLength >= 5 (PTS plus stuffing). PES_packet_length = n + 3 + H.
    static std::vector<uint8_t> pes(uint8_t streamId, const uint8_t* payload, size_t n,
                                    int headerLength, uint64_t pts90k);

    // The size-table code of a picture size, or -1 when the table has no such size.
    static int sizeCodeFor(int width, int height);

    void setFrameRate(int frameRate) { frameRate_ = frameRate; }
    uint64_t clock() const { return clock90k_; }

private:
    Codec codec_;
    int sizeCode_;
    int frameRate_;
    uint64_t clock90k_ = 90000;
};

}   // namespace kevra
