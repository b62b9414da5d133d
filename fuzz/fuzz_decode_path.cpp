// The whole decode path on arbitrary bytes: decoder worker driven by hand, so the input goes
// through the probing demultiplexer, the frame list, the frame joiner, the H.264 or MPEG-4
// decoder and the colour conversion, and every picture handed out is read in full.
//
// Input layout: byte 0 = flags (bits 0-2: number of block sizes - 1, bit 3: 16-bit display
// instead of 32-bit), then that many 16-bit little-endian block sizes (0 = the rest of the
// input), then the stream. Inputs above 64 KB are not run: one input stays cheap.
#include "fuzz_driver.h"
#include "video/DecoderWorker.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 65536)
        return 0;
    int sizes[8];
    int count = 0;
    size_t pos = fuzzdrv::readSizes(data, size, 1, sizes, count);
    const int depth = (data[0] & 8) ? 16 : 32;
    static const bool verbose = std::getenv("FUZZ_VERBOSE") != nullptr;   // print every picture

    static kevra::DecoderWorker* worker = [] {
        av_log_set_level(AV_LOG_QUIET);      // damaged streams are the point here
        return new kevra::DecoderWorker();   // reused: one per process
    }();
    kevra::DecoderWorker& w = *worker;
    w.setPixelFormat(kevra::pixelFormatForDepth(depth));
    w.startManual();
    int block = 0;
    auto drain = [&](int steps) {
        for (int i = 0; i < steps; ++i) {
            w.runIntake();
            const int result = w.runStep();
            kevra::Picture p;
            if (w.takePicture(p)) {
                if (p.width <= 0 || p.height <= 0 || p.width > kevra::DecoderWorker::kMaxSide ||
                    p.height > kevra::DecoderWorker::kMaxSide || p.stride * 8 != p.width * depth)
                    __builtin_trap();
                fuzzdrv::touch(p.pixels, p.stride * p.height);
                if (verbose)
                    std::fprintf(stderr, "picture %dx%d\n", p.width, p.height);
                w.giveBack(p);
            } else if (result == kevra::DecoderWorker::kStepIdle) {
                return;
            }
        }
    };
    while (pos < size) {
        size_t n = sizes[block % count];
        if (n == 0 || n > size - pos)
            n = size - pos;
        w.push(data + pos, static_cast<int>(n));
        pos += n;
        ++block;
        drain(4);
    }
    drain(64);
    w.stop();
    return 0;
}
