// Converts one decoded YUV 4:2:0 picture into packed 16/24/32-bit display pixels.
// Stateless: the colour tables are constant; any thread may call it on its own buffers.
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
                        uint8_t* out, int bitsPerPixel);           // fastest available, bit-exact
    static void convertReference(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width,
                        int height, uint8_t* out, int bitsPerPixel); // plain scalar reference

    // Which implementation convert() uses on this processor: "avx512", "avx2", "sse2" or "scalar".
    static const char* fastPathName();
    // Converts with a named implementation ("avx512", "avx2", "sse2", "scalar") so every one of them can be
    // checked on any processor that has it; false when it is not available here.
    static bool convertUsing(const char* pathName, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                             int width, int height, uint8_t* out, int bitsPerPixel);

    // Colour tables of the 24/32-bit formula, 13 fractional bits (value / 8192).
    static const int32_t* lumaTable();      // 9535 * (i - 16)
    static const int32_t* uToBlueTable();   // 16531 * (i - 128)
    static const int32_t* uToGreenTable();  // 3203 * (i - 128)
    static const int32_t* vToGreenTable();  // 6660 * (i - 128)
    static const int32_t* vToRedTable();    // 13074 * (i - 128)
};

} // namespace kevra
