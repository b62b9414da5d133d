#include "video/ColourConverter.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KEVRA_X86_SIMD 1
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

inline void put565(uint8_t* out, uint16_t w) { std::memcpy(out, &w, 2); }

// Chroma sample for a 16-bit pixel: its block's sample, with the block column and row held
// inside the chroma planes. For an odd width (or height) the last column (row) of pixels has
// no block of its own in planes of width/2 x height/2 samples; it takes the nearest block.
// A plane without samples (width or height 1) gives neutral chroma.
inline int chromaAt(const uint8_t* plane, int cw, int ch, int row, int col)
{
    if (cw <= 0 || ch <= 0)
        return 128;
    int r = std::min(row / 2, ch - 1);
    int c = std::min(col / 2, cw - 1);
    return plane[static_cast<size_t>(r) * cw + c];
}

// One 2x2 block of the table formula, scalar. pa/pb: output pixels of the two rows.
inline void tableBlock(const uint8_t* ya, const uint8_t* yb, int uu, int vv, uint8_t* pa, uint8_t* pb,
                       int bpp)
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
inline void tableRowScalar(const uint8_t* ya, const uint8_t* yb, const uint8_t* ur, const uint8_t* vr,
                           uint8_t* oa, uint8_t* ob, int fromBlock, int cw, int bpp)
{
    for (int j = fromBlock; j < cw; ++j)
        tableBlock(ya + 2 * j, yb + 2 * j, ur[j], vr[j], oa + 2 * j * bpp, ob + 2 * j * bpp, bpp);
}

// Scalar 16-bit formula for pixel columns [fromCol, w) of one row.
inline void row565Scalar(const uint8_t* yrow, const uint8_t* u, const uint8_t* v, int cw, int ch, int row,
                         uint8_t* orow, int fromCol, int w)
{
    for (int c = fromCol; c < w; ++c) {
        const int yy = 256 * yrow[c];
        const int du = chromaAt(u, cw, ch, row, c) - 128;
        const int dv = chromaAt(v, cw, ch, row, c) - 128;
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

inline BlockRow blockRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, int w, int h, uint8_t* out,
                         int bpp, int k)
{
    const int cw = w / 2;
    const int ch = h / 2;
    const size_t stride = static_cast<size_t>(w) * bpp;
    BlockRow b;
    b.ya = y + static_cast<size_t>(h - 1 - 2 * k) * w;
    b.yb = y + static_cast<size_t>(h - 2 - 2 * k) * w;
    b.ur = u + static_cast<size_t>(ch - 1 - k) * cw;
    b.vr = v + static_cast<size_t>(ch - 1 - k) * cw;
    b.oa = out + static_cast<size_t>(2 * k) * stride;
    b.ob = b.oa + stride;
    const bool last = k + 1 >= ch;
    b.nextYa = last ? b.ya : b.ya - 2 * static_cast<size_t>(w);
    b.nextYb = last ? b.yb : b.yb - 2 * static_cast<size_t>(w);
    b.nextU = last ? b.ur : b.ur - cw;
    b.nextV = last ? b.vr : b.vr - cw;
    return b;
}

void tableReference(const uint8_t* y, const uint8_t* u, const uint8_t* v, int w, int h, uint8_t* out, int bpp)
{
    const int cw = w / 2;
    for (int k = 0; k < h / 2; ++k) {
        BlockRow b = blockRow(y, u, v, w, h, out, bpp, k);
        tableRowScalar(b.ya, b.yb, b.ur, b.vr, b.oa, b.ob, 0, cw, bpp);
    }
}

void reference565(const uint8_t* y, const uint8_t* u, const uint8_t* v, int w, int h, uint8_t* out)
{
    const int cw = w / 2;
    const int ch = h / 2;
    for (int r = 0; r < h; ++r)
        row565Scalar(y + static_cast<size_t>(r) * w, u, v, cw, ch, r, out + static_cast<size_t>(r) * w * 2, 0, w);
}

bool validArgs(const uint8_t* y, const uint8_t* u, const uint8_t* v, int w, int h, const uint8_t* out)
{
    return y && u && v && out && w > 0 && h > 0;
}

#ifdef KEVRA_X86_SIMD
// ---------------------------------------------------------------------------------------------
// Vector versions. Same integer arithmetic as the tables, in 32-bit lanes:
//   blue  = 9535*y + 16531*u            - 9535*16 - 16531*128
//   green = 9535*y - 3203*u  - 6660*v   - 9535*16 + 3203*128 + 6660*128
//   red   = 9535*y           + 13074*v  - 9535*16 - 13074*128
// then (x >> 13) saturated to 0..255, which equals the clamp for every 32-bit x.
// Chroma terms are formed once per block with pmaddwd on (u, v) pairs and shared by the block's
// four pixels. The 16-bit formula is exact in 16-bit lanes: (256*y + t) >> 8 == y + (t >> 8).

constexpr int32_t kBlueBias = -kLuma * 16 - kUBlue * 128;
constexpr int32_t kGreenBias = -kLuma * 16 + kUGreen * 128 + kVGreen * 128;
constexpr int32_t kRedBias = -kLuma * 16 - kVRed * 128;

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
        const __m128i uv = _mm_unpacklo_epi8(_mm_unpacklo_epi8(u4, v4), zero); // u0 v0 .. u3 v3
        const __m128i cb = _mm_add_epi32(_mm_madd_epi16(uv, kB), biasB);
        const __m128i cg = _mm_add_epi32(_mm_madd_epi16(uv, kG), biasG);
        const __m128i cr = _mm_add_epi32(_mm_madd_epi16(uv, kR), biasR);
        const __m128i cb0 = _mm_unpacklo_epi32(cb, cb), cb1 = _mm_unpackhi_epi32(cb, cb);
        const __m128i cg0 = _mm_unpacklo_epi32(cg, cg), cg1 = _mm_unpackhi_epi32(cg, cg);
        const __m128i cr0 = _mm_unpacklo_epi32(cr, cr), cr1 = _mm_unpackhi_epi32(cr, cr);
        for (int row = 0; row < 2; ++row) {
            const uint8_t* ys = (row ? b.yb : b.ya) + 2 * j;
            uint8_t* o = (row ? b.ob : b.oa) + 2 * j * bpp;
            const __m128i y16 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(ys)), zero);
            const __m128i lo = _mm_mullo_epi16(y16, kY);
            const __m128i hi = _mm_mulhi_epu16(y16, kY);
            const __m128i l0 = _mm_unpacklo_epi16(lo, hi); // pixels 0-3
            const __m128i l1 = _mm_unpackhi_epi16(lo, hi); // pixels 4-7
            const __m128i bl = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(l0, cb0), 13),
                                               _mm_srai_epi32(_mm_add_epi32(l1, cb1), 13));
            const __m128i gr = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(l0, cg0), 13),
                                               _mm_srai_epi32(_mm_add_epi32(l1, cg1), 13));
            const __m128i rd = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(l0, cr0), 13),
                                               _mm_srai_epi32(_mm_add_epi32(l1, cr1), 13));
            const __m128i br = _mm_packus_epi16(bl, rd);     // B0-7 R0-7
            const __m128i ga = _mm_packus_epi16(gr, alpha);  // G0-7 255
            const __m128i bg = _mm_unpacklo_epi8(br, ga);    // B G pairs
            const __m128i ra = _mm_unpackhi_epi8(br, ga);    // R A pairs
            const __m128i p0 = _mm_unpacklo_epi16(bg, ra);   // BGRA pixels 0-3
            const __m128i p1 = _mm_unpackhi_epi16(bg, ra);   // BGRA pixels 4-7
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
void rows565Sse2(const uint8_t* y, const uint8_t* u, const uint8_t* v, int w, int h, uint8_t* out, int r)
{
    const int cw = w / 2;
    const int ch = h / 2;
    const int rows = (r + 1 < h) ? 2 : 1;
    int c = 0;
    if (ch > 0) {
        const size_t crow = static_cast<size_t>(std::min(r / 2, ch - 1)) * cw;
        const __m128i zero = _mm_setzero_si128();
        for (; c + 16 <= 2 * cw; c += 16) {
            const Terms565 t = terms565Sse2(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + crow + c / 2)),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + crow + c / 2)));
            const __m128i tr0 = _mm_unpacklo_epi16(t.r, t.r), tr1 = _mm_unpackhi_epi16(t.r, t.r);
            const __m128i tg0 = _mm_unpacklo_epi16(t.g, t.g), tg1 = _mm_unpackhi_epi16(t.g, t.g);
            const __m128i tb0 = _mm_unpacklo_epi16(t.b, t.b), tb1 = _mm_unpackhi_epi16(t.b, t.b);
            for (int i = 0; i < rows; ++i) {
                const uint8_t* ys = y + static_cast<size_t>(r + i) * w + c;
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
        row565Scalar(y + static_cast<size_t>(r + i) * w, u, v, cw, ch, r + i,
                     out + static_cast<size_t>(r + i) * w * 2, c, w);
}

void convertSse2(const uint8_t* y, const uint8_t* u, const uint8_t* v, int w, int h, uint8_t* out, int bpp)
{
    if (bpp == 2) {
        for (int r = 0; r < h; r += 2)
            rows565Sse2(y, u, v, w, h, out, r);
        return;
    }
    for (int k = 0; k < h / 2; ++k)
        tableRowSse2(blockRow(y, u, v, w, h, out, bpp, k), w / 2, bpp);
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
        const __m256i uv = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(u8, v8)); // blocks 0-3 | 4-7
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
            const __m256i y16 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ys)));
            const __m256i lo = _mm256_mullo_epi16(y16, kY);
            const __m256i hi = _mm256_mulhi_epu16(y16, kY);
            const __m256i l0 = _mm256_unpacklo_epi16(lo, hi); // pixels 0-3 | 8-11
            const __m256i l1 = _mm256_unpackhi_epi16(lo, hi); // pixels 4-7 | 12-15
            // packs joins the halves back into pixel order 0-7 | 8-15.
            const __m256i bl = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(l0, cb0), 13),
                                                  _mm256_srai_epi32(_mm256_add_epi32(l1, cb1), 13));
            const __m256i gr = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(l0, cg0), 13),
                                                  _mm256_srai_epi32(_mm256_add_epi32(l1, cg1), 13));
            const __m256i rd = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(l0, cr0), 13),
                                                  _mm256_srai_epi32(_mm256_add_epi32(l1, cr1), 13));
            const __m256i br = _mm256_packus_epi16(bl, rd);    // B0-7 R0-7 | B8-15 R8-15
            const __m256i ga = _mm256_packus_epi16(gr, alpha); // G0-7 255  | G8-15 255
            const __m256i bg = _mm256_unpacklo_epi8(br, ga);
            const __m256i ra = _mm256_unpackhi_epi8(br, ga);
            const __m256i p0 = _mm256_unpacklo_epi16(bg, ra); // BGRA pixels 0-3 | 8-11
            const __m256i p1 = _mm256_unpackhi_epi16(bg, ra); // BGRA pixels 4-7 | 12-15
            if (bpp == 4) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), _mm256_permute2x128_si256(p0, p1, 0x20));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 32), _mm256_permute2x128_si256(p0, p1, 0x31));
            } else {
                const __m256i q0 = _mm256_shuffle_epi8(p0, toBgr);
                const __m256i q1 = _mm256_shuffle_epi8(p1, toBgr);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(q0));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 12), _mm256_castsi256_si128(q1));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 24), _mm256_extracti128_si256(q0, 1));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 36), _mm256_extracti128_si256(q1, 1));
            }
        }
    }
    tableRowScalar(b.ya, b.yb, b.ur, b.vr, b.oa, b.ob, j, cw, bpp);
}

__attribute__((target("avx2"))) inline __m256i pixels565Avx2(__m256i y16, __m256i tr, __m256i tg, __m256i tb)
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

__attribute__((target("avx2"))) void rows565Avx2(const uint8_t* y, const uint8_t* u, const uint8_t* v, int w,
                                                 int h, uint8_t* out, int r)
{
    const int cw = w / 2;
    const int ch = h / 2;
    const int rows = (r + 1 < h) ? 2 : 1;
    int c = 0;
    if (ch > 0) {
        const size_t crow = static_cast<size_t>(std::min(r / 2, ch - 1)) * cw;
        for (; c + 16 <= 2 * cw; c += 16) {
            const Terms565 t = terms565Sse2(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + crow + c / 2)),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + crow + c / 2)));
            const __m256i tr = _mm256_set_m128i(_mm_unpackhi_epi16(t.r, t.r), _mm_unpacklo_epi16(t.r, t.r));
            const __m256i tg = _mm256_set_m128i(_mm_unpackhi_epi16(t.g, t.g), _mm_unpacklo_epi16(t.g, t.g));
            const __m256i tb = _mm256_set_m128i(_mm_unpackhi_epi16(t.b, t.b), _mm_unpacklo_epi16(t.b, t.b));
            for (int i = 0; i < rows; ++i) {
                const uint8_t* ys = y + static_cast<size_t>(r + i) * w + c;
                uint8_t* o = out + (static_cast<size_t>(r + i) * w + c) * 2;
                const __m256i y16 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ys)));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), pixels565Avx2(y16, tr, tg, tb));
            }
        }
    }
    for (int i = 0; i < rows; ++i)
        row565Scalar(y + static_cast<size_t>(r + i) * w, u, v, cw, ch, r + i,
                     out + static_cast<size_t>(r + i) * w * 2, c, w);
}

__attribute__((target("avx2"))) void convertAvx2(const uint8_t* y, const uint8_t* u, const uint8_t* v, int w,
                                                 int h, uint8_t* out, int bpp)
{
    if (bpp == 2) {
        for (int r = 0; r < h; r += 2)
            rows565Avx2(y, u, v, w, h, out, r);
        return;
    }
    for (int k = 0; k < h / 2; ++k)
        tableRowAvx2(blockRow(y, u, v, w, h, out, bpp, k), 0, w / 2, bpp);
}

// AVX-512BW: 32 pixels (16 blocks) of both rows per step, the same arithmetic as above in
// 512-bit registers; the rest of a row goes through the AVX2 step.
#define KEVRA_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx2")))
// GCC 12's AVX-512 headers start some intrinsics from an "undefined" register value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

template <bool Stream>
KEVRA_TARGET_AVX512 void tableRowAvx512(const BlockRow& b, int cw, int bpp)
{
    const __m512i kY = _mm512_set1_epi16(kLuma);
    const __m512i kB = _mm512_set1_epi32(pairCoef(kUBlue, 0));
    const __m512i kG = _mm512_set1_epi32(pairCoef(-kUGreen, -kVGreen));
    const __m512i kR = _mm512_set1_epi32(pairCoef(0, kVRed));
    const __m512i biasB = _mm512_set1_epi32(kBlueBias);
    const __m512i biasG = _mm512_set1_epi32(kGreenBias);
    const __m512i biasR = _mm512_set1_epi32(kRedBias);
    const __m512i alpha = _mm512_set1_epi16(255);
    const __m512i toBgr =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    // 32-bit: 128-bit lanes of p0 hold pixels 0-3, 8-11, 16-19, 24-27 and of p1 4-7, 12-15, ...
    const __m512i joinLo = _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11);
    const __m512i joinHi = _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15);
    // 24-bit: three valid words per lane, gathered in pixel order into 64 + 32 bytes.
    const __m512i bgrLo = _mm512_setr_epi32(0, 1, 2, 16, 17, 18, 4, 5, 6, 20, 21, 22, 8, 9, 10, 24);
    const __m512i bgrHi = _mm512_setr_epi32(25, 26, 12, 13, 14, 28, 29, 30, 0, 0, 0, 0, 0, 0, 0, 0);

    int j = 0;
    for (; j + 16 <= cw; j += 16) {
        const __m128i u16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.ur + j));
        const __m128i v16 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.vr + j));
        const __m512i uv =
            _mm512_cvtepu8_epi16(_mm256_set_m128i(_mm_unpackhi_epi8(u16, v16), _mm_unpacklo_epi8(u16, v16)));
        const __m512i cb = _mm512_add_epi32(_mm512_madd_epi16(uv, kB), biasB);
        const __m512i cg = _mm512_add_epi32(_mm512_madd_epi16(uv, kG), biasG);
        const __m512i cr = _mm512_add_epi32(_mm512_madd_epi16(uv, kR), biasR);
        const __m512i cb0 = _mm512_unpacklo_epi32(cb, cb), cb1 = _mm512_unpackhi_epi32(cb, cb);
        const __m512i cg0 = _mm512_unpacklo_epi32(cg, cg), cg1 = _mm512_unpackhi_epi32(cg, cg);
        const __m512i cr0 = _mm512_unpacklo_epi32(cr, cr), cr1 = _mm512_unpackhi_epi32(cr, cr);
        _mm_prefetch(reinterpret_cast<const char*>(b.nextYa + 2 * j), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(b.nextYb + 2 * j), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(b.nextU + j), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(b.nextV + j), _MM_HINT_T0);
        for (int row = 0; row < 2; ++row) {
            const uint8_t* ys = (row ? b.yb : b.ya) + 2 * j;
            uint8_t* o = (row ? b.ob : b.oa) + 2 * j * bpp;
            const __m512i y16 = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(ys)));
            const __m512i lo = _mm512_mullo_epi16(y16, kY);
            const __m512i hi = _mm512_mulhi_epu16(y16, kY);
            const __m512i l0 = _mm512_unpacklo_epi16(lo, hi);
            const __m512i l1 = _mm512_unpackhi_epi16(lo, hi);
            const __m512i bl = _mm512_packs_epi32(_mm512_srai_epi32(_mm512_add_epi32(l0, cb0), 13),
                                                  _mm512_srai_epi32(_mm512_add_epi32(l1, cb1), 13));
            const __m512i gr = _mm512_packs_epi32(_mm512_srai_epi32(_mm512_add_epi32(l0, cg0), 13),
                                                  _mm512_srai_epi32(_mm512_add_epi32(l1, cg1), 13));
            const __m512i rd = _mm512_packs_epi32(_mm512_srai_epi32(_mm512_add_epi32(l0, cr0), 13),
                                                  _mm512_srai_epi32(_mm512_add_epi32(l1, cr1), 13));
            const __m512i br = _mm512_packus_epi16(bl, rd);
            const __m512i ga = _mm512_packus_epi16(gr, alpha);
            const __m512i bg = _mm512_unpacklo_epi8(br, ga);
            const __m512i ra = _mm512_unpackhi_epi8(br, ga);
            const __m512i p0 = _mm512_unpacklo_epi16(bg, ra);
            const __m512i p1 = _mm512_unpackhi_epi16(bg, ra);
            if (bpp == 4) {
                if (Stream) {
                    _mm512_stream_si512(reinterpret_cast<__m512i*>(o), _mm512_permutex2var_epi64(p0, joinLo, p1));
                    _mm512_stream_si512(reinterpret_cast<__m512i*>(o + 64),
                                        _mm512_permutex2var_epi64(p0, joinHi, p1));
                } else {
                    _mm512_storeu_si512(o, _mm512_permutex2var_epi64(p0, joinLo, p1));
                    _mm512_storeu_si512(o + 64, _mm512_permutex2var_epi64(p0, joinHi, p1));
                }
            } else {
                const __m512i q0 = _mm512_shuffle_epi8(p0, toBgr);
                const __m512i q1 = _mm512_shuffle_epi8(p1, toBgr);
                _mm512_storeu_si512(o, _mm512_permutex2var_epi32(q0, bgrLo, q1));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 64),
                                    _mm512_castsi512_si256(_mm512_permutex2var_epi32(q0, bgrHi, q1)));
            }
        }
    }
    tableRowAvx2(b, j, cw, bpp);
}

KEVRA_TARGET_AVX512 void convertAvx512(const uint8_t* y, const uint8_t* u, const uint8_t* v, int w, int h,
                                       uint8_t* out, int bpp)
{
    if (bpp == 2) {
        for (int r = 0; r < h; r += 2)
            rows565Avx2(y, u, v, w, h, out, r);
        return;
    }
    // A large 32-bit picture is written with streaming stores: it seldom stays in the caches
    // anyway, and bypassing them saves reading every output line before it is overwritten.
    // They need 64-byte aligned rows; the fence orders them before the caller publishes the
    // picture (the converted count is raised after this returns).
    const bool stream = bpp == 4 && size_t(w) * h * 4 >= (size_t(4) << 20) &&
                        (reinterpret_cast<uintptr_t>(out) & 63) == 0 && (w * 4) % 64 == 0;
    if (stream) {
        for (int k = 0; k < h / 2; ++k)
            tableRowAvx512<true>(blockRow(y, u, v, w, h, out, bpp, k), w / 2, bpp);
        _mm_sfence();
        return;
    }
    for (int k = 0; k < h / 2; ++k)
        tableRowAvx512<false>(blockRow(y, u, v, w, h, out, bpp, k), w / 2, bpp);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif // KEVRA_X86_SIMD

void convertScalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, int w, int h, uint8_t* out, int bpp)
{
    if (bpp == 2)
        reference565(y, u, v, w, h, out);
    else
        tableReference(y, u, v, w, h, out, bpp);
}

using ConvertFn = void (*)(const uint8_t*, const uint8_t*, const uint8_t*, int, int, uint8_t*, int);

struct FastPath {
    ConvertFn fn;
    const char* name;
};

FastPath chooseFastPath()
{
#ifdef KEVRA_X86_SIMD
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"))
        return {convertAvx512, "avx512"};
    if (__builtin_cpu_supports("avx2"))
        return {convertAvx2, "avx2"};
    return {convertSse2, "sse2"};
#else
    return {convertScalar, "scalar"};
#endif
}

const FastPath& fastPath()
{
    static const FastPath path = chooseFastPath();
    return path;
}

int bytesPerPixel(int bitsPerPixel)
{
    if (bitsPerPixel == 16)
        return 2;
    if (bitsPerPixel == 24)
        return 3;
    return 4;
}

} // namespace

void ColourConverter::convert(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height,
                              uint8_t* out, int bitsPerPixel)
{
    if (!validArgs(y, u, v, width, height, out))
        return;
    fastPath().fn(y, u, v, width, height, out, bytesPerPixel(bitsPerPixel));
}

void ColourConverter::convertReference(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width,
                                       int height, uint8_t* out, int bitsPerPixel)
{
    if (!validArgs(y, u, v, width, height, out))
        return;
    convertScalar(y, u, v, width, height, out, bytesPerPixel(bitsPerPixel));
}

bool ColourConverter::convertUsing(const char* pathName, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                                   int width, int height, uint8_t* out, int bitsPerPixel)
{
    if (!pathName || !validArgs(y, u, v, width, height, out))
        return false;
    fastPath(); // processor features known
    ConvertFn fn = nullptr;
    const std::string_view name(pathName);
    if (name == "scalar")
        fn = convertScalar;
#ifdef KEVRA_X86_SIMD
    else if (name == "sse2")
        fn = convertSse2;
    else if (name == "avx2" && __builtin_cpu_supports("avx2"))
        fn = convertAvx2;
    else if (name == "avx512" && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"))
        fn = convertAvx512;
#endif
    if (!fn)
        return false;
    fn(y, u, v, width, height, out, bytesPerPixel(bitsPerPixel));
    return true;
}

const char* ColourConverter::fastPathName() { return fastPath().name; }

const int32_t* ColourConverter::lumaTable() { return kTables.luma; }
const int32_t* ColourConverter::uToBlueTable() { return kTables.uBlue; }
const int32_t* ColourConverter::uToGreenTable() { return kTables.uGreen; }
const int32_t* ColourConverter::vToGreenTable() { return kTables.vGreen; }
const int32_t* ColourConverter::vToRedTable() { return kTables.vRed; }

} // namespace kevra
