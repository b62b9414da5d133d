// Helpers shared by the demultiplexer tests: feed a byte stream to a parser or demultiplexer in
// blocks and copy out every record (with its payload bytes) before the next block; payload
// makers.
#pragma once

#include "demux/FrameParser.h"
#include "demux/MediaFrame.h"
#include "demux/StreamDemuxer.h"

#include <cstdint>
#include <functional>
#include <random>
#include <type_traits>
#include <vector>

namespace kevra::demuxtest {

using Bytes = std::vector<uint8_t>;

struct Taken {
    int kind = 0, subtype = 0, codec = 0, width = 0, height = 0, frameRate = 0;
    int year = 0, month = 0, day = 0, timeOfDay = 0, hour = 0, minute = 0, second = 0;
    int param1 = 0, param2 = 0;
    int channels = 0, bitsPerSample = 0, sampleRate = 0;
    int packetLength = 0, payloadLength = 0;
    Bytes payload;
    Bytes packet;
};

inline Taken copyRecord(const MediaFrame* r)
{
    Taken t;
    t.kind = r->kind;
    t.subtype = r->subtype;
    t.codec = r->codec;
    t.width = r->width;
    t.height = r->height;
    t.frameRate = r->frameRate;
    t.year = r->year;
    t.month = r->month;
    t.day = r->day;
    t.timeOfDay = r->timeOfDay;
    t.hour = r->hour;
    t.minute = r->minute;
    t.second = r->second;
    t.param1 = r->param1;
    t.param2 = r->param2;
    t.channels = r->channels;
    t.bitsPerSample = r->bitsPerSample;
    t.sampleRate = r->sampleRate;
    t.packetLength = r->packetLength;
    t.payloadLength = r->payloadLength;
    if (r->payloadLength > 0 && r->payload)
        t.payload.assign(r->payload, r->payload + r->payloadLength);
    // packetLength is only backed by bytes when the packet ends with its payload (a frame that
    // was given up keeps its declared length).
    if (r->payloadLength > 0 && r->packetStart && r->packetStart <= r->payload &&
        r->packetStart + r->packetLength <= r->payload + r->payloadLength)
        t.packet.assign(r->packetStart, r->packetStart + r->packetLength);
    return t;
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Feeds `stream` to `parser` in blocks of the given sizes (the last size repeats) and drains
// nextFrame after every block. Each block is a fresh heap copy that dies right after draining,
// so a record that points into an old block is caught by the sanitizer build.
template <class Parser>
std::vector<Taken> feedParser(Parser& parser, const Bytes& stream, const std::vector<size_t>& sizes)
{
    std::vector<Taken> out;
    size_t at = 0, k = 0;
    while (at < stream.size()) {
        size_t n = sizes.empty() ? stream.size() : sizes[k < sizes.size() ? k : sizes.size() - 1];
        ++k;
        if (n == 0)
            n = 1;
        if (n > stream.size() - at)
            n = stream.size() - at;
        Bytes block(stream.begin() + static_cast<long>(at),
                    stream.begin() + static_cast<long>(at + n));
        parser.input(block.data(), static_cast<int>(block.size()));
        while (MediaFrame* r = parser.nextFrame())
            out.push_back(copyRecord(r));
        at += n;
    }
    return out;
}

inline std::vector<Taken> feedDemuxer(StreamDemuxer& d, const Bytes& stream, size_t blockSize)
{
    std::vector<Taken> out;
    for (size_t at = 0; at < stream.size(); at += blockSize) {
        const size_t n = std::min(blockSize, stream.size() - at);
        Bytes block(stream.begin() + static_cast<long>(at),
                    stream.begin() + static_cast<long>(at + n));
        d.feed(block.data(), static_cast<int>(block.size()));
        while (MediaFrame* r = d.nextFrame())
            out.push_back(copyRecord(r));
    }
    return out;
}

// Random block sizes between 1 and maxBlock.
inline std::vector<size_t> randomSizes(std::mt19937& rng, size_t count, size_t maxBlock)
{
    std::uniform_int_distribution<size_t> dist(1, maxBlock);
    std::vector<size_t> s(count);
    for (auto& v : s)
        v = dist(rng);
    return s;
}

template <class Source>
std::vector<Taken> drain(Source& s)
{
    std::vector<Taken> out;
    while (const MediaFrame* r = s.nextFrame())
        out.push_back(copyRecord(r));
    return out;
}

// Feeds blocks of the given sizes (the last block takes the rest) and drains after each.
// Each block is a copy of its own, so a record that outlives its block reads freed memory
// (caught by the address sanitizer).
template <class Source>
std::vector<Taken> feedInBlocks(Source& s, const Bytes& stream, const std::vector<size_t>& sizes)
{
    std::vector<Taken> out;
    size_t pos = 0;
    size_t i = 0;
    while (pos < stream.size()) {
        size_t n = i < sizes.size() ? sizes[i] : stream.size() - pos;
        if (n > stream.size() - pos)
            n = stream.size() - pos;
        ++i;
        Bytes block(stream.begin() + static_cast<long>(pos),
                    stream.begin() + static_cast<long>(pos + n));
        pos += n;
        if constexpr (std::is_same_v<Source, StreamDemuxer>)
            s.feed(block.data(), static_cast<int>(block.size()));
        else
            s.input(block.data(), static_cast<int>(block.size()));
        auto got = drain(s);
        out.insert(out.end(), got.begin(), got.end());
    }
    return out;
}

// Payload bytes that never form a start code or a magic word (printable, no zeros).
inline Bytes payloadBytes(size_t n, uint32_t seed)
{
    Bytes v(n);
    std::mt19937 rng(seed);
    for (auto& b : v)
        b = static_cast<uint8_t>(0x61 + rng() % 26);   // 'a'..'z'
    return v;
}

inline void append(Bytes& to, const Bytes& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

inline std::vector<Taken> videoOnly(const std::vector<Taken>& v)
{
    std::vector<Taken> out;
    for (const auto& t : v)
        if (t.kind == 1 && t.payloadLength > 0)
            out.push_back(t);
    return out;
}

}   // namespace kevra::demuxtest
