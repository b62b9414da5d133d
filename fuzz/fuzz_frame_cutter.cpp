// Feeds arbitrary bytes to a FrameCutter, cut into blocks whose sizes the input chooses, and
// reads every byte of every access unit and of its extradata, checking what the writers and the
// gateway rely on: sizes within their bounds, a stream that starts at a key frame, times that
// only go forward.
//
// Input layout: byte 0 = flags (bits 0-2: number of block sizes - 1, bit 3: markGap() after
// every third block, bit 4: restartStream() after every fifth, bit 5: finish() at the end),
// then that many 16-bit little-endian block sizes (0 = the rest of the input), then the stream.
#include "remux/FrameCutter.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

volatile uint8_t g_sink;

void touch(const uint8_t* p, int n)
{
    uint8_t acc = 0;
    for (int i = 0; i < n; ++i)
        acc ^= p[i];
    g_sink = acc;
}

struct Check {
    bool started = false;
    int64_t lastUs = -1;

    void unit(const kevra::AccessUnit& u)
    {
        if (u.size <= 0 || u.size > kevra::FrameCutter::kMaxUnitBytes || !u.data ||
            u.extradataSize < 0 || (u.extradataSize > 0 && !u.extradata) || u.width <= 0 ||
            u.height <= 0 || u.width > kevra::FrameCutter::kMaxSide ||
            u.height > kevra::FrameCutter::kMaxSide || u.frameRate <= 0 || u.durationUs <= 0 ||
            u.timeUs <= lastUs || (!started && !u.key) ||
            ((u.streamChanged || u.afterGap) && !u.key))
            __builtin_trap();
        started = true;
        lastUs = u.timeUs;
        touch(u.data, u.size);
        touch(u.extradata, u.extradataSize);
    }
};

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

    kevra::FrameCutter cutter;
    Check check;
    kevra::AccessUnit unit;
    int block = 0;
    while (pos < size) {
        size_t n = sizes[block % sizeCount];
        if (n == 0 || n > size - pos)
            n = size - pos;
        // Every block in an allocation of its own, exactly as long as the block.
        std::vector<uint8_t> copy(data + pos, data + pos + n);
        pos += n;
        cutter.feed(copy.data(), static_cast<int>(copy.size()));
        for (int guard = 0; guard < 100000 && cutter.next(unit); ++guard)
            check.unit(unit);
        ++block;
        if ((flags & 8) && block % 3 == 0)
            cutter.markGap();
        if ((flags & 16) && block % 5 == 0)
            cutter.restartStream();
    }
    if (flags & 32) {
        cutter.finish();
        while (cutter.next(unit))
            check.unit(unit);
    }
    return 0;
}
