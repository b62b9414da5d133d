#include "video/ColourKernels.h"

#ifdef KEVRA_X86_SIMD
#include "video/X86Intrinsics.h"

namespace kevra::colour {

namespace {

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
        prefetchNextRow(b, j);
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

__attribute__((target("avx2"))) void rows565Avx2(const Rows565& p, const Src& s, int w, int h,
                                                 int r)
{
    int c = 0;
    if (p.u) {
        for (; c + 16 <= 2 * (w / 2); c += 16) {
            const Terms565 t =
                terms565Sse2(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p.u + c / 2)),
                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p.v + c / 2)));
            const __m256i tr =
                _mm256_set_m128i(_mm_unpackhi_epi16(t.r, t.r), _mm_unpacklo_epi16(t.r, t.r));
            const __m256i tg =
                _mm256_set_m128i(_mm_unpackhi_epi16(t.g, t.g), _mm_unpacklo_epi16(t.g, t.g));
            const __m256i tb =
                _mm256_set_m128i(_mm_unpackhi_epi16(t.b, t.b), _mm_unpacklo_epi16(t.b, t.b));
            for (int i = 0; i < p.rows; ++i) {
                const __m256i y16 = _mm256_cvtepu8_epi16(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(p.y[i] + c)));
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(p.o[i] + 2 * c),
                                    pixels565Avx2(y16, tr, tg, tb));
            }
        }
    }
    rows565Scalar(p, s, w, h, r, c);
}

#define KEVRA_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

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
    prefetchNextRow(b, j);

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
    const Rows565 p = rows565(s, w, h, out, r);
    if (!p.u || cw < 16) {
        rows565Avx2(p, s, w, h, r);
        return;
    }
    int j = 0;
    for (; j + 16 <= cw; j += 16)
        rows565StepAvx2(p.y[0] + 2 * j, p.y[1] + 2 * j, p.u + j, p.v + j, p.o[0] + 4 * j,
                        p.o[1] + 4 * j);
    if (j < cw) {
        j = cw - 16;   // overlaps the step before: the same values again
        rows565StepAvx2(p.y[0] + 2 * j, p.y[1] + 2 * j, p.u + j, p.v + j, p.o[0] + 4 * j,
                        p.o[1] + 4 * j);
    }
    // An odd width leaves one pixel per row outside the blocks.
    rows565Scalar(p, s, w, h, r, 2 * cw);
}

}   // namespace

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

}   // namespace kevra::colour
#endif   // KEVRA_X86_SIMD
