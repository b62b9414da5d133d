#include "video/ColourKernels.h"

#ifdef KEVRA_X86_SIMD
#include "video/X86Intrinsics.h"

namespace kevra::colour {

namespace {

// ---------------------------------------------------------------------------------------------
// x86 vector versions. SSE2: the integer arithmetic of the tables in 32-bit lanes:
//   blue  = 9535*y + 16531*u            - 9535*16 - 16531*128
//   green = 9535*y - 3203*u  - 6660*v   - 9535*16 + 3203*128 + 6660*128
//   red   = 9535*y           + 13074*v  - 9535*16 - 13074*128
// then (x >> 13) saturated to 0..255, which equals the clamp for every 32-bit x.
// Chroma terms are formed once per block with pmaddwd on (u, v) pairs and shared by the block's
// four pixels. The 16-bit formula is exact in 16-bit lanes: (256*y + t) >> 8 == y + (t >> 8).

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
    const Rows565 p = rows565(s, w, h, out, r);
    int c = 0;
    if (p.u) {
        const __m128i zero = _mm_setzero_si128();
        for (; c + 16 <= 2 * (w / 2); c += 16) {
            const Terms565 t =
                terms565Sse2(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p.u + c / 2)),
                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p.v + c / 2)));
            const __m128i tr0 = _mm_unpacklo_epi16(t.r, t.r), tr1 = _mm_unpackhi_epi16(t.r, t.r);
            const __m128i tg0 = _mm_unpacklo_epi16(t.g, t.g), tg1 = _mm_unpackhi_epi16(t.g, t.g);
            const __m128i tb0 = _mm_unpacklo_epi16(t.b, t.b), tb1 = _mm_unpackhi_epi16(t.b, t.b);
            for (int i = 0; i < p.rows; ++i) {
                uint8_t* o = p.o[i] + 2 * c;
                const __m128i y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p.y[i] + c));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                                 pixels565Sse2(_mm_unpacklo_epi8(y8, zero), tr0, tg0, tb0));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16),
                                 pixels565Sse2(_mm_unpackhi_epi8(y8, zero), tr1, tg1, tb1));
            }
        }
    }
    rows565Scalar(p, s, w, h, r, c);
}

}   // namespace

void convertSse2(const Src& s, int w, int h, uint8_t* out, int bpp)
{
    convertByRows<rows565Sse2, tableRowSse2>(s, w, h, out, bpp);
}

}   // namespace kevra::colour
#endif   // KEVRA_X86_SIMD
