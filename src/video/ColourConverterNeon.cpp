#include "video/ColourKernels.h"

#ifdef KEVRA_NEON
#include <arm_neon.h>

namespace kevra::colour {

namespace {

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
    const Rows565 p = rows565(s, w, h, out, r);
    int done = 0;   // pixel columns written by the vector steps
    if (p.u && cw >= 16) {
        int j = 0;
        for (; j + 16 <= cw; j += 16)
            rows565StepNeon(p.y[0] + 2 * j, p.y[1] + 2 * j, p.u + j, p.v + j, p.o[0] + 4 * j,
                            p.o[1] + 4 * j);
        if (j < cw) {
            j = cw - 16;
            rows565StepNeon(p.y[0] + 2 * j, p.y[1] + 2 * j, p.u + j, p.v + j, p.o[0] + 4 * j,
                            p.o[1] + 4 * j);
        }
        done = 2 * cw;
    }
    rows565Scalar(p, s, w, h, r, done);
}

}   // namespace

void convertNeon(const Src& s, int w, int h, uint8_t* out, int bpp)
{
    convertByRows<rows565Neon, tableRowNeon>(s, w, h, out, bpp);
}

}   // namespace kevra::colour
#endif   // KEVRA_NEON
