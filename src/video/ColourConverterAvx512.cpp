#include "video/ColourKernels.h"

#ifdef KEVRA_X86_SIMD
#include "video/X86Intrinsics.h"

namespace kevra::colour {

namespace {

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
    prefetchNextRow(b, j);

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

}   // namespace

KEVRA_TARGET_AVX512 void convertAvx512(const Src& s, int w, int h, uint8_t* out, int bpp)
{
    const int cw = w / 2;
    if (bpp == 2 || cw < 32) {   // the 16-bit formula gains nothing from wider vectors
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

}   // namespace kevra::colour
#endif   // KEVRA_X86_SIMD
