// Helpers shared by the demultiplexer tests: copies of records taken from a demultiplexer or
// parser, payload makers, block splitting.
#pragma once
#include "demux/FrameParser.h"
#include "demux/MediaFrame.h"
#include "demux/StreamDemuxer.h"

#include <cstdint>
#include <random>
#include <vector>

namespace kevra::testing {

struct Taken {
    MediaFrame rec;
    std::vector<uint8_t> bytes;   // payloadLength bytes at payload
};

inline Taken copyOf(const MediaFrame* r)
{
    Taken t{*r, {}};
    if (r->payload && r->payloadLength > 0)
        t.bytes.assign(r->payload, r->payload + r->payloadLength);
    return t;
}

template <class Source>
std::vector<Taken> drain(Source& s)
{
    std::vector<Taken> out;
    while (const MediaFrame* r = s.nextFrame())
        out.push_back(copyOf(r));
    return out;
}

// Feeds blocks of the given sizes (the last block takes the rest) and drains after each.
template <class Source>
std::vector<Taken> feedInBlocks(Source& s, const std::vector<uint8_t>& stream,
                                const std::vector<size_t>& sizes)
{
    std::vector<Taken> out;
    size_t pos = 0;
    size_t i = 0;
    while (pos < stream.size()) {
        size_t n = i < sizes.size() ? sizes[i] : stream.size() - pos;
        if (n > stream.size() - pos)
            n = stream.size() - pos;
        ++i;
        // A copy of its own, so a record that outlives its block reads freed memory
        // (caught by the address sanitizer).
        std::vector<uint8_t> block(stream.begin() + pos, stream.begin() + pos + n);
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
inline std::vector<uint8_t> payloadBytes(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    std::mt19937 rng(seed);
    for (auto& b : v)
        b = static_cast<uint8_t>(0x61 + rng() % 26);   // 'a'..'z'
    return v;
}

inline void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

} // namespace kevra::testing
