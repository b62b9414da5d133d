// Converts one decoded YUV 4:2:0 picture into packed 16/24/32-bit display pixels.
// Stateless apart from the choice of implementation (an atomic, set once from the environment
// or by usePath); the colour tables are constant. Any thread may call it on its own buffers.
#pragma once
#include <cstdint>

namespace kevra {

class ColourConverter {
public:
    // Planar YUV 4:2:0 (y: w*h, u and v: (w/2)*(h/2)) -> packed 16/24/32 bpp, stride = width pixels.
    // 16 bits: RGB 5-6-5 words, rows top-down, every pixel written.
    // 24 bits: blue, green, red bytes; 32 bits: blue, green, red, 255. Rows bottom-up
    // (output row 0 is the last source row); only whole 2x2 blocks are written, so for an
    // odd width or height the last output column or row keeps its old bytes.
    // Any other depth than 16 or 24 converts to 32 bits.
    static void convert(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height,
                        uint8_t* out, int bitsPerPixel);   // fastest available, bit-exact
    // The same from planes with row strides in bytes (yStride >= width, uStride and vStride
    // >= width / 2), e.g. a decoder's padded picture; nothing is written when a stride is short.
    struct Planes {
        const uint8_t* y;
        const uint8_t* u;
        const uint8_t* v;
        int yStride;
        int uStride;
        int vStride;
    };
    static void convert(const Planes& in, int width, int height, uint8_t* out, int bitsPerPixel);
    static void convertReference(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width,
                                 int height, uint8_t* out,
                                 int bitsPerPixel);   // plain scalar reference

    // Implementations by name: "scalar" (the reference), "sse2", "avx2", "avx512" (AVX-512 BW
    // and VBMI) on x86 and "neon" on 64-bit ARM; pathNames() lists every name, ending with nullptr.
    static const char* const* pathNames();
    // True when the named implementation is built in and this processor can run it.
    static bool hasPath(const char* pathName);
    // Which implementation convert() uses: the fastest one here, or the one the environment
    // variable KEVRA_CONVERTER names (read once, ignored when that one cannot run here).
    static const char* fastPathName();
    // Makes convert() use the named implementation from now on (any thread; nullptr or ""
    // restores the fastest). False, and nothing changed, when it cannot run here.
    static bool usePath(const char* pathName);
    // Converts with a named implementation so every one of them can be checked on any
    // processor that has it; false when it is not available here.
    static bool convertUsing(const char* pathName, const uint8_t* y, const uint8_t* u,
                             const uint8_t* v, int width, int height, uint8_t* out,
                             int bitsPerPixel);
    static bool convertUsing(const char* pathName, const Planes& in, int width, int height,
                             uint8_t* out, int bitsPerPixel);

    // Colour tables of the 24/32-bit formula, 13 fractional bits (value / 8192).
    static const int32_t* lumaTable();       // 9535 * (i - 16)
    static const int32_t* uToBlueTable();    // 16531 * (i - 128)
    static const int32_t* uToGreenTable();   // 3203 * (i - 128)
    static const int32_t* vToGreenTable();   // 6660 * (i - 128)
    static const int32_t* vToRedTable();     // 13074 * (i - 128)
};

}   // namespace kevra
