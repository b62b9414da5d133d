// The H.264 decoder library: one H264Decoder per open handle (an FFmpeg libavcodec context
// tuned for low latency) and the five H264_Dec_* calls the decoder worker makes on it.
// A handle is used by one thread at a time; the handle table may be used from any thread.
#pragma once
#include <cstdint>
#include <mutex>
#include <vector>

struct AVCodecContext;
struct AVPacket;
struct AVFrame;

namespace kevra {

// Call shapes of the decoder library.
struct H264DecOpenParam {
    int32_t width;   // picture size the caller's planes are made for
    int32_t height;
};

struct H264DecInput {
    const uint8_t* data;  // one whole frame (Annex B byte stream)
    int32_t length;
    // Four words of the library's call shape that every caller fills as 1, 1, 0, 0 and this
    // libavcodec-based implementation ignores.
    int32_t fixedOne1;
    int32_t fixedOne2;
    int32_t fixedZero1;
    int32_t fixedZero2;
};

struct H264DecOutput {
    uint8_t* y;           // planes of the opened size: y w*h, u and v (w/2)*(h/2)
    uint8_t* u;
    uint8_t* v;
    int32_t outWidth;     // filled: size of the picture written (row stride = outWidth,
    int32_t outHeight;    //         outWidth/2 for the chroma planes)
};

// Process-wide preparation; nothing to do for libavcodec. Returns 0.
int H264_Dec_Init(int flags);
// Opens a decoder for pictures of at most width x height. Handle > 0, or 0 on failure.
int32_t H264_Dec_Open(const H264DecOpenParam* param);
// Decodes one frame. 0: one picture was written into the planes; -1: no picture.
int H264_Dec_Decode(int32_t handle, const H264DecInput* input, H264DecOutput* output, int flags);
// Closes the handle. 0, or -1 for an unknown handle.
int H264_Dec_Close(int32_t handle);
// Counterpart of H264_Dec_Init; other handles stay usable. Returns 0.
int H264_Dec_DeInit();

class H264Decoder {
public:
    // Largest picture side accepted by open().
    static constexpr int kMaxSide = 8192;

    H264Decoder() = default;
    ~H264Decoder();
    H264Decoder(const H264Decoder&) = delete;
    H264Decoder& operator=(const H264Decoder&) = delete;

    // 0 on success, -1 for a bad size or when libavcodec cannot open the H.264 decoder.
    int open(int width, int height);
    // 0 with one picture copied into the planes (cropped to the opened size), -1 for none.
    int decode(const uint8_t* data, int length, uint8_t* y, uint8_t* u, uint8_t* v, int& outWidth,
               int& outHeight);
    void close();

    int width() const { return width_; }
    int height() const { return height_; }

    // Serialises use of one decoder when the handle is shared between threads.
    std::mutex& lock() { return lock_; }

private:
    int copyPicture(const AVFrame* frame, uint8_t* y, uint8_t* u, uint8_t* v, int& outWidth, int& outHeight);

    AVCodecContext* ctx_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVFrame* spare_ = nullptr;
    std::vector<uint8_t> padded_;  // the frame's bytes followed by libavcodec's zero padding
    int width_ = 0;
    int height_ = 0;
    std::mutex lock_;
};

} // namespace kevra
