// Shared driver of the parser fuzz targets: cuts the input into blocks whose sizes the input
// chooses, copies each block into an allocation of exactly its size, feeds it to a parser and
// reads every byte of every record handed out, so a record pointing at freed or foreign memory
// is caught by the address sanitizer. Single-threaded, one parser per input.
//
// Input layout: byte 0 = flags (bits 0-2: number of block sizes - 1, bit 3: alternate with
// nextKeyFrame, bit 4: reset(0) after every fourth block, bit 5: reset(2) likewise), then that
// many 16-bit little-endian block sizes (0 = the rest of the input), then the stream.
#pragma once
#include "demux/FrameParser.h"
#include "demux/MediaFrame.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace fuzzdrv {

inline volatile uint8_t g_sink;

inline void touch(const uint8_t* p, int32_t n)
{
    if (p == nullptr || n <= 0)
        return;
    uint8_t acc = 0;
    for (int32_t i = 0; i < n; ++i)
        acc ^= p[i];
    g_sink = acc;
}

// With FUZZ_VERBOSE set, every record is printed before it is read (for reproducing a crash).
inline void touchRecord(const kevra::MediaFrame* r)
{
    static const bool verbose = std::getenv("FUZZ_VERBOSE") != nullptr;
    if (verbose)
        std::fprintf(stderr, "record packet %p +%d payload %p (+%td) +%d kind %d sub %d\n",
                     static_cast<void*>(r->packetStart), r->packetLength,
                     static_cast<void*>(r->payload), r->payload - r->packetStart, r->payloadLength,
                     r->kind, r->subtype);
    if (r->payloadLength < 0 || r->packetLength < 0)
        __builtin_trap();
    touch(r->payload, r->payloadLength);
    // A broken frame (payloadLength 0) keeps the length its header declared, which may reach
    // past the bytes present; consumers skip such records, so only whole frames are read.
    if (r->payloadLength > 0)
        touch(r->packetStart, r->packetLength);
}

// The work buffer every parser borrows; one per process, as large as the demultiplexer's.
inline uint8_t* workBuffer()
{
    static std::unique_ptr<uint8_t[]> buffer(new uint8_t[kevra::FrameParser::kWorkBufferSize]);
    return buffer.get();
}

// Reads the block-size header; returns the index of the first stream byte.
inline size_t readSizes(const uint8_t* data, size_t size, size_t from, int* sizes, int& count)
{
    count = (data[0] & 7) + 1;
    size_t pos = from;
    for (int i = 0; i < count; ++i) {
        sizes[i] = pos + 1 < size ? (data[pos] | (data[pos + 1] << 8)) : 0;
        pos += 2;
    }
    return pos > size ? size : pos;
}

inline void drain(kevra::FrameParser& parser, bool alternate)
{
    for (int guard = 0; guard < 100000; ++guard) {
        kevra::MediaFrame* r =
            alternate && (guard & 1) ? parser.nextKeyFrame() : parser.nextFrame();
        if (r == nullptr)
            return;
        touchRecord(r);
    }
}

// Feeds data[pos..size) in blocks to the parser.
inline void run(kevra::FrameParser& parser, const uint8_t* data, size_t size, size_t pos,
                const int* sizes, int count)
{
    const uint8_t flags = data[0];
    int block = 0;
    while (pos < size) {
        size_t n = sizes[block % count];
        if (n == 0 || n > size - pos)
            n = size - pos;
        std::vector<uint8_t> copy(data + pos, data + pos + n);
        pos += n;
        if (std::getenv("FUZZ_VERBOSE"))
            std::fprintf(stderr, "block %p +%zu\n", static_cast<void*>(copy.data()), n);
        parser.input(copy.data(), static_cast<int>(copy.size()));
        parser.readyCount();
        drain(parser, flags & 8);
        ++block;
        if ((block & 3) == 0) {
            if (flags & 16)
                parser.reset(0);
            if (flags & 32)
                parser.reset(2);
        }
    }
    // The end of the input hands out what was held back for a following block.
    parser.finish();
    drain(parser, false);
    parser.input(nullptr, 0);
    drain(parser, false);
}

}   // namespace fuzzdrv
