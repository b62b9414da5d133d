// BM_Convert/<impl>/<bits>/<W>x<H>: one decoded picture to display pixels, single thread.
//   kevra-<set>  ColourConverter::convertUsing with each implementation this processor runs
//                (sse2, avx2, avx512, neon), all in the same run
//   reference    ColourConverter::convertReference (plain scalar table formula)
//   libyuv       I420ToARGB / I420ToRGB24 / I420ToRGB565, producing the same layout as ours
//                (24/32 bits bottom-up, through libyuv's negative height)
//   libyuv-upright  the same calls writing top-down (libyuv's natural direction)
//   libyuv-avx2  libyuv with its AVX-512 flags masked (only where the processor has AVX-512)
//   swscale      libswscale, one thread, same layout as ours (negative destination stride)
//   swscale-avx2 the same with FFmpeg's AVX-512 flags masked (only where the processor has
//                AVX-512), so that the AVX2 column also has libraries limited to AVX2
//   memcpy       copying a picture of the output's size: the memory floor
#include "video/ColourConverter.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/opt.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#ifdef KEVRA_HAVE_LIBYUV
#include <libyuv.h>
#endif

namespace {

struct AlignedFree {
    void operator()(uint8_t* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<uint8_t, AlignedFree>;

Buffer allocate(size_t n)
{
    return Buffer(static_cast<uint8_t*>(std::aligned_alloc(64, (n + 63) / 64 * 64)));
}

// A decoded picture with busy content (every value of every plane occurs).
struct Picture {
    int w, h;
    Buffer y, u, v, out, copySource;
    size_t outBytes;
    Picture(int width, int height, int bits)
        : w(width), h(height), y(allocate(size_t(width) * height)),
          u(allocate(size_t(width / 2) * (height / 2))),
          v(allocate(size_t(width / 2) * (height / 2))),
          out(allocate(size_t(width) * height * (bits / 8))),
          copySource(allocate(size_t(width) * height * (bits / 8))),
          outBytes(size_t(width) * height * (bits / 8))
    {
        std::mt19937 rng(1207);
        for (size_t i = 0; i < size_t(w) * h; ++i)
            y.get()[i] = uint8_t(rng());
        for (size_t i = 0; i < size_t(w / 2) * (h / 2); ++i) {
            u.get()[i] = uint8_t(rng());
            v.get()[i] = uint8_t(rng());
        }
        std::memset(out.get(), 0, outBytes);
        std::memset(copySource.get(), 1, outBytes);
    }
};

void setRate(benchmark::State& state, const Picture& p)
{
    state.counters["Mpixel/s"] =
        benchmark::Counter(double(p.w) * p.h / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(p.outBytes));
}

// One named implementation of ours ("sse2", "avx2", "avx512", "neon").
void convertPath(benchmark::State& state, const char* path, int bits, int w, int h)
{
    Picture p(w, h, bits);
    if (!kevra::ColourConverter::convertUsing(path, p.y.get(), p.u.get(), p.v.get(), w, h,
                                              p.out.get(), bits)) {
        state.SkipWithError("not available on this processor");
        return;
    }
    for (auto _ : state) {
        kevra::ColourConverter::convertUsing(path, p.y.get(), p.u.get(), p.v.get(), w, h,
                                             p.out.get(), bits);
        benchmark::DoNotOptimize(p.out.get());
        benchmark::ClobberMemory();
    }
    setRate(state, p);
    state.SetLabel(path);
}

void convertReference(benchmark::State& state, int bits, int w, int h)
{
    Picture p(w, h, bits);
    for (auto _ : state) {
        kevra::ColourConverter::convertReference(p.y.get(), p.u.get(), p.v.get(), w, h, p.out.get(),
                                                 bits);
        benchmark::DoNotOptimize(p.out.get());
        benchmark::ClobberMemory();
    }
    setRate(state, p);
}

void copyFloor(benchmark::State& state, int bits, int w, int h)
{
    Picture p(w, h, bits);
    for (auto _ : state) {
        std::memcpy(p.out.get(), p.copySource.get(), p.outBytes);
        benchmark::DoNotOptimize(p.out.get());
        benchmark::ClobberMemory();
    }
    setRate(state, p);
}

#ifdef KEVRA_HAVE_LIBYUV
// libyuv's AVX-512 flags: masked, libyuv runs the row routines of a processor limited to AVX2.
constexpr int kLibyuvAvx512 = libyuv::kCpuHasAVX512BW | libyuv::kCpuHasAVX512VL |
                              libyuv::kCpuHasAVX512VNNI | libyuv::kCpuHasAVX512VBMI |
                              libyuv::kCpuHasAVX512VBMI2 | libyuv::kCpuHasAVX512VBITALG |
                              libyuv::kCpuHasAVX512VPOPCNTDQ;

void convertLibyuv(benchmark::State& state, int bits, int w, int h, bool upright, bool limitToAvx2)
{
    Picture p(w, h, bits);
    if (limitToAvx2)
        libyuv::MaskCpuFlags(~kLibyuvAvx512);
    const int cw = w / 2;
    // Negative height makes libyuv write the rows bottom-up, as our 24/32-bit output is.
    const int hh = (bits == 16 || upright) ? h : -h;
    for (auto _ : state) {
        if (bits == 32)
            libyuv::I420ToARGB(p.y.get(), w, p.u.get(), cw, p.v.get(), cw, p.out.get(), w * 4, w,
                               hh);
        else if (bits == 24)
            libyuv::I420ToRGB24(p.y.get(), w, p.u.get(), cw, p.v.get(), cw, p.out.get(), w * 3, w,
                                hh);
        else
            libyuv::I420ToRGB565(p.y.get(), w, p.u.get(), cw, p.v.get(), cw, p.out.get(), w * 2, w,
                                 hh);
        benchmark::DoNotOptimize(p.out.get());
        benchmark::ClobberMemory();
    }
    setRate(state, p);
    // The highest instruction set libyuv detected (it picks its row routines from these).
    state.SetLabel(limitToAvx2                                    ? "cpu: avx2 (avx512 masked)"
                   : libyuv::TestCpuFlag(libyuv::kCpuHasAVX512BW) ? "cpu: avx512bw"
                   : libyuv::TestCpuFlag(libyuv::kCpuHasAVX2)     ? "cpu: avx2"
                   : libyuv::TestCpuFlag(libyuv::kCpuHasSSSE3)    ? "cpu: ssse3"
                   : libyuv::TestCpuFlag(libyuv::kCpuHasNEON)     ? "cpu: neon"
                                                                  : "cpu: plain");
    if (limitToAvx2)
        libyuv::MaskCpuFlags(0);   // detected afresh at the next call
}
#endif

void convertSwscale(benchmark::State& state, int bits, int w, int h, bool limitToAvx2)
{
    Picture p(w, h, bits);
    const AVPixelFormat dstFormat =
        bits == 32 ? AV_PIX_FMT_BGRA : (bits == 24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_RGB565LE);
    SwsContext* ctx = sws_alloc_context();
    av_opt_set_int(ctx, "srcw", w, 0);
    av_opt_set_int(ctx, "srch", h, 0);
    av_opt_set_int(ctx, "src_format", AV_PIX_FMT_YUV420P, 0);
    av_opt_set_int(ctx, "dstw", w, 0);
    av_opt_set_int(ctx, "dsth", h, 0);
    av_opt_set_int(ctx, "dst_format", dstFormat, 0);
    av_opt_set_int(ctx, "sws_flags", SWS_BILINEAR, 0);
    av_opt_set_int(ctx, "threads", 1, 0);
    // swscale picks its routines for the processor's flags when the context is set up.
    if (limitToAvx2)
        av_force_cpu_flags(av_get_cpu_flags() & ~(AV_CPU_FLAG_AVX512 | AV_CPU_FLAG_AVX512ICL));
    const int initialised = sws_init_context(ctx, nullptr, nullptr);
    if (limitToAvx2)
        av_force_cpu_flags(-1);
    if (initialised < 0) {
        sws_freeContext(ctx);
        state.SkipWithError("swscale cannot convert to this format");
        return;
    }
    const int bpp = bits / 8;
    const uint8_t* src[3] = {p.y.get(), p.u.get(), p.v.get()};
    const int srcStride[3] = {w, w / 2, w / 2};
    // 24/32 bits: start at the last row with a negative stride (bottom-up, as ours).
    uint8_t* dst[1] = {bits == 16 ? p.out.get() : p.out.get() + size_t(h - 1) * w * bpp};
    const int dstStride[1] = {bits == 16 ? w * bpp : -w * bpp};
    for (auto _ : state) {
        sws_scale(ctx, src, srcStride, 0, h, dst, dstStride);
        benchmark::DoNotOptimize(p.out.get());
        benchmark::ClobberMemory();
    }
    sws_freeContext(ctx);
    setRate(state, p);
    const int flags = av_get_cpu_flags();
    state.SetLabel(limitToAvx2                    ? "cpu: avx2 (avx512 masked)"
                   : (flags & AV_CPU_FLAG_AVX512) ? "cpu: avx512"
                   : (flags & AV_CPU_FLAG_AVX2)   ? "cpu: avx2"
                                                  : "cpu: sse/neon");
}

struct Size {
    int w, h;
};

int registerConvert()
{
    const Size sizes[] = {{352, 288}, {704, 576}, {1920, 1080}};
    for (int bits : {16, 24, 32}) {
        for (Size s : sizes) {
            const std::string tail =
                "/" + std::to_string(bits) + "/" + std::to_string(s.w) + "x" + std::to_string(s.h);
            for (const char* const* path = kevra::ColourConverter::pathNames(); *path; ++path)
                if (std::string(*path) != "scalar" && kevra::ColourConverter::hasPath(*path))
                    benchmark::RegisterBenchmark(
                        ("BM_Convert/kevra-" + std::string(*path) + tail).c_str(), convertPath,
                        *path, bits, s.w, s.h);
            benchmark::RegisterBenchmark(("BM_Convert/reference" + tail).c_str(), convertReference,
                                         bits, s.w, s.h);
#ifdef KEVRA_HAVE_LIBYUV
            benchmark::RegisterBenchmark(("BM_Convert/libyuv" + tail).c_str(), convertLibyuv, bits,
                                         s.w, s.h, false, false);
            if (bits != 16)
                benchmark::RegisterBenchmark(("BM_Convert/libyuv-upright" + tail).c_str(),
                                             convertLibyuv, bits, s.w, s.h, true, false);
            if (libyuv::TestCpuFlag(libyuv::kCpuHasAVX512BW))
                benchmark::RegisterBenchmark(("BM_Convert/libyuv-avx2" + tail).c_str(),
                                             convertLibyuv, bits, s.w, s.h, false, true);
#endif
            benchmark::RegisterBenchmark(("BM_Convert/swscale" + tail).c_str(), convertSwscale,
                                         bits, s.w, s.h, false);
            if (av_get_cpu_flags() & AV_CPU_FLAG_AVX512)
                benchmark::RegisterBenchmark(("BM_Convert/swscale-avx2" + tail).c_str(),
                                             convertSwscale, bits, s.w, s.h, true);
            benchmark::RegisterBenchmark(("BM_Convert/memcpy" + tail).c_str(), copyFloor, bits, s.w,
                                         s.h);
        }
    }
    return 0;
}

const int registered = registerConvert();

}   // namespace
