// ChunkMuxer: writes the chunked container stream (format 5): an MPEG-4 elementary stream cut
// into 1024-byte 0x000001F2 video chunks with a running chunk counter, interleaved with
// 0x000001F0 audio packets. Owns its pending bytes; one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kevra {

class ChunkMuxer {
public:
    static constexpr int kChunkPayload = 1024;
    static constexpr int kChunkPacket = 1040;   // code + 12 header bytes + payload

    ChunkMuxer(int width, int height, int frameRate, uint32_t firstCounter = 1);

    // Appends elementary-stream bytes; every complete 1024-byte chunk is written out.
    void addVideo(const uint8_t* data, size_t length);
    void addVideo(const std::vector<uint8_t>& es) { addVideo(es.data(), es.size()); }
    // Writes one audio packet (codec byte, sample-rate code, payload up to 65535 bytes).
    void addAudio(int codec, int rateCode, const std::vector<uint8_t>& payload);
    // Pads the pending video bytes with zeros to a whole chunk and writes it.
    void flush();
    // The stream written so far (emptied).
    std::vector<uint8_t> take();

    void setCounter(uint32_t counter) { counter_ = counter; }
    uint32_t counter() const { return counter_; }
    void setPicture(int width, int height, int frameRate);

    // One complete video chunk packet (payload padded with zeros or cut to 1024 bytes).
    static std::vector<uint8_t> chunk(uint32_t counter, int width, int height, int frameRate,
                                      const uint8_t* payload, size_t length);
    // One audio packet of this container (12 header bytes).
    static std::vector<uint8_t> audio(int codec, int rateCode, const std::vector<uint8_t>& payload);

private:
    int width_, height_, frameRate_;
    uint32_t counter_;
    std::vector<uint8_t> pending_;
    std::vector<uint8_t> out_;
};

}   // namespace kevra
