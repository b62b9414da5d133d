// The pieces every implementation of ColourConverter shares: the colour tables and formulas,
// the scalar blocks the vector paths finish rows with, the row geometry, and the entry point of
// each path (one source file per instruction set; ColourConverter.cpp dispatches between
// them). Constant data and pure functions only; any thread.
//
// Each vector path carries its instruction set in function target attributes rather than in
// compiler flags for its whole file: with flags, the compiler may place wider instructions in
// inline code shared with the other paths (these helpers, std::min), and the linker may keep
// that copy for a processor without them.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KEVRA_X86_SIMD 1
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
#define KEVRA_NEON 1
#endif

namespace kevra::colour {

// ---------------------------------------------------------------------------------------------
// Colour tables of the 24/32-bit formula (13 fractional bits). Every entry is an exact integer
// product, so a vector unit that computes the same products and sums gives identical results.

constexpr int kLuma = 9535;
constexpr int kUBlue = 16531;
constexpr int kUGreen = 3203;
constexpr int kVGreen = 6660;
constexpr int kVRed = 13074;

struct Tables {
    int32_t luma[256];
    int32_t uBlue[256];
    int32_t uGreen[256];
    int32_t vGreen[256];
    int32_t vRed[256];
};

constexpr Tables makeTables()
{
    Tables t{};
    for (int i = 0; i < 256; ++i) {
        t.luma[i] = kLuma * (i - 16);
        t.uBlue[i] = kUBlue * (i - 128);
        t.uGreen[i] = kUGreen * (i - 128);
        t.vGreen[i] = kVGreen * (i - 128);
        t.vRed[i] = kVRed * (i - 128);
    }
    return t;
}

inline constexpr Tables kTables = makeTables();

// 0 below zero, 255 above 255 * 8192 + 8191, else the integer part.
inline uint8_t clampTable(int32_t x)
{
    if (x < 0)
        return 0;
    if (x > 2088959)
        return 255;
    return static_cast<uint8_t>(x >> 13);
}

// 8 fractional bits, arithmetic shift, then 0..255.
inline int clamp16(int32_t x)
{
    x >>= 8;
    return x < 0 ? 0 : (x > 255 ? 255 : x);
}

inline uint16_t pack565(int r, int g, int b)
{
    return static_cast<uint16_t>(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3));
}

inline void put565(uint8_t* out, uint16_t w)
{
    std::memcpy(out, &w, 2);
}

// The source planes with their row strides in bytes (at least width, width / 2, width / 2).
struct Src {
    const uint8_t* y;
    const uint8_t* u;
    const uint8_t* v;
    size_t yStride;
    size_t uStride;
    size_t vStride;
};

// Chroma sample for a 16-bit pixel: its block's sample, with the block column and row held
// inside the chroma planes. For an odd width (or height) the last column (row) of pixels has
// no block of its own in planes of width/2 x height/2 samples; it takes the nearest block.
// A plane without samples (width or height 1) gives neutral chroma.
inline int chromaAt(const uint8_t* plane, size_t stride, int cw, int ch, int row, int col)
{
    if (cw <= 0 || ch <= 0)
        return 128;
    int r = std::min(row / 2, ch - 1);
    int c = std::min(col / 2, cw - 1);
    return plane[static_cast<size_t>(r) * stride + c];
}

// One 2x2 block of the table formula, scalar. pa/pb: output pixels of the two rows.
inline void tableBlock(const uint8_t* ya, const uint8_t* yb, int uu, int vv, uint8_t* pa,
                       uint8_t* pb, int bpp)
{
    const int32_t cb = kTables.uBlue[uu];
    const int32_t cg = kTables.vGreen[vv] + kTables.uGreen[uu];
    const int32_t cr = kTables.vRed[vv];
    const uint8_t* ys[2] = {ya, yb};
    uint8_t* ps[2] = {pa, pb};
    for (int row = 0; row < 2; ++row) {
        for (int col = 0; col < 2; ++col) {
            const int32_t l = kTables.luma[ys[row][col]];
            uint8_t* p = ps[row] + col * bpp;
            p[0] = clampTable(l + cb);
            p[1] = clampTable(l - cg);
            p[2] = clampTable(l + cr);
            if (bpp == 4)
                p[3] = 255;
        }
    }
}

// Scalar table formula for block columns [fromBlock, cw) of one block row.
inline void tableRowScalar(const uint8_t* ya, const uint8_t* yb, const uint8_t* ur,
                           const uint8_t* vr, uint8_t* oa, uint8_t* ob, int fromBlock, int cw,
                           int bpp)
{
    for (int j = fromBlock; j < cw; ++j)
        tableBlock(ya + 2 * j, yb + 2 * j, ur[j], vr[j], oa + 2 * j * bpp, ob + 2 * j * bpp, bpp);
}

// Scalar 16-bit formula for pixel columns [fromCol, w) of one row.
inline void row565Scalar(const uint8_t* yrow, const Src& s, int cw, int ch, int row, uint8_t* orow,
                         int fromCol, int w)
{
    for (int c = fromCol; c < w; ++c) {
        const int yy = 256 * yrow[c];
        const int du = chromaAt(s.u, s.uStride, cw, ch, row, c) - 128;
        const int dv = chromaAt(s.v, s.vStride, cw, ch, row, c) - 128;
        const int r = clamp16(yy + 359 * dv);
        const int g = clamp16(yy - 88 * du - 183 * dv);
        const int b = clamp16(yy + 454 * du);
        put565(orow + 2 * c, pack565(r, g, b));
    }
}

// Row geometry of the top-down 16-bit converters: rows r and r + 1 (r alone when it is the
// last) share chroma row r / 2 (held inside the planes for an odd height). With one row, the
// second row's pointers repeat the first's. u and v are null when the planes have no chroma
// (width or height 1).
struct Rows565 {
    const uint8_t* y[2];
    const uint8_t* u;
    const uint8_t* v;
    uint8_t* o[2];
    int rows;   // 1 or 2
};

inline Rows565 rows565(const Src& s, int w, int h, uint8_t* out, int r)
{
    const int ch = h / 2;
    const bool chroma = ch > 0 && w / 2 > 0;
    const size_t crow = chroma ? static_cast<size_t>(std::min(r / 2, ch - 1)) : 0;
    Rows565 p;
    p.rows = r + 1 < h ? 2 : 1;
    p.u = chroma ? s.u + crow * s.uStride : nullptr;
    p.v = chroma ? s.v + crow * s.vStride : nullptr;
    p.y[0] = s.y + static_cast<size_t>(r) * s.yStride;
    p.y[1] = p.rows == 2 ? p.y[0] + s.yStride : p.y[0];
    p.o[0] = out + static_cast<size_t>(r) * w * 2;
    p.o[1] = p.rows == 2 ? p.o[0] + static_cast<size_t>(w) * 2 : p.o[0];
    return p;
}

// Scalar 16-bit formula for pixel columns [fromCol, w) of the rows (the vector paths' tail).
inline void rows565Scalar(const Rows565& p, const Src& s, int w, int h, int r, int fromCol)
{
    for (int i = 0; i < p.rows; ++i)
        row565Scalar(p.y[i], s, w / 2, h / 2, r + i, p.o[i], fromCol, w);
}

// Block-row geometry of the bottom-up 24/32-bit converters: output block row k (output rows
// 2k and 2k+1) reads source rows h-1-2k and h-2-2k and chroma row ch-1-k.
struct BlockRow {
    const uint8_t* ya;
    const uint8_t* yb;
    const uint8_t* ur;
    const uint8_t* vr;
    uint8_t* oa;
    uint8_t* ob;
    // Source rows of the next block row (the same rows for the last one). Reading runs from
    // the bottom of the planes upwards, a row at a time, which the hardware prefetchers do
    // not anticipate; the vector loops fetch these rows ahead themselves.
    const uint8_t* nextYa;
    const uint8_t* nextYb;
    const uint8_t* nextU;
    const uint8_t* nextV;
};

inline BlockRow blockRow(const Src& s, int w, int h, uint8_t* out, int bpp, int k)
{
    const int ch = h / 2;
    const size_t stride = static_cast<size_t>(w) * bpp;
    BlockRow b;
    b.ya = s.y + static_cast<size_t>(h - 1 - 2 * k) * s.yStride;
    b.yb = s.y + static_cast<size_t>(h - 2 - 2 * k) * s.yStride;
    b.ur = s.u + static_cast<size_t>(ch - 1 - k) * s.uStride;
    b.vr = s.v + static_cast<size_t>(ch - 1 - k) * s.vStride;
    b.oa = out + static_cast<size_t>(2 * k) * stride;
    b.ob = b.oa + stride;
    const bool last = k + 1 >= ch;
    b.nextYa = last ? b.ya : b.ya - 2 * s.yStride;
    b.nextYb = last ? b.yb : b.yb - 2 * s.yStride;
    b.nextU = last ? b.ur : b.ur - s.uStride;
    b.nextV = last ? b.vr : b.vr - s.vStride;
    return b;
}

// A whole picture through one path's row functions: the 16-bit output two rows at a time from
// the top, the 24/32-bit output a block row at a time. For the paths that need no target
// attributes (SSE2 on x86-64 and NEON on 64-bit ARM are always there); the wider x86 paths
// choose their steps per row themselves.
template <void (*Rows565)(const Src&, int, int, uint8_t*, int),
          void (*TableRow)(const BlockRow&, int, int)>
void convertByRows(const Src& s, int w, int h, uint8_t* out, int bpp)
{
    if (bpp == 2) {
        for (int r = 0; r < h; r += 2)
            Rows565(s, w, h, out, r);
        return;
    }
    for (int k = 0; k < h / 2; ++k)
        TableRow(blockRow(s, w, h, out, bpp, k), w / 2, bpp);
}

// Constant parts of the three sums of the table formula (the luma and chroma offsets).
constexpr int32_t kBlueBias = -kLuma * 16 - kUBlue * 128;
constexpr int32_t kGreenBias = -kLuma * 16 + kUGreen * 128 + kVGreen * 128;
constexpr int32_t kRedBias = -kLuma * 16 - kVRed * 128;

// Two 16-bit coefficients in one 32-bit lane, for multiply-adds of (u, v) pairs.
constexpr int32_t pairCoef(int cu, int cv)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(cu)) |
                                (static_cast<uint32_t>(static_cast<uint16_t>(cv)) << 16));
}

// A large 32-bit picture is written with streaming stores: it seldom stays in the caches
// anyway, and bypassing them saves reading every output line before it is overwritten. They
// need rows aligned to the vector size; the fence after them orders them before the caller
// publishes the picture (the converted count is raised after convert returns).
inline bool streamsOutput(const uint8_t* out, int w, int h, int bpp, int align)
{
    return bpp == 4 && size_t(w) * h * 4 >= (size_t(4) << 20) &&
           (reinterpret_cast<uintptr_t>(out) % align) == 0 && (w * 4) % align == 0;
}

#ifdef KEVRA_X86_SIMD
// Asks for the next block row's bytes of the blocks from j on (see BlockRow), at the start of
// a vector step over them.
__attribute__((always_inline)) inline void prefetchNextRow(const BlockRow& b, int j)
{
    _mm_prefetch(reinterpret_cast<const char*>(b.nextYa + 2 * j), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(b.nextYb + 2 * j), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(b.nextU + j), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(b.nextV + j), _MM_HINT_T0);
}

// SSE2 (every x86-64 processor has it), shared by the SSE2 and AVX2 16-bit steps.
// 16-bit terms of 8 chroma samples: (359*dv)>>8, (-88*du - 183*dv)>>8, (454*du)>>8.
struct Terms565 {
    __m128i r, g, b;
};

inline Terms565 terms565Sse2(__m128i u8, __m128i v8)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i c128 = _mm_set1_epi16(128);
    const __m128i du = _mm_sub_epi16(_mm_unpacklo_epi8(u8, zero), c128);
    const __m128i dv = _mm_sub_epi16(_mm_unpacklo_epi8(v8, zero), c128);
    const __m128i kG = _mm_set1_epi32(pairCoef(-88, -183));
    Terms565 t;
    // (d << 8) fits in 16 bits for d in -128..127; the high half of (d*256)*k is (d*k) >> 8.
    t.r = _mm_mulhi_epi16(_mm_slli_epi16(dv, 8), _mm_set1_epi16(359));
    t.b = _mm_mulhi_epi16(_mm_slli_epi16(du, 8), _mm_set1_epi16(454));
    const __m128i g0 = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(du, dv), kG), 8);
    const __m128i g1 = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(du, dv), kG), 8);
    t.g = _mm_packs_epi32(g0, g1);
    return t;
}
#endif

// The implementations: planes, width, height, output, bytes per output pixel (2, 3 or 4).
// Arguments are checked by the caller; a path is called only where the processor runs it.
using ConvertFn = void (*)(const Src&, int, int, uint8_t*, int);
void convertScalar(const Src& s, int w, int h, uint8_t* out, int bpp);
#ifdef KEVRA_X86_SIMD
void convertSse2(const Src& s, int w, int h, uint8_t* out, int bpp);
void convertAvx2(const Src& s, int w, int h, uint8_t* out, int bpp);
void convertAvx512(const Src& s, int w, int h, uint8_t* out, int bpp);
#endif
#ifdef KEVRA_NEON
void convertNeon(const Src& s, int w, int h, uint8_t* out, int bpp);
#endif

}   // namespace kevra::colour
