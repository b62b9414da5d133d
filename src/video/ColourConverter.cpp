#include "video/ColourConverter.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string_view>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KEVRA_X86_SIMD 1
// GCC 12's AVX-512 headers make their "undefined" vectors by self-initialisation, and its own
// -Wuninitialized then flags every inlined broadcast at low optimisation (sanitizer builds).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#define KEVRA_NEON 1
#endif

namespace kevra {

namespace {

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

constexpr Tables kTables = makeTables();

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

void tableReference(const Src& s, int w, int h, uint8_t* out, int bpp)
{
    const int cw = w / 2;
    for (int k = 0; k < h / 2; ++k) {
        BlockRow b = blockRow(s, w, h, out, bpp, k);
        tableRowScalar(b.ya, b.yb, b.ur, b.vr, b.oa, b.ob, 0, cw, bpp);
    }
}

void reference565(const Src& s, int w, int h, uint8_t* out)
{
    const int cw = w / 2;
    const int ch = h / 2;
    for (int r = 0; r < h; ++r)
        row565Scalar(s.y + static_cast<size_t>(r) * s.yStride, s, cw, ch, r,
                     out + static_cast<size_t>(r) * w * 2, 0, w);
}

bool validArgs(const ColourConverter::Planes& p, int w, int h, const uint8_t* out)
{
    return p.y && p.u && p.v && out && w > 0 && h > 0 && p.yStride >= w && p.uStride >= w / 2 &&
           p.vStride >= w / 2;
}

Src source(const ColourConverter::Planes& p)
{
    return {p.y,
            p.u,
            p.v,
            static_cast<size_t>(p.yStride),
            static_cast<size_t>(p.uStride),
            static_cast<size_t>(p.vStride)};
}

ColourConverter::Planes packed(const uint8_t* y, const uint8_t* u, const uint8_t* v, int w)
{
    return {y, u, v, w, w / 2, w / 2};
}

// Constant parts of the three sums of the table formula (the luma and chroma offsets).
constexpr int32_t kBlueBias = -kLuma * 16 - kUBlue * 128;
constexpr int32_t kGreenBias = -kLuma * 16 + kUGreen * 128 + kVGreen * 128;
constexpr int32_t kRedBias = -kLuma * 16 - kVRed * 128;

#ifdef KEVRA_X86_SIMD
// ---------------------------------------------------------------------------------------------
// x86 vector versions. SSE2: the integer arithmetic of the tables in 32-bit lanes:
//   blue  = 9535*y + 16531*u            - 9535*16 - 16531*128
//   green = 9535*y - 3203*u  - 6660*v   - 9535*16 + 3203*128 + 6660*128
//   red   = 9535*y           + 13074*v  - 9535*16 - 13074*128
// then (x >> 13) saturated to 0..255, which equals the clamp for every 32-bit x.
// Chroma terms are formed once per block with pmaddwd on (u, v) pairs and shared by the block's
// four pixels. The 16-bit formula is exact in 16-bit lanes: (256*y + t) >> 8 == y + (t >> 8).

constexpr int32_t pairCoef(int cu, int cv)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(cu)) |
                                (static_cast<uint32_t>(static_cast<uint16_t>(cv)) << 16));
}

inline uint32_t load32(const uint8_t* p)
{
    uint32_t x;
    std::memcpy(&x, p, 4);
    return x;
}

// SSE2: 8 pixels (4 blocks) of both rows per step.
void tableRowSse2(const BlockRow& b, int cw, int bpp)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i kY = _mm_set1_epi16(kLuma);
    const __m128i kB = _mm_set1_epi32(pairCoef(kUBlue, 0));
    const __m128i kG = _mm_set1_epi32(pairCoef(-kUGreen, -kVGreen));
    const __m128i kR = _mm_set1_epi32(pairCoef(0, kVRed));
    const __m128i biasB = _mm_set1_epi32(kBlueBias);
    const __m128i biasG = _mm_set1_epi32(kGreenBias);
    const __m128i biasR = _mm_set1_epi32(kRedBias);
    const __m128i alpha = _mm_set1_epi16(255);

    int j = 0;
    for (; j + 4 <= cw; j += 4) {
        const __m128i u4 = _mm_cvtsi32_si128(static_cast<int>(load32(b.ur + j)));
        const __m128i v4 = _mm_cvtsi32_si128(static_cast<int>(load32(b.vr + j)));
        const __m128i uv = _mm_unpacklo_epi8(_mm_unpacklo_epi8(u4, v4), zero);   // u0 v0 .. u3 v3
        const __m128i cb = _mm_add_epi32(_mm_madd_epi16(uv, kB), biasB);
        const __m128i cg = _mm_add_epi32(_mm_madd_epi16(uv, kG), biasG);
        const __m128i cr = _mm_add_epi32(_mm_madd_epi16(uv, kR), biasR);
        const __m128i cb0 = _mm_unpacklo_epi32(cb, cb), cb1 = _mm_unpackhi_epi32(cb, cb);
        const __m128i cg0 = _mm_unpacklo_epi32(cg, cg), cg1 = _mm_unpackhi_epi32(cg, cg);
        const __m128i cr0 = _mm_unpacklo_epi32(cr, cr), cr1 = _mm_unpackhi_epi32(cr, cr);
        for (int row = 0; row < 2; ++row) {
            const uint8_t* ys = (row ? b.yb : b.ya) + 2 * j;
            uint8_t* o = (row ? b.ob : b.oa) + 2 * j * bpp;
            const __m128i y16 =
                _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(ys)), zero);
            const __m128i lo = _mm_mullo_epi16(y16, kY);
            const __m128i hi = _mm_mulhi_epu16(y16, kY);
            const __m128i l0 = _mm_unpacklo_epi16(lo, hi);   // pixels 0-3
            const __m128i l1 = _mm_unpackhi_epi16(lo, hi);   // pixels 4-7
            const __m128i bl = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(l0, cb0), 13),
                                               _mm_srai_epi32(_mm_add_epi32(l1, cb1), 13));
            const __m128i gr = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(l0, cg0), 13),
                                               _mm_srai_epi32(_mm_add_epi32(l1, cg1), 13));
            const __m128i rd = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(l0, cr0), 13),
                                               _mm_srai_epi32(_mm_add_epi32(l1, cr1), 13));
            const __m128i br = _mm_packus_epi16(bl, rd);      // B0-7 R0-7
            const __m128i ga = _mm_packus_epi16(gr, alpha);   // G0-7 255
            const __m128i bg = _mm_unpacklo_epi8(br, ga);     // B G pairs
            const __m128i ra = _mm_unpackhi_epi8(br, ga);     // R A pairs
            const __m128i p0 = _mm_unpacklo_epi16(bg, ra);    // BGRA pixels 0-3
            const __m128i p1 = _mm_unpackhi_epi16(bg, ra);    // BGRA pixels 4-7
            if (bpp == 4) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o), p0);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), p1);
            } else {
                alignas(16) uint32_t px[8];
                _mm_store_si128(reinterpret_cast<__m128i*>(px), p0);
                _mm_store_si128(reinterpret_cast<__m128i*>(px + 4), p1);
                for (int i = 0; i < 8; i += 4) {
                    const uint32_t w0 = (px[i] & 0xFFFFFFu) | (px[i + 1] << 24);
                    const uint32_t w1 = ((px[i + 1] >> 8) & 0xFFFFu) | (px[i + 2] << 16);
                    const uint32_t w2 = ((px[i + 2] >> 16) & 0xFFu) | (px[i + 3] << 8);
                    std::memcpy(o + 3 * i, &w0, 4);
                    std::memcpy(o + 3 * i + 4, &w1, 4);
                    std::memcpy(o + 3 * i + 8, &w2, 4);
                }
            }
        }
    }
    tableRowScalar(b.ya, b.yb, b.ur, b.vr, b.oa, b.ob, j, cw, bpp);
}

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

inline __m128i pixels565Sse2(__m128i y16, __m128i tr, __m128i tg, __m128i tb)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i c255 = _mm_set1_epi16(255);
    const __m128i r = _mm_min_epi16(_mm_max_epi16(_mm_add_epi16(y16, tr), zero), c255);
    const __m128i g = _mm_min_epi16(_mm_max_epi16(_mm_add_epi16(y16, tg), zero), c255);
    const __m128i b = _mm_min_epi16(_mm_max_epi16(_mm_add_epi16(y16, tb), zero), c255);
    return _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(r, _mm_set1_epi16(0xF8)), 8),
                                     _mm_slli_epi16(_mm_and_si128(g, _mm_set1_epi16(0xFC)), 3)),
                        _mm_srli_epi16(b, 3));
}

// SSE2 16-bit: rows r and r+1 (when present) share one chroma row; 16 pixels per step.
void rows565Sse2(const Src& s, int w, int h, uint8_t* out, int r)
{
    const int cw = w / 2;
    const int ch = h / 2;
    const int rows = (r + 1 < h) ? 2 : 1;
    int c = 0;
    if (ch > 0) {
        const size_t crow = static_cast<size_t>(std::min(r / 2, ch - 1));
        const uint8_t* ur = s.u + crow * s.uStride;
        const uint8_t* vr = s.v + crow * s.vStride;
        const __m128i zero = _mm_setzero_si128();
        for (; c + 16 <= 2 * cw; c += 16) {
            const Terms565 t =
                terms565Sse2(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(ur + c / 2)),
                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(vr + c / 2)));
            const __m128i tr0 = _mm_unpacklo_epi16(t.r, t.r), tr1 = _mm_unpackhi_epi16(t.r, t.r);
            const __m128i tg0 = _mm_unpacklo_epi16(t.g, t.g), tg1 = _mm_unpackhi_epi16(t.g, t.g);
            const __m128i tb0 = _mm_unpacklo_epi16(t.b, t.b), tb1 = _mm_unpackhi_epi16(t.b, t.b);
            for (int i = 0; i < rows; ++i) {
                const uint8_t* ys = s.y + static_cast<size_t>(r + i) * s.yStride + c;
                uint8_t* o = out + (static_cast<size_t>(r + i) * w + c) * 2;
                const __m128i y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ys));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                                 pixels565Sse2(_mm_unpacklo_epi8(y8, zero), tr0, tg0, tb0));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16),
                                 pixels565Sse2(_mm_unpackhi_epi8(y8, zero), tr1, tg1, tb1));
            }
        }
    }
    for (int i = 0; i < rows; ++i)
        row565Scalar(s.y + static_cast<size_t>(r + i) * s.yStride, s, cw, ch, r + i,
                     out + static_cast<size_t>(r + i) * w * 2, c, w);
}

void convertSse2(const Src& s, int w, int h, uint8_t* out, int bpp)
{
    if (bpp == 2) {
        for (int r = 0; r < h; r += 2)
            rows565Sse2(s, w, h, out, r);
        return;
    }
    for (int k = 0; k < h / 2; ++k)
        tableRowSse2(blockRow(s, w, h, out, bpp, k), w / 2, bpp);
}

// AVX2: 16 pixels (8 blocks) of both rows per step.
__attribute__((target("avx2"))) void tableRowAvx2(const BlockRow& b, int from, int cw, int bpp)
{
    const __m256i kY = _mm256_set1_epi16(kLuma);
    const __m256i kB = _mm256_set1_epi32(pairCoef(kUBlue, 0));
    const __m256i kG = _mm256_set1_epi32(pairCoef(-kUGreen, -kVGreen));
    const __m256i kR = _mm256_set1_epi32(pairCoef(0, kVRed));
    const __m256i biasB = _mm256_set1_epi32(kBlueBias);
    const __m256i biasG = _mm256_set1_epi32(kGreenBias);
    const __m256i biasR = _mm256_set1_epi32(kRedBias);
    const __m256i alpha = _mm256_set1_epi16(255);
    // BGRA x4 -> BGR x4 in the low 12 bytes of each 128-bit lane.
    const __m256i toBgr = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                           0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    // The 24-bit stores spill 4 bytes past the step's last pixel; those bytes belong to the
    // next block, so the vector loop stops while at least one more block follows.
    const int last = (bpp == 4) ? cw : cw - 1;

    int j = from;
    for (; j + 8 <= last; j += 8) {
        const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b.ur + j));
        const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b.vr + j));
        const __m256i uv = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(u8, v8));   // blocks 0-3 | 4-7
        const __m256i cb = _mm256_add_epi32(_mm256_madd_epi16(uv, kB), biasB);
        const __m256i cg = _mm256_add_epi32(_mm256_madd_epi16(uv, kG), biasG);
        const __m256i cr = _mm256_add_epi32(_mm256_madd_epi16(uv, kR), biasR);
        // Chroma per pixel, in the lane order of the luma products: (0-3 | 8-11), (4-7 | 12-15).
        const __m256i cb0 = _mm256_unpacklo_epi32(cb, cb), cb1 = _mm256_unpackhi_epi32(cb, cb);
        const __m256i cg0 = _mm256_unpacklo_epi32(cg, cg), cg1 = _mm256_unpackhi_epi32(cg, cg);
        const __m256i cr0 = _mm256_unpacklo_epi32(cr, cr), cr1 = _mm256_unpackhi_epi32(cr, cr);
        _mm_prefetch(reinterpret_cast<const char*>(b.nextYa + 2 * j), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(b.nextYb + 2 * j), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(b.nextU + j), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(b.nextV + j), _MM_HINT_T0);
        for (int row = 0; row < 2; ++row) {
            const uint8_t* ys = (row ? b.yb : b.ya) + 2 * j;
            uint8_t* o = (row ? b.ob : b.oa) + 2 * j * bpp;
            const __m256i y16 =
                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ys)));
            const __m256i lo = _mm256_mullo_epi16(y16, kY);
            const __m256i hi = _mm256_mulhi_epu16(y16, kY);
            const __m256i l0 = _mm256_unpacklo_epi16(lo, hi);   // pixels 0-3 | 8-11
            const __m256i l1 = _mm256_unpackhi_epi16(lo, hi);   // pixels 4-7 | 12-15
            // packs joins the halves back into pixel order 0-7 | 8-15.
            const __m256i bl = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(l0, cb0), 13),
                                                  _mm256_srai_epi32(_mm256_add_epi32(l1, cb1), 13));
            const __m256i gr = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(l0, cg0), 13),
                                                  _mm256_srai_epi32(_mm256_add_epi32(l1, cg1), 13));
            const __m256i rd = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(l0, cr0), 13),
                                                  _mm256_srai_epi32(_mm256_add_epi32(l1, cr1), 13));
            const __m256i br = _mm256_packus_epi16(bl, rd);      // B0-7 R0-7 | B8-15 R8-15
            const __m256i ga = _mm256_packus_epi16(gr, alpha);   // G0-7 255  | G8-15 255
            const __m256i bg = _mm256_unpacklo_epi8(br, ga);
            const __m256i ra = _mm256_unpackhi_epi8(br, ga);
            const __m256i p0 = _mm256_unpacklo_epi16(bg, ra);   // BGRA pixels 0-3 | 8-11
            const __m256i p1 = _mm256_unpackhi_epi16(bg, ra);   // BGRA pixels 4-7 | 12-15
            if (bpp == 4) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(o),
                                    _mm256_permute2x128_si256(p0, p1, 0x20));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 32),
                                    _mm256_permute2x128_si256(p0, p1, 0x31));
            } else {
                const __m256i q0 = _mm256_shuffle_epi8(p0, toBgr);
                const __m256i q1 = _mm256_shuffle_epi8(p1, toBgr);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(q0));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 12), _mm256_castsi256_si128(q1));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 24),
                                 _mm256_extracti128_si256(q0, 1));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 36),
                                 _mm256_extracti128_si256(q1, 1));
            }
        }
    }
    tableRowScalar(b.ya, b.yb, b.ur, b.vr, b.oa, b.ob, j, cw, bpp);
}

__attribute__((target("avx2"))) inline __m256i pixels565Avx2(__m256i y16, __m256i tr, __m256i tg,
                                                             __m256i tb)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i c255 = _mm256_set1_epi16(255);
    const __m256i r = _mm256_min_epi16(_mm256_max_epi16(_mm256_add_epi16(y16, tr), zero), c255);
    const __m256i g = _mm256_min_epi16(_mm256_max_epi16(_mm256_add_epi16(y16, tg), zero), c255);
    const __m256i b = _mm256_min_epi16(_mm256_max_epi16(_mm256_add_epi16(y16, tb), zero), c255);
    return _mm256_or_si256(
        _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(r, _mm256_set1_epi16(0xF8)), 8),
                        _mm256_slli_epi16(_mm256_and_si256(g, _mm256_set1_epi16(0xFC)), 3)),
        _mm256_srli_epi16(b, 3));
}

__attribute__((target("avx2"))) void rows565Avx2(const Src& s, int w, int h, uint8_t* out, int r)
{
    const int cw = w / 2;
    const int ch = h / 2;
    const int rows = (r + 1 < h) ? 2 : 1;
    int c = 0;
    if (ch > 0) {
        const size_t crow = static_cast<size_t>(std::min(r / 2, ch - 1));
        const uint8_t* ur = s.u + crow * s.uStride;
        const uint8_t* vr = s.v + crow * s.vStride;
        for (; c + 16 <= 2 * cw; c += 16) {
            const Terms565 t =
                terms565Sse2(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(ur + c / 2)),
                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(vr + c / 2)));
            const __m256i tr =
                _mm256_set_m128i(_mm_unpackhi_epi16(t.r, t.r), _mm_unpacklo_epi16(t.r, t.r));
            const __m256i tg =
                _mm256_set_m128i(_mm_unpackhi_epi16(t.g, t.g), _mm_unpacklo_epi16(t.g, t.g));
            const __m256i tb =
                _mm256_set_m128i(_mm_unpackhi_epi16(t.b, t.b), _mm_unpacklo_epi16(t.b, t.b));
            for (int i = 0; i < rows; ++i) {
                const uint8_t* ys = s.y + static_cast<size_t>(r + i) * s.yStride + c;
                uint8_t* o = out + (static_cast<size_t>(r + i) * w + c) * 2;
                const __m256i y16 =
                    _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ys)));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), pixels565Avx2(y16, tr, tg, tb));
            }
        }
    }
    for (int i = 0; i < rows; ++i)
        row565Scalar(s.y + static_cast<size_t>(r + i) * s.yStride, s, cw, ch, r + i,
                     out + static_cast<size_t>(r + i) * w * 2, c, w);
}

#define KEVRA_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

// A large 32-bit picture is written with streaming stores: it seldom stays in the caches
// anyway, and bypassing them saves reading every output line before it is overwritten. They
// need rows aligned to the vector size; the fence after them orders them before the caller
// publishes the picture (the converted count is raised after convert returns).
inline bool streamsOutput(const uint8_t* out, int w, int h, int bpp, int align)
{
    return bpp == 4 && size_t(w) * h * 4 >= (size_t(4) << 20) &&
           (reinterpret_cast<uintptr_t>(out) % align) == 0 && (w * 4) % align == 0;
}

// AVX2, exact in 16-bit lanes: 32 pixels (16 blocks) of both rows per step.
// The luma product and the chroma sum (bias included) are each split at the binary point:
//   9535*y = 8192*lh + ll,  chroma = 8192*ch + cl,  0 <= ll, cl < 8192
// so (9535*y + chroma) >> 13 = lh + ch + (ll + cl >= 8192), and the carry is the compare
// ll > 8191 - cl. Even and odd pixels of a row sit in the low and high bytes of 16-bit lanes,
// one lane per block, so the block's chroma needs no spreading over its pixels.
struct ChromaSplit {
    __m256i hi, limit;   // ch and 8191 - cl of 16 blocks, in 16-bit lanes
};

KEVRA_AVX2_INLINE ChromaSplit splitChroma(__m256i uvLo, __m256i uvHi, int32_t pair, int32_t bias)
{
    const __m256i k = _mm256_set1_epi32(pair);
    const __m256i b = _mm256_set1_epi32(bias);
    const __m256i frac = _mm256_set1_epi32(8191);
    const __m256i c0 = _mm256_add_epi32(_mm256_madd_epi16(uvLo, k), b);
    const __m256i c1 = _mm256_add_epi32(_mm256_madd_epi16(uvHi, k), b);
    return {_mm256_packs_epi32(_mm256_srai_epi32(c0, 13), _mm256_srai_epi32(c1, 13)),
            _mm256_packs_epi32(_mm256_andnot_si256(c0, frac), _mm256_andnot_si256(c1, frac))};
}

// Channel values (not yet saturated) of 16 pixels of one parity.
KEVRA_AVX2_INLINE __m256i channel16(__m256i lh, __m256i ll, const ChromaSplit& c)
{
    return _mm256_sub_epi16(_mm256_add_epi16(lh, c.hi), _mm256_cmpgt_epi16(ll, c.limit));
}

// 3-way byte interleave masks: output byte k of 48 is channel k % 3 of pixel k / 3, taken from
// a register holding that channel's even pixels in bytes 0-7 and odd pixels in bytes 8-15.
struct BgrMasks {
    int8_t m[3][3][16];   // [output part][channel][byte]
};

constexpr BgrMasks makeBgrMasks()
{
    BgrMasks t{};
    for (int part = 0; part < 3; ++part)
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < 16; ++i) {
                const int k = part * 16 + i;
                const int px = k / 3;
                t.m[part][c][i] = static_cast<int8_t>(k % 3 == c ? (px % 2) * 8 + px / 2 : -128);
            }
    return t;
}

constexpr BgrMasks kBgrMasks = makeBgrMasks();

template <bool Stream>
KEVRA_AVX2_INLINE void store32(uint8_t* o, __m256i x)
{
    if (Stream)
        _mm256_stream_si256(reinterpret_cast<__m256i*>(o), x);
    else
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), x);
}

// One step: blocks j .. j+15 of a block row.
template <int Bpp, bool Stream = false>
KEVRA_AVX2_INLINE void tableStepAvx2(const BlockRow& b, int j, const __m256i (&bgr)[3][3])
{
    // 32 bits: 128-bit lane 0 takes pixels 0-3, 8-11, 16-19, 24-27 and lane 1 the groups
    // between, so that the interleaved output comes out in memory order (one permute per
    // row instead of four). 24 bits keep pixels 0-15 | 16-31.
    const __m256i order = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    __m256i u16, v16;
    if (Bpp == 4) {
        // The chroma in the same order, widened by one byte shuffle of both halves: lane 0
        // takes blocks 0-1, 4-5, 8-9, 12-13 and lane 1 the pairs between.
        const __m256i spread =
            _mm256_setr_epi8(0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1, 2, -1, 3, -1,
                             6, -1, 7, -1, 10, -1, 11, -1, 14, -1, 15, -1);
        u16 = _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.ur + j))),
                                  spread);
        v16 = _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.vr + j))),
                                  spread);
    } else {
        u16 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b.ur + j)));
        v16 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b.vr + j)));
    }
    const __m256i f13 = _mm256_set1_epi16(0x1FFF);
    // Blue: 16531*u + kBlueBias = 8192*(2u - 277) + (147u + 656), the second part 656..38141.
    const __m256i sb =
        _mm256_add_epi16(_mm256_mullo_epi16(u16, _mm256_set1_epi16(147)), _mm256_set1_epi16(656));
    const ChromaSplit cb{
        _mm256_add_epi16(_mm256_add_epi16(u16, u16),
                         _mm256_add_epi16(_mm256_srli_epi16(sb, 13), _mm256_set1_epi16(-277))),
        _mm256_andnot_si256(sb, f13)};
    // Red: 13074*v = 8192*q + r (q from the high half of 8v * 13074, r its low 13 bits), and
    // kRedBias = 8192*(-223) + 784, so the sum is 8192*(q - 223) + (r + 784), r + 784 < 8976.
    const __m256i sr =
        _mm256_add_epi16(_mm256_and_si256(_mm256_mullo_epi16(v16, _mm256_set1_epi16(kVRed)), f13),
                         _mm256_set1_epi16(784));
    const ChromaSplit cr{
        _mm256_add_epi16(_mm256_mulhi_epu16(_mm256_slli_epi16(v16, 3), _mm256_set1_epi16(kVRed)),
                         _mm256_add_epi16(_mm256_srli_epi16(sr, 13), _mm256_set1_epi16(-223))),
        _mm256_andnot_si256(sr, f13)};
    static_assert(kBlueBias == 8192 * -277 + 656 && kUBlue == 2 * 8192 + 147 &&
                      kRedBias == 8192 * -223 + 784,
                  "the split constants of blue and red");
    // Green has two products: 32-bit sums of (u, v) pairs, split and packed to 16 bits.
    const ChromaSplit cg =
        splitChroma(_mm256_unpacklo_epi16(u16, v16), _mm256_unpackhi_epi16(u16, v16),
                    pairCoef(-kUGreen, -kVGreen), kGreenBias);
    _mm_prefetch(reinterpret_cast<const char*>(b.nextYa + 2 * j), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(b.nextYb + 2 * j), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(b.nextU + j), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(b.nextV + j), _MM_HINT_T0);

    const __m256i kY = _mm256_set1_epi16(kLuma);
    const __m256i even8 = _mm256_set1_epi16(0x0008), odd8 = _mm256_set1_epi16(0x0800);
    for (int row = 0; row < 2; ++row) {
        const uint8_t* ys = (row ? b.yb : b.ya) + 2 * j;
        uint8_t* o = (row ? b.ob : b.oa) + 2 * j * Bpp;
        __m256i yy = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ys));
        if (Bpp == 4)
            yy = _mm256_permutevar8x32_epi32(yy, order);
        // 8*y of the even and the odd pixels (a byte multiply-add with weights 8, 0 and 0, 8):
        // the high half of 8y * 9535 is 9535*y >> 13, the low half 8*ll.
        const __m256i ye8 = _mm256_maddubs_epi16(yy, even8), yo8 = _mm256_maddubs_epi16(yy, odd8);
        const __m256i lhE = _mm256_mulhi_epu16(ye8, kY),
                      llE = _mm256_srli_epi16(_mm256_mullo_epi16(ye8, kY), 3);
        const __m256i lhO = _mm256_mulhi_epu16(yo8, kY),
                      llO = _mm256_srli_epi16(_mm256_mullo_epi16(yo8, kY), 3);
        // Saturated bytes; per 128-bit lane: the lane's 8 even pixels, then its 8 odd ones.
        const __m256i bb = _mm256_packus_epi16(channel16(lhE, llE, cb), channel16(lhO, llO, cb));
        const __m256i gg = _mm256_packus_epi16(channel16(lhE, llE, cg), channel16(lhO, llO, cg));
        const __m256i rr = _mm256_packus_epi16(channel16(lhE, llE, cr), channel16(lhO, llO, cr));
        if (Bpp == 4) {
            // Each channel into pixel order within its lane, then B G and R A pairs, then BGRA.
            const __m256i toOrder =
                _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 0, 8, 1, 9,
                                 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
            const __m256i bl = _mm256_shuffle_epi8(bb, toOrder),
                          gr = _mm256_shuffle_epi8(gg, toOrder);
            const __m256i rd = _mm256_shuffle_epi8(rr, toOrder), alpha = _mm256_set1_epi8(-1);
            const __m256i bg0 = _mm256_unpacklo_epi8(bl, gr), bg1 = _mm256_unpackhi_epi8(bl, gr);
            const __m256i ra0 = _mm256_unpacklo_epi8(rd, alpha),
                          ra1 = _mm256_unpackhi_epi8(rd, alpha);
            store32<Stream>(o, _mm256_unpacklo_epi16(bg0, ra0));        // pixels 0-7
            store32<Stream>(o + 32, _mm256_unpackhi_epi16(bg0, ra0));   // 8-15
            store32<Stream>(o + 64, _mm256_unpacklo_epi16(bg1, ra1));   // 16-23
            store32<Stream>(o + 96, _mm256_unpackhi_epi16(bg1, ra1));   // 24-31
        } else {
            for (int part = 0; part < 3; ++part) {
                const __m256i q =
                    _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(bb, bgr[part][0]),
                                                    _mm256_shuffle_epi8(gg, bgr[part][1])),
                                    _mm256_shuffle_epi8(rr, bgr[part][2]));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16 * part),
                                 _mm256_castsi256_si128(q));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 48 + 16 * part),
                                 _mm256_extracti128_si256(q, 1));
            }
        }
    }
}

// Whole block rows of at least 16 blocks; Stream needs 32-byte aligned 32-bit rows.
template <int Bpp, bool Stream = false>
__attribute__((target("avx2"))) void tableRowAvx2Wide(const BlockRow& b, int cw)
{
    __m256i bgr[3][3];
    for (int part = 0; part < 3; ++part)
        for (int c = 0; c < 3; ++c)
            bgr[part][c] = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(kBgrMasks.m[part][c])));
    int j = 0;
    for (; j + 16 <= cw; j += 16)
        tableStepAvx2<Bpp, Stream>(b, j, bgr);
    // The last step overlaps the one before it: it rewrites the same values.
    if (j < cw)
        tableStepAvx2<Bpp>(b, cw - 16, bgr);
}

// 16-bit formula, exact in unsigned saturating bytes: (256*y + t) >> 8 = y + (t >> 8), and
// with the term split into its positive and negative parts (each 0..227) the saturated
// y + pos - neg is the clamped sum. 32 pixels of both rows per step.
KEVRA_AVX2_INLINE __m256i dupBytes(__m256i t16)
{
    return _mm256_mullo_epi16(t16, _mm256_set1_epi16(0x0101));
}

KEVRA_AVX2_INLINE void rows565StepAvx2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u,
                                       const uint8_t* v, uint8_t* o0, uint8_t* o1)
{
    const __m256i c128 = _mm256_set1_epi16(128);
    const __m256i du = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u))), c128);
    const __m256i dv = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v))), c128);
    const __m256i kG = _mm256_set1_epi32(pairCoef(-88, -183));
    const __m256i tr = _mm256_mulhi_epi16(_mm256_slli_epi16(dv, 8), _mm256_set1_epi16(359));
    const __m256i tb = _mm256_mulhi_epi16(_mm256_slli_epi16(du, 8), _mm256_set1_epi16(454));
    const __m256i tg = _mm256_packs_epi32(
        _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(du, dv), kG), 8),
        _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(du, dv), kG), 8));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i rPos = _mm256_max_epi16(tr, zero), gPos = _mm256_max_epi16(tg, zero),
                  bPos = _mm256_max_epi16(tb, zero);
    const __m256i rp = dupBytes(rPos), rn = dupBytes(_mm256_sub_epi16(rPos, tr));
    const __m256i gp = dupBytes(gPos), gn = dupBytes(_mm256_sub_epi16(gPos, tg));
    const __m256i bp = dupBytes(bPos), bn = dupBytes(_mm256_sub_epi16(bPos, tb));
    const __m256i m1F = _mm256_set1_epi8(0x1F), mE0 = _mm256_set1_epi8(static_cast<char>(0xE0));
    const __m256i mF8 = _mm256_set1_epi8(static_cast<char>(0xF8)), m07 = _mm256_set1_epi8(0x07);
    for (int row = 0; row < 2; ++row) {
        const __m256i yy = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row ? y1 : y0));
        const __m256i r = _mm256_subs_epu8(_mm256_adds_epu8(yy, rp), rn);
        const __m256i g = _mm256_subs_epu8(_mm256_adds_epu8(yy, gp), gn);
        const __m256i bl = _mm256_subs_epu8(_mm256_adds_epu8(yy, bp), bn);
        // Low byte: ggg bbbbb; high byte: rrrrr ggg (shifts of 16-bit lanes, bits from the
        // neighbouring byte masked off).
        const __m256i lo = _mm256_or_si256(_mm256_and_si256(_mm256_slli_epi16(g, 3), mE0),
                                           _mm256_and_si256(_mm256_srli_epi16(bl, 3), m1F));
        const __m256i hi = _mm256_or_si256(_mm256_and_si256(r, mF8),
                                           _mm256_and_si256(_mm256_srli_epi16(g, 5), m07));
        const __m256i w0 = _mm256_unpacklo_epi8(lo, hi);   // pixels 0-7  | 16-23
        const __m256i w1 = _mm256_unpackhi_epi8(lo, hi);   // pixels 8-15 | 24-31
        uint8_t* o = row ? o1 : o0;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), _mm256_permute2x128_si256(w0, w1, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 32),
                            _mm256_permute2x128_si256(w0, w1, 0x31));
        if (y1 == y0)
            break;
    }
}

// Rows r and r + 1 (only r when it is the last) of the 16-bit output.
__attribute__((target("avx2"))) void rows565Avx2Wide(const Src& s, int w, int h, uint8_t* out,
                                                     int r)
{
    const int cw = w / 2;
    const int ch = h / 2;
    if (ch <= 0 || cw < 16) {
        rows565Avx2(s, w, h, out, r);
        return;
    }
    const size_t crow = static_cast<size_t>(std::min(r / 2, ch - 1));
    const uint8_t* ur = s.u + crow * s.uStride;
    const uint8_t* vr = s.v + crow * s.vStride;
    const uint8_t* y0 = s.y + static_cast<size_t>(r) * s.yStride;
    const uint8_t* y1 = r + 1 < h ? y0 + s.yStride : y0;
    uint8_t* o0 = out + static_cast<size_t>(r) * w * 2;
    uint8_t* o1 = r + 1 < h ? o0 + static_cast<size_t>(w) * 2 : o0;
    int j = 0;
    for (; j + 16 <= cw; j += 16)
        rows565StepAvx2(y0 + 2 * j, y1 + 2 * j, ur + j, vr + j, o0 + 4 * j, o1 + 4 * j);
    if (j < cw) {
        j = cw - 16;   // overlaps the step before: the same values again
        rows565StepAvx2(y0 + 2 * j, y1 + 2 * j, ur + j, vr + j, o0 + 4 * j, o1 + 4 * j);
    }
    // An odd width leaves one pixel per row outside the blocks.
    const int rows = y1 == y0 ? 1 : 2;
    for (int i = 0; i < rows; ++i)
        row565Scalar(s.y + static_cast<size_t>(r + i) * s.yStride, s, cw, ch, r + i,
                     out + static_cast<size_t>(r + i) * w * 2, 2 * cw, w);
}

__attribute__((target("avx2"))) void convertAvx2(const Src& s, int w, int h, uint8_t* out, int bpp)
{
    if (bpp == 2) {
        for (int r = 0; r < h; r += 2)
            rows565Avx2Wide(s, w, h, out, r);
        return;
    }
    const int cw = w / 2;
    const bool stream = streamsOutput(out, w, h, bpp, 32);
    for (int k = 0; k < h / 2; ++k) {
        const BlockRow b = blockRow(s, w, h, out, bpp, k);
        if (cw < 16)
            tableRowAvx2(b, 0, cw, bpp);
        else if (bpp == 3)
            tableRowAvx2Wide<3>(b, cw);
        else if (stream)
            tableRowAvx2Wide<4, true>(b, cw);
        else
            tableRowAvx2Wide<4>(b, cw);
    }
    if (stream)
        _mm_sfence();
}

// AVX-512 (BW and VBMI): 64 pixels (32 blocks) of both rows per step, exact in 32-bit lanes
// with no shift and no compare. Every product and constant is taken eight times, so that
//   8 * (9535*y + chroma)      (chroma: the block's products and all of the channel's constants)
// holds the channel value (9535*y + chroma) >> 13 in its high 16 bits and the fraction in its
// low 16 bits. Luma is a multiply-add of the 16-bit 8y with (9535, 0) or (0, 9535): the sums of
// the even and of the odd blocks; chroma a multiply-add of the pairs (8u, 8v) with the channel's
// coefficients, plus its bias. A channel is then one 32-bit add, and the unsigned-saturating
// 16-bit pack of two sums leaves the clamped values in its odd bytes. The byte permutes of
// VBMI, which pick any of 128 bytes from two registers, gather them in pixel order and
// interleave the channels. (The AVX2 step splits at the binary point instead. Without byte
// permutes, 32-bit sums need a shift, a word blend and a pack per channel and pixel pair before
// the unpacks; such an AVX2 step, exact with 52 vector operations per 32 pixels against the
// split's 56, measured no faster on Zen 4, so the split stays.)
constexpr int32_t kChannelBias[3] = {8 * kBlueBias, 8 * kGreenBias, 8 * kRedBias};
constexpr int32_t kChannelPair[3] = {pairCoef(kUBlue, 0), pairCoef(-kUGreen, -kVGreen),
                                     pairCoef(0, kVRed)};

#define KEVRA_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi,avx2")))
// GCC 12's AVX-512 headers start some intrinsics from an "undefined" register value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define KEVRA_AVX512_INLINE                                                                        \
    __attribute__((target("avx512f,avx512bw,avx512vbmi,avx2"), always_inline)) inline

// Byte positions in a step's registers.
//   Pair bytes: (u, 0, v, 0) of block 2i (first) or 2i+1 (second) in 32-bit lane i, taken from
//     32 u bytes followed by 32 zero bytes, and 32 v bytes (the second table).
//   Packed sums: per 128-bit lane L, byte 2k+1 holds block 8L+2k, byte 8+2k+1 block 8L+2k+1
//     (the even pixels' sums packed in one register, the odd pixels' in another); the merge
//     takes pixel p from there into byte p.
//   32 bits: blue-green (or red-alpha) byte pairs for pixels 0-31 and 32-63, arranged so that
//     the 16-bit unpacks of each 128-bit lane give 4 pixels in memory order.
//   24 bits: per output part (64 bytes), blue and green bytes from the first two channel
//     registers, and the red bytes, which the mask marks, from the third.
constexpr int packedByte(int block)
{
    return 16 * (block / 8) + 8 * (block % 2) + (block % 8) / 2 * 2 + 1;
}

struct PermuteTables {
    int8_t chroma[2][64];
    int8_t merge[64];
    int8_t pairs[2][64];
    int8_t bg[3][64];
    int8_t red[3][64];
    uint64_t redMask[3];
};

constexpr PermuteTables makePermuteTables()
{
    PermuteTables t{};
    for (int half = 0; half < 2; ++half)
        for (int i = 0; i < 16; ++i) {
            const int block = 2 * i + half;
            t.chroma[half][4 * i] = static_cast<int8_t>(block);
            t.chroma[half][4 * i + 1] = 32;
            t.chroma[half][4 * i + 2] = static_cast<int8_t>(64 + block);
            t.chroma[half][4 * i + 3] = 32;
        }
    for (int p = 0; p < 64; ++p)
        t.merge[p] = static_cast<int8_t>(packedByte(p / 2) + (p % 2 ? 64 : 0));
    for (int half = 0; half < 2; ++half)
        for (int w = 0; w < 32; ++w) {
            const int lane = w / 8, k = w % 8;
            const int p = 32 * half + (k < 4 ? 4 * lane + k : 16 + 4 * lane + k - 4);
            t.pairs[half][2 * w] = static_cast<int8_t>(p);
            t.pairs[half][2 * w + 1] = static_cast<int8_t>(64 + p);
        }
    for (int part = 0; part < 3; ++part) {
        t.redMask[part] = 0;
        for (int i = 0; i < 64; ++i) {
            const int g = 64 * part + i, p = g / 3, c = g % 3;
            t.bg[part][i] = static_cast<int8_t>(p + (c == 1 ? 64 : 0));
            t.red[part][i] = static_cast<int8_t>(p);
            if (c == 2)
                t.redMask[part] |= uint64_t(1) << i;
        }
    }
    return t;
}

constexpr PermuteTables kPermute = makePermuteTables();

template <bool Stream>
KEVRA_AVX512_INLINE void store64(uint8_t* o, __m512i x)
{
    if (Stream)
        _mm512_stream_si512(reinterpret_cast<__m512i*>(o), x);
    else
        _mm512_storeu_si512(o, x);
}

KEVRA_AVX512_INLINE __m512i loadTable(const int8_t* t)
{
    return _mm512_loadu_si512(t);
}

// One channel's bytes of 64 pixels in pixel order, from the sums described above.
KEVRA_AVX512_INLINE __m512i channelBytes512(const __m512i (&lumaE)[2], const __m512i (&lumaO)[2],
                                            const __m512i (&chroma)[2], __m512i merge)
{
    const __m512i e = _mm512_packus_epi16(_mm512_add_epi32(lumaE[0], chroma[0]),
                                          _mm512_add_epi32(lumaE[1], chroma[1]));
    const __m512i o = _mm512_packus_epi16(_mm512_add_epi32(lumaO[0], chroma[0]),
                                          _mm512_add_epi32(lumaO[1], chroma[1]));
    return _mm512_permutex2var_epi8(e, merge, o);
}

// One step: blocks j .. j+31 of a block row. The byte permutes put every byte in place, so
// neither the luma nor the chroma needs an arrangement of its own.
template <int Bpp, bool Stream>
KEVRA_AVX512_INLINE void tableStepAvx512(const BlockRow& b, int j)
{
    const __m512i uz =
        _mm512_zextsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b.ur + j)));
    const __m512i vz =
        _mm512_zextsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b.vr + j)));
    const __m512i pairs[2] = {
        _mm512_slli_epi16(_mm512_permutex2var_epi8(uz, loadTable(kPermute.chroma[0]), vz), 3),
        _mm512_slli_epi16(_mm512_permutex2var_epi8(uz, loadTable(kPermute.chroma[1]), vz), 3)};
    __m512i chroma[3][2];
    for (int c = 0; c < 3; ++c)
        for (int h = 0; h < 2; ++h)
            chroma[c][h] =
                _mm512_add_epi32(_mm512_madd_epi16(pairs[h], _mm512_set1_epi32(kChannelPair[c])),
                                 _mm512_set1_epi32(kChannelBias[c]));
    _mm_prefetch(reinterpret_cast<const char*>(b.nextYa + 2 * j), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(b.nextYb + 2 * j), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(b.nextU + j), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(b.nextV + j), _MM_HINT_T0);

    const __m512i kFirst = _mm512_set1_epi32(pairCoef(kLuma, 0));
    const __m512i kSecond = _mm512_set1_epi32(pairCoef(0, kLuma));
    const __m512i even8 = _mm512_set1_epi16(0x0008), odd8 = _mm512_set1_epi16(0x0800);
    const __m512i merge = loadTable(kPermute.merge);
    for (int row = 0; row < 2; ++row) {
        const uint8_t* ys = (row ? b.yb : b.ya) + 2 * j;
        uint8_t* o = (row ? b.ob : b.oa) + 2 * j * Bpp;
        const __m512i yy = _mm512_loadu_si512(ys);
        const __m512i ye8 = _mm512_maddubs_epi16(yy, even8), yo8 = _mm512_maddubs_epi16(yy, odd8);
        const __m512i lumaE[2] = {_mm512_madd_epi16(ye8, kFirst), _mm512_madd_epi16(ye8, kSecond)};
        const __m512i lumaO[2] = {_mm512_madd_epi16(yo8, kFirst), _mm512_madd_epi16(yo8, kSecond)};
        const __m512i bl = channelBytes512(lumaE, lumaO, chroma[0], merge);
        const __m512i gr = channelBytes512(lumaE, lumaO, chroma[1], merge);
        const __m512i rd = channelBytes512(lumaE, lumaO, chroma[2], merge);
        if (Bpp == 4) {
            const __m512i alpha = _mm512_set1_epi8(-1);
            const __m512i i0 = loadTable(kPermute.pairs[0]), i1 = loadTable(kPermute.pairs[1]);
            const __m512i bg0 = _mm512_permutex2var_epi8(bl, i0, gr),
                          bg1 = _mm512_permutex2var_epi8(bl, i1, gr);
            const __m512i ra0 = _mm512_permutex2var_epi8(rd, i0, alpha),
                          ra1 = _mm512_permutex2var_epi8(rd, i1, alpha);
            store64<Stream>(o, _mm512_unpacklo_epi16(bg0, ra0));         // pixels 0-15
            store64<Stream>(o + 64, _mm512_unpackhi_epi16(bg0, ra0));    // 16-31
            store64<Stream>(o + 128, _mm512_unpacklo_epi16(bg1, ra1));   // 32-47
            store64<Stream>(o + 192, _mm512_unpackhi_epi16(bg1, ra1));   // 48-63
        } else {
            for (int part = 0; part < 3; ++part) {
                const __m512i t = _mm512_permutex2var_epi8(bl, loadTable(kPermute.bg[part]), gr);
                _mm512_storeu_si512(
                    o + 64 * part, _mm512_mask_permutexvar_epi8(t, kPermute.redMask[part],
                                                                loadTable(kPermute.red[part]), rd));
            }
        }
    }
}

// Whole block rows of at least 32 blocks; Stream needs 64-byte aligned 32-bit rows.
template <int Bpp, bool Stream>
KEVRA_TARGET_AVX512 void tableRowAvx512Wide(const BlockRow& b, int cw)
{
    int j = 0;
    for (; j + 32 <= cw; j += 32)
        tableStepAvx512<Bpp, Stream>(b, j);
    if (j < cw)
        tableStepAvx512<Bpp, false>(b, cw - 32);   // overlaps the step before
}

KEVRA_TARGET_AVX512 void convertAvx512(const Src& s, int w, int h, uint8_t* out, int bpp)
{
    if (bpp == 2) {
        for (int r = 0; r < h; r += 2)
            rows565Avx2Wide(s, w, h, out, r);
        return;
    }
    const int cw = w / 2;
    if (cw < 32) {
        convertAvx2(s, w, h, out, bpp);
        return;
    }
    const bool stream = streamsOutput(out, w, h, bpp, 64);
    for (int k = 0; k < h / 2; ++k) {
        const BlockRow b = blockRow(s, w, h, out, bpp, k);
        if (bpp == 3)
            tableRowAvx512Wide<3, false>(b, cw);
        else if (stream)
            tableRowAvx512Wide<4, true>(b, cw);
        else
            tableRowAvx512Wide<4, false>(b, cw);
    }
    if (stream)
        _mm_sfence();
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif   // KEVRA_X86_SIMD

#ifdef KEVRA_NEON
// ---------------------------------------------------------------------------------------------
// NEON (64-bit ARM): the exact 16-bit-lane arithmetic of the x86 vector paths. vld2 splits a
// row into its even and odd pixels, one byte per block each, so a block's chroma serves both
// without spreading; the structured stores interleave the channels.

struct ChromaSplitNeon {
    int16x8_t hi[2], limit[2];   // blocks 0-7 and 8-15
};

inline int32x4_t chromaSum(int16x4_t u, int16x4_t v, int cu, int cv, int32_t bias)
{
    return vmlal_n_s16(vmlal_n_s16(vdupq_n_s32(bias), u, static_cast<int16_t>(cu)), v,
                       static_cast<int16_t>(cv));
}

inline ChromaSplitNeon splitChromaNeon(const int16x8_t (&u)[2], const int16x8_t (&v)[2], int cu,
                                       int cv, int32_t bias)
{
    const int32x4_t frac = vdupq_n_s32(8191);
    ChromaSplitNeon s;
    for (int h = 0; h < 2; ++h) {
        const int32x4_t lo = chromaSum(vget_low_s16(u[h]), vget_low_s16(v[h]), cu, cv, bias);
        const int32x4_t hi = chromaSum(vget_high_s16(u[h]), vget_high_s16(v[h]), cu, cv, bias);
        // The integer part fits 16 bits, so truncating after the shift keeps it whole.
        s.hi[h] = vcombine_s16(vshrn_n_s32(lo, 13), vshrn_n_s32(hi, 13));
        s.limit[h] = vcombine_s16(vmovn_s32(vbicq_s32(frac, lo)), vmovn_s32(vbicq_s32(frac, hi)));
    }
    return s;
}

// 16 pixels of one parity: saturated channel bytes.
inline uint8x16_t channelNeon(const int16x8_t (&lh)[2], const int16x8_t (&ll)[2],
                              const ChromaSplitNeon& c)
{
    int16x8_t x[2];
    for (int h = 0; h < 2; ++h)
        x[h] = vsubq_s16(vaddq_s16(lh[h], c.hi[h]),
                         vreinterpretq_s16_u16(vcgtq_s16(ll[h], c.limit[h])));
    return vcombine_u8(vqmovun_s16(x[0]), vqmovun_s16(x[1]));
}

inline void lumaSplitNeon(uint8x16_t y, int16x8_t (&lh)[2], int16x8_t (&ll)[2])
{
    const uint16x8_t w[2] = {vmovl_u8(vget_low_u8(y)), vmovl_u8(vget_high_u8(y))};
    for (int h = 0; h < 2; ++h) {
        // (2 * 4y * 9535) >> 16 = 9535*y >> 13; the low 13 bits of the 16-bit product are ll.
        lh[h] = vqdmulhq_n_s16(vreinterpretq_s16_u16(vshlq_n_u16(w[h], 2)), kLuma);
        ll[h] = vreinterpretq_s16_u16(vandq_u16(vmulq_n_u16(w[h], kLuma), vdupq_n_u16(0x1FFF)));
    }
}

void tableStepNeon(const BlockRow& b, int j, int bpp)
{
    const uint8x16_t u8 = vld1q_u8(b.ur + j), v8 = vld1q_u8(b.vr + j);
    const int16x8_t u[2] = {vreinterpretq_s16_u16(vmovl_u8(vget_low_u8(u8))),
                            vreinterpretq_s16_u16(vmovl_u8(vget_high_u8(u8)))};
    const int16x8_t v[2] = {vreinterpretq_s16_u16(vmovl_u8(vget_low_u8(v8))),
                            vreinterpretq_s16_u16(vmovl_u8(vget_high_u8(v8)))};
    const ChromaSplitNeon cb = splitChromaNeon(u, v, kUBlue, 0, kBlueBias);
    const ChromaSplitNeon cg = splitChromaNeon(u, v, -kUGreen, -kVGreen, kGreenBias);
    const ChromaSplitNeon cr = splitChromaNeon(u, v, 0, kVRed, kRedBias);
    for (int row = 0; row < 2; ++row) {
        const uint8x16x2_t yy = vld2q_u8((row ? b.yb : b.ya) + 2 * j);   // even, odd pixels
        uint8_t* o = (row ? b.ob : b.oa) + 2 * j * bpp;
        int16x8_t lhE[2], llE[2], lhO[2], llO[2];
        lumaSplitNeon(yy.val[0], lhE, llE);
        lumaSplitNeon(yy.val[1], lhO, llO);
        const uint8x16x2_t bl = vzipq_u8(channelNeon(lhE, llE, cb), channelNeon(lhO, llO, cb));
        const uint8x16x2_t gr = vzipq_u8(channelNeon(lhE, llE, cg), channelNeon(lhO, llO, cg));
        const uint8x16x2_t rd = vzipq_u8(channelNeon(lhE, llE, cr), channelNeon(lhO, llO, cr));
        for (int half = 0; half < 2; ++half) {
            if (bpp == 4) {
                const uint8x16x4_t px = {
                    {bl.val[half], gr.val[half], rd.val[half], vdupq_n_u8(255)}};
                vst4q_u8(o + 64 * half, px);
            } else {
                const uint8x16x3_t px = {{bl.val[half], gr.val[half], rd.val[half]}};
                vst3q_u8(o + 48 * half, px);
            }
        }
    }
}

void tableRowNeon(const BlockRow& b, int cw, int bpp)
{
    if (cw < 16) {
        tableRowScalar(b.ya, b.yb, b.ur, b.vr, b.oa, b.ob, 0, cw, bpp);
        return;
    }
    int j = 0;
    for (; j + 16 <= cw; j += 16)
        tableStepNeon(b, j, bpp);
    if (j < cw)
        tableStepNeon(b, cw - 16, bpp);   // overlaps the step before: the same values again
}

// 16-bit formula in saturating bytes, as on x86: y + pos - neg per channel, 32 pixels of both
// rows (16 blocks) per step.
inline uint8x16_t termPart(int16x8_t lo, int16x8_t hi)
{
    return vcombine_u8(vqmovun_s16(lo), vqmovun_s16(hi));
}

inline uint16x8_t pack565Neon(uint8x8_t r, uint8x8_t g, uint8x8_t b)
{
    uint16x8_t w = vshll_n_u8(r, 8);
    w = vsriq_n_u16(w, vshll_n_u8(g, 8), 5);
    return vsriq_n_u16(w, vshll_n_u8(b, 8), 11);
}

void rows565StepNeon(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                     uint8_t* o0, uint8_t* o1)
{
    const uint8x16_t u8 = vld1q_u8(u), v8 = vld1q_u8(v);
    const int16x8_t c128 = vdupq_n_s16(128);
    int16x8_t tr[2], tg[2], tb[2];
    for (int h = 0; h < 2; ++h) {
        const uint8x8_t uh = h ? vget_high_u8(u8) : vget_low_u8(u8);
        const uint8x8_t vh = h ? vget_high_u8(v8) : vget_low_u8(v8);
        const int16x8_t du = vsubq_s16(vreinterpretq_s16_u16(vmovl_u8(uh)), c128);
        const int16x8_t dv = vsubq_s16(vreinterpretq_s16_u16(vmovl_u8(vh)), c128);
        tr[h] = vcombine_s16(vshrn_n_s32(vmull_n_s16(vget_low_s16(dv), 359), 8),
                             vshrn_n_s32(vmull_n_s16(vget_high_s16(dv), 359), 8));
        tb[h] = vcombine_s16(vshrn_n_s32(vmull_n_s16(vget_low_s16(du), 454), 8),
                             vshrn_n_s32(vmull_n_s16(vget_high_s16(du), 454), 8));
        tg[h] = vcombine_s16(
            vshrn_n_s32(vmlal_n_s16(vmull_n_s16(vget_low_s16(du), -88), vget_low_s16(dv), -183), 8),
            vshrn_n_s32(vmlal_n_s16(vmull_n_s16(vget_high_s16(du), -88), vget_high_s16(dv), -183),
                        8));
    }
    // Positive and negative parts, one byte per block; vqmovun turns the other sign into 0.
    const uint8x16_t rp = termPart(tr[0], tr[1]), rn = termPart(vnegq_s16(tr[0]), vnegq_s16(tr[1]));
    const uint8x16_t gp = termPart(tg[0], tg[1]), gn = termPart(vnegq_s16(tg[0]), vnegq_s16(tg[1]));
    const uint8x16_t bp = termPart(tb[0], tb[1]), bn = termPart(vnegq_s16(tb[0]), vnegq_s16(tb[1]));
    for (int row = 0; row < 2; ++row) {
        const uint8x16x2_t yy = vld2q_u8(row ? y1 : y0);
        uint8_t* o = row ? o1 : o0;
        uint16x8x2_t words[2];   // [half] -> {even, odd} pixel words
        for (int p = 0; p < 2; ++p) {
            const uint8x16_t r = vqsubq_u8(vqaddq_u8(yy.val[p], rp), rn);
            const uint8x16_t g = vqsubq_u8(vqaddq_u8(yy.val[p], gp), gn);
            const uint8x16_t bl = vqsubq_u8(vqaddq_u8(yy.val[p], bp), bn);
            words[0].val[p] = pack565Neon(vget_low_u8(r), vget_low_u8(g), vget_low_u8(bl));
            words[1].val[p] = pack565Neon(vget_high_u8(r), vget_high_u8(g), vget_high_u8(bl));
        }
        vst2q_u16(reinterpret_cast<uint16_t*>(o), words[0]);
        vst2q_u16(reinterpret_cast<uint16_t*>(o + 32), words[1]);
        if (y1 == y0)
            break;
    }
}

void rows565Neon(const Src& s, int w, int h, uint8_t* out, int r)
{
    const int cw = w / 2;
    const int ch = h / 2;
    const int rows = r + 1 < h ? 2 : 1;
    int done = 0;   // pixel columns written by the vector steps
    if (ch > 0 && cw >= 16) {
        const size_t crow = static_cast<size_t>(std::min(r / 2, ch - 1));
        const uint8_t* ur = s.u + crow * s.uStride;
        const uint8_t* vr = s.v + crow * s.vStride;
        const uint8_t* y0 = s.y + static_cast<size_t>(r) * s.yStride;
        const uint8_t* y1 = rows == 2 ? y0 + s.yStride : y0;
        uint8_t* o0 = out + static_cast<size_t>(r) * w * 2;
        uint8_t* o1 = rows == 2 ? o0 + static_cast<size_t>(w) * 2 : o0;
        int j = 0;
        for (; j + 16 <= cw; j += 16)
            rows565StepNeon(y0 + 2 * j, y1 + 2 * j, ur + j, vr + j, o0 + 4 * j, o1 + 4 * j);
        if (j < cw) {
            j = cw - 16;
            rows565StepNeon(y0 + 2 * j, y1 + 2 * j, ur + j, vr + j, o0 + 4 * j, o1 + 4 * j);
        }
        done = 2 * cw;
    }
    for (int i = 0; i < rows; ++i)
        row565Scalar(s.y + static_cast<size_t>(r + i) * s.yStride, s, cw, ch, r + i,
                     out + static_cast<size_t>(r + i) * w * 2, done, w);
}

void convertNeon(const Src& s, int w, int h, uint8_t* out, int bpp)
{
    if (bpp == 2) {
        for (int r = 0; r < h; r += 2)
            rows565Neon(s, w, h, out, r);
        return;
    }
    for (int k = 0; k < h / 2; ++k)
        tableRowNeon(blockRow(s, w, h, out, bpp, k), w / 2, bpp);
}
#endif   // KEVRA_NEON

void convertScalar(const Src& s, int w, int h, uint8_t* out, int bpp)
{
    if (bpp == 2)
        reference565(s, w, h, out);
    else
        tableReference(s, w, h, out, bpp);
}

using ConvertFn = void (*)(const Src&, int, int, uint8_t*, int);

struct Path {
    const char* name;
    ConvertFn fn;
};

// Every implementation built for this processor family, slowest first.
constexpr Path kPaths[] = {
    {"scalar", convertScalar},
#ifdef KEVRA_X86_SIMD
    {"sse2", convertSse2},     {"avx2", convertAvx2}, {"avx512", convertAvx512},
#endif
#ifdef KEVRA_NEON
    {"neon", convertNeon},
#endif
};
constexpr int kPathCount = static_cast<int>(sizeof kPaths / sizeof kPaths[0]);

bool runsHere(const Path& p)
{
#ifdef KEVRA_X86_SIMD
    __builtin_cpu_init();
    const std::string_view n(p.name);
    if (n == "avx2")
        return __builtin_cpu_supports("avx2");
    if (n == "avx512")
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vbmi");
#endif
    (void)p;
    return true;
}

int findPath(const char* name)
{
    if (!name)
        return -1;
    for (int i = 0; i < kPathCount; ++i)
        if (std::string_view(kPaths[i].name) == name)
            return runsHere(kPaths[i]) ? i : -1;
    return -1;
}

int bestPath()
{
    int best = 0;
    for (int i = 0; i < kPathCount; ++i)
        if (runsHere(kPaths[i]))
            best = i;
    return best;
}

// The path convert() takes: KEVRA_CONVERTER names one when it runs here, else the fastest.
std::atomic<int>& activePath()
{
    static std::atomic<int> active{[] {
        const int forced = findPath(std::getenv("KEVRA_CONVERTER"));
        return forced >= 0 ? forced : bestPath();
    }()};
    return active;
}

int bytesPerPixel(int bitsPerPixel)
{
    if (bitsPerPixel == 16)
        return 2;
    if (bitsPerPixel == 24)
        return 3;
    return 4;
}

}   // namespace

void ColourConverter::convert(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width,
                              int height, uint8_t* out, int bitsPerPixel)
{
    convert(packed(y, u, v, width), width, height, out, bitsPerPixel);
}

void ColourConverter::convert(const Planes& in, int width, int height, uint8_t* out,
                              int bitsPerPixel)
{
    if (!validArgs(in, width, height, out))
        return;
    kPaths[activePath().load(std::memory_order_relaxed)].fn(source(in), width, height, out,
                                                            bytesPerPixel(bitsPerPixel));
}

void ColourConverter::convertReference(const uint8_t* y, const uint8_t* u, const uint8_t* v,
                                       int width, int height, uint8_t* out, int bitsPerPixel)
{
    const Planes in = packed(y, u, v, width);
    if (!validArgs(in, width, height, out))
        return;
    convertScalar(source(in), width, height, out, bytesPerPixel(bitsPerPixel));
}

bool ColourConverter::convertUsing(const char* pathName, const uint8_t* y, const uint8_t* u,
                                   const uint8_t* v, int width, int height, uint8_t* out,
                                   int bitsPerPixel)
{
    return convertUsing(pathName, packed(y, u, v, width), width, height, out, bitsPerPixel);
}

bool ColourConverter::convertUsing(const char* pathName, const Planes& in, int width, int height,
                                   uint8_t* out, int bitsPerPixel)
{
    const int i = findPath(pathName);
    if (i < 0 || !validArgs(in, width, height, out))
        return false;
    kPaths[i].fn(source(in), width, height, out, bytesPerPixel(bitsPerPixel));
    return true;
}

const char* ColourConverter::fastPathName()
{
    return kPaths[activePath().load(std::memory_order_relaxed)].name;
}

bool ColourConverter::hasPath(const char* pathName)
{
    return findPath(pathName) >= 0;
}

bool ColourConverter::usePath(const char* pathName)
{
    const int i = (pathName && *pathName) ? findPath(pathName) : bestPath();
    if (i < 0)
        return false;
    activePath().store(i, std::memory_order_relaxed);
    return true;
}

const char* const* ColourConverter::pathNames()
{
    static const char* const names[] = {
        "scalar", "sse2", "avx2", "avx512", "neon", nullptr,
    };
    return names;
}

const int32_t* ColourConverter::lumaTable()
{
    return kTables.luma;
}
const int32_t* ColourConverter::uToBlueTable()
{
    return kTables.uBlue;
}
const int32_t* ColourConverter::uToGreenTable()
{
    return kTables.uGreen;
}
const int32_t* ColourConverter::vToGreenTable()
{
    return kTables.vGreen;
}
const int32_t* ColourConverter::vToRedTable()
{
    return kTables.vRed;
}

}   // namespace kevra
