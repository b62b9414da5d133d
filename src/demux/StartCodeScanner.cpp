#include "demux/StartCodeScanner.h"

#if defined(__SSE2__)
#include <immintrin.h>
#elif defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#endif

namespace kevra {

namespace {

inline bool matches(const uint8_t* q, uint32_t prefix)
{
    return q[-2] == ((prefix >> 16) & 0xFF) && q[-1] == ((prefix >> 8) & 0xFF) &&
           q[0] == (prefix & 0xFF);
}

#if defined(__SSE2__)
// Bit i set when the last two bytes of prefix a or b end at q + i (the first byte is checked
// by the caller): rare in compressed video, so a step seldom stops.
inline unsigned pairMask16(const uint8_t* q, uint32_t a, uint32_t b)
{
    const __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q - 1));
    const __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const __m128i ma = _mm_and_si128(_mm_cmpeq_epi8(x1, _mm_set1_epi8(static_cast<char>(a >> 8))),
                                     _mm_cmpeq_epi8(x2, _mm_set1_epi8(static_cast<char>(a))));
    const __m128i mb = _mm_and_si128(_mm_cmpeq_epi8(x1, _mm_set1_epi8(static_cast<char>(b >> 8))),
                                     _mm_cmpeq_epi8(x2, _mm_set1_epi8(static_cast<char>(b))));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(ma, mb)));
}

__attribute__((target("avx2"))) const uint8_t* findPairsAvx2(const uint8_t* q, const uint8_t* end,
                                                             uint32_t a, uint32_t b)
{
    const __m256i a1 = _mm256_set1_epi8(static_cast<char>(a >> 8)),
                  a2 = _mm256_set1_epi8(static_cast<char>(a));
    const __m256i b1 = _mm256_set1_epi8(static_cast<char>(b >> 8)),
                  b2 = _mm256_set1_epi8(static_cast<char>(b));
    for (; end - q >= 64; q += 64) {
        const __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q - 1));
        const __m256i x2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
        const __m256i y1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 31));
        const __m256i y2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 32));
        const __m256i mx =
            _mm256_or_si256(_mm256_and_si256(_mm256_cmpeq_epi8(x1, a1), _mm256_cmpeq_epi8(x2, a2)),
                            _mm256_and_si256(_mm256_cmpeq_epi8(x1, b1), _mm256_cmpeq_epi8(x2, b2)));
        const __m256i my =
            _mm256_or_si256(_mm256_and_si256(_mm256_cmpeq_epi8(y1, a1), _mm256_cmpeq_epi8(y2, a2)),
                            _mm256_and_si256(_mm256_cmpeq_epi8(y1, b1), _mm256_cmpeq_epi8(y2, b2)));
        if (!_mm256_testz_si256(_mm256_or_si256(mx, my), _mm256_or_si256(mx, my)))
            return q;   // a pair in these 64 bytes: the caller looks closer
    }
    return q;
}

const bool kHaveAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
#endif

}   // namespace

const uint8_t* StartCodeScanner::findPrefixEnd(const uint8_t* from, const uint8_t* end, uint32_t a,
                                               uint32_t b)
{
    const uint8_t* q = from;
#if defined(__SSE2__)
    for (;;) {
        if (kHaveAvx2)
            q = findPairsAvx2(q, end, a, b);
        if (end - q < 16)
            break;
        // 16 bytes at a time until a step holds a full prefix or none of its last two bytes
        // is a pair (then the wide search goes on).
        unsigned pairs = pairMask16(q, a, b);
        while (pairs) {
            const uint8_t* c = q + __builtin_ctz(pairs);
            if (matches(c, a) || matches(c, b))
                return c;
            pairs &= pairs - 1;
        }
        q += 16;
    }
#elif defined(__aarch64__) && defined(__ARM_NEON)
    const uint8x16_t la = vdupq_n_u8(static_cast<uint8_t>(a));
    const uint8x16_t lb = vdupq_n_u8(static_cast<uint8_t>(b));
    for (; end - q >= 16; q += 16) {
        const uint8x16_t x = vld1q_u8(q);
        if (vmaxvq_u8(vorrq_u8(vceqq_u8(x, la), vceqq_u8(x, lb))) == 0)
            continue;
        for (const uint8_t* s = q; s < q + 16; ++s)
            if (matches(s, a) || matches(s, b))
                return s;
    }
#endif
    for (; q < end; ++q)
        if (matches(q, a) || matches(q, b))
            return q;
    return end;
}

const uint8_t* StartCodeScanner::findStartCode(const uint8_t* from, const uint8_t* end)
{
    if (end - from < 3)
        return end;
    const uint8_t* q = findPrefixEnd(from + 2, end, kStartPrefix, kStartPrefix);
    return q == end ? end : q - 2;
}

}   // namespace kevra
