// Feeds arbitrary bytes to a probing StreamDemuxer, cut into blocks whose sizes the input
// chooses, and reads every byte of every record it hands out so that a record pointing
// outside live memory is caught by the address sanitizer.
//
// Input layout: byte 0 = flags (bits 0-2: number of block sizes - 1, bit 3: prefer
// nextKeyFrame, bit 4: control(0, format) after every fourth block, bit 5: control(1, ...)),
// then that many 16-bit little-endian block sizes (0 = the rest of the input), then the stream.
#include "demux/StreamDemuxer.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

volatile uint8_t g_sink;

void touch(const uint8_t* p, int32_t n)
{
    if (p == nullptr || n <= 0)
        return;
    uint8_t acc = 0;
    for (int32_t i = 0; i < n; ++i)
        acc ^= p[i];
    g_sink = acc;
}

// With FUZZ_VERBOSE set, every block and record is printed (for reproducing a crash).
void touchRecord(const kevra::MediaFrame* r)
{
    if (std::getenv("FUZZ_VERBOSE"))
        std::fprintf(stderr, "record packet %p +%d payload %p (+%td) +%d kind %d sub %d codec %d\n",
                     static_cast<void*>(r->packetStart), r->packetLength,
                     static_cast<void*>(r->payload), r->payload - r->packetStart, r->payloadLength,
                     r->kind, r->subtype, r->codec);
    if (r->payloadLength < 0 || r->packetLength < 0)
        __builtin_trap();
    touch(r->payload, r->payloadLength);
    // A broken frame (payloadLength 0) keeps the length its header declared, which may reach
    // past the bytes present; consumers skip such records, so only whole frames are read.
    if (r->payloadLength > 0)
        touch(r->packetStart, r->packetLength);
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t flags = data[0];
    const int sizeCount = (flags & 7) + 1;
    size_t pos = 1;
    int sizes[8];
    for (int i = 0; i < sizeCount; ++i) {
        sizes[i] = pos + 1 < size ? (data[pos] | (data[pos + 1] << 8)) : 0;
        pos += 2;
    }
    if (pos > size)
        pos = size;

    kevra::StreamDemuxer demuxer;
    if (!demuxer.valid())
        return 0;
    int block = 0;
    while (pos < size) {
        size_t n = sizes[block % sizeCount];
        if (n == 0 || n > size - pos)
            n = size - pos;
        // Every block in an allocation of its own, exactly as long as the block.
        std::vector<uint8_t> copy(data + pos, data + pos + n);
        pos += n;
        demuxer.feed(copy.data(), static_cast<int>(copy.size()));
        if (std::getenv("FUZZ_VERBOSE"))
            std::fprintf(stderr, "block %p +%zu format %d\n", static_cast<void*>(copy.data()), n,
                         demuxer.format());
        for (int guard = 0; guard < 100000; ++guard) {
            kevra::MediaFrame* r =
                (flags & 8) && (guard & 1) ? demuxer.nextKeyFrame() : demuxer.nextFrame();
            if (r == nullptr)
                break;
            touchRecord(r);
        }
        ++block;
        if ((block & 3) == 0) {
            if (flags & 16)
                demuxer.control(0, demuxer.format());
            if (flags & 32)
                demuxer.control(1, demuxer.format());
        }
    }
    // The end of the input: every block is freed by now, so a record still pointing into one
    // is caught.
    demuxer.finish();
    for (int guard = 0; guard < 100000; ++guard) {
        kevra::MediaFrame* r = demuxer.nextFrame();
        if (r == nullptr)
            break;
        touchRecord(r);
    }
    // An empty block must be refused without touching anything.
    demuxer.feed(nullptr, 0);
    return 0;
}
