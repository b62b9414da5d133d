// A converted picture as the decoder worker hands it to the side that shows it: a view of the
// worker's picture buffer, valid from DecoderWorker::takePicture until it is given back. Plain
// data; the frame timer holds it.
#pragma once
#include <cstdint>

namespace kevra {

// Packed pixel layouts the colour converter writes.
enum class PixelFormat : uint8_t {
    Rgb565,   // 16-bit words, red in the top bits; rows top-down
    Bgr24,    // blue, green, red bytes; rows bottom-up
    Bgrx32,   // blue, green, red, 255; rows bottom-up
};

constexpr int bitsPerPixel(PixelFormat f)
{
    return f == PixelFormat::Rgb565 ? 16 : f == PixelFormat::Bgr24 ? 24 : 32;
}
// The layout for a screen depth: 16 and 24 bits as they are, anything else 32.
constexpr PixelFormat pixelFormatForDepth(int bits)
{
    return bits == 16 ? PixelFormat::Rgb565 : bits == 24 ? PixelFormat::Bgr24 : PixelFormat::Bgrx32;
}

struct Picture {
    const uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;   // bytes per row
    PixelFormat format = PixelFormat::Bgrx32;
    bool bottomUp = false;   // row 0 of pixels is the picture's last row
    // Pixel aspect the stream declares; 0/0 when it declares none (square pixels assumed).
    int sampleAspectNum = 0;
    int sampleAspectDen = 0;
    uint64_t sequence = 0;   // counts the worker's converted pictures from 1
    // Stage times on the program's clock (Clock::nowUs): the last byte of the frame that gave
    // the picture reached the worker, the decoder gave the picture out, it was converted.
    uint64_t receivedUs = 0;
    uint64_t decodedUs = 0;
    uint64_t convertedUs = 0;

    explicit operator bool() const { return pixels != nullptr; }
    int bitsPerPixel() const { return kevra::bitsPerPixel(format); }
};

}   // namespace kevra
