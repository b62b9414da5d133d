#include "testkit/ChunkMuxer.h"

#include <algorithm>
#include <cstddef>

namespace kevra {

ChunkMuxer::ChunkMuxer(int width, int height, int frameRate, uint32_t firstCounter)
    : width_(width), height_(height), frameRate_(frameRate), counter_(firstCounter)
{
}

void ChunkMuxer::setPicture(int width, int height, int frameRate)
{
    width_ = width;
    height_ = height;
    frameRate_ = frameRate;
}

std::vector<uint8_t> ChunkMuxer::chunk(uint32_t counter, int width, int height, int frameRate,
                                       const uint8_t* payload, size_t length)
{
    std::vector<uint8_t> b{0x00, 0x00, 0x01, 0xF2};
    const uint32_t w = ((static_cast<uint32_t>(width / 16) & 0x3F) << 3) |
                       ((static_cast<uint32_t>(height / 16) & 0x7F) << 9);
    b.push_back(0x01);   // byte 0: not read
    b.push_back(static_cast<uint8_t>((frameRate & 0x1F) << 3));
    b.push_back(static_cast<uint8_t>(w));
    b.push_back(static_cast<uint8_t>(w >> 8));
    for (int i = 0; i < 4; ++i)
        b.push_back(0);   // bytes 4-7: not read
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(counter >> (8 * i)));
    const size_t n = std::min<size_t>(length, kChunkPayload);
    if (payload != nullptr)
        b.insert(b.end(), payload, payload + n);
    b.resize(kChunkPacket, 0);
    return b;
}

std::vector<uint8_t> ChunkMuxer::audio(int codec, int rateCode, const std::vector<uint8_t>& payload)
{
    const size_t n = std::min<size_t>(payload.size(), 0xFFFF);
    std::vector<uint8_t> b{0x00,
                           0x00,
                           0x01,
                           0xF0,
                           static_cast<uint8_t>(codec),
                           static_cast<uint8_t>(rateCode),
                           static_cast<uint8_t>(n),
                           static_cast<uint8_t>(n >> 8)};
    for (int i = 0; i < 8; ++i)
        b.push_back(0);   // header bytes 4-11
    b.insert(b.end(), payload.begin(), payload.begin() + static_cast<ptrdiff_t>(n));
    return b;
}

void ChunkMuxer::addVideo(const uint8_t* data, size_t length)
{
    if (data == nullptr)
        return;
    pending_.insert(pending_.end(), data, data + length);
    size_t at = 0;
    while (pending_.size() - at >= kChunkPayload) {
        auto c =
            chunk(counter_++, width_, height_, frameRate_, pending_.data() + at, kChunkPayload);
        out_.insert(out_.end(), c.begin(), c.end());
        at += kChunkPayload;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(at));
}

void ChunkMuxer::addAudio(int codec, int rateCode, const std::vector<uint8_t>& payload)
{
    auto a = audio(codec, rateCode, payload);
    out_.insert(out_.end(), a.begin(), a.end());
}

void ChunkMuxer::flush()
{
    if (pending_.empty())
        return;
    auto c = chunk(counter_++, width_, height_, frameRate_, pending_.data(), pending_.size());
    out_.insert(out_.end(), c.begin(), c.end());
    pending_.clear();
}

std::vector<uint8_t> ChunkMuxer::take()
{
    std::vector<uint8_t> r;
    r.swap(out_);
    return r;
}

}   // namespace kevra
