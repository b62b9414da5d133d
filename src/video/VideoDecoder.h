// The decoder library: one VideoDecoder per open handle (an FFmpeg libavcodec context for
// H.264 or MPEG-4 Visual, tuned for low latency) and the calls the decoder worker makes on it:
// H264_Dec_* and their MPEG-4 twins Mpeg4_Dec_*, which share one handle table and one shape.
// A handle is used by one thread at a time; the handle table may be used from any thread.
#pragma once
#include <cstdint>
#include <mutex>
#include <vector>

struct AVCodecContext;
struct AVPacket;
struct AVFrame;

namespace kevra {

// Call shapes of the decoder library, the same for both codecs.
struct VideoDecOpenParam {
    int32_t width;   // picture size the caller's planes are made for
    int32_t height;
};

struct VideoDecInput {
    const uint8_t* data;   // one whole frame (H.264: Annex B byte stream; MPEG-4: VOP with
                           // the headers that precede it)
    int32_t length;
    // Four words of the library's call shape that every caller fills as 1, 1, 0, 0 and this
    // libavcodec-based implementation ignores.
    int32_t fixedOne1;
    int32_t fixedOne2;
    int32_t fixedZero1;
    int32_t fixedZero2;
};

struct VideoDecOutput {
    uint8_t* y;   // planes of the opened size: y w*h, u and v (w/2)*(h/2)
    uint8_t* u;
    uint8_t* v;
    int32_t outWidth;    // filled: size of the picture written (row stride = outWidth,
    int32_t outHeight;   //         outWidth/2 for the chroma planes)
};

// A decoded picture left where the decoder put it: planes with their row strides in bytes,
// valid until the next decode or close on the same handle.
struct VideoDecPlanes {
    const uint8_t* y;
    const uint8_t* u;
    const uint8_t* v;
    int32_t yStride;
    int32_t uStride;
    int32_t vStride;
    int32_t outWidth;   // size of the picture, cropped to the opened size
    int32_t outHeight;
};

// Flag of the *_DecodePlanes calls: the input is followed by at least kVideoDecInputPadding
// readable zero bytes, so the decoder reads it in place instead of copying it first.
constexpr int kVideoDecPaddedInput = 1;
constexpr int kVideoDecInputPadding = 64;

using H264DecOpenParam = VideoDecOpenParam;
using H264DecInput = VideoDecInput;
using H264DecOutput = VideoDecOutput;

// Process-wide preparation; nothing to do for libavcodec. Returns 0.
int H264_Dec_Init(int flags);
// Opens a decoder for pictures of at most width x height. Handle > 0, or 0 on failure.
int32_t H264_Dec_Open(const VideoDecOpenParam* param);
// Decodes one frame. 0: one picture was written into the planes; -1: no picture.
int H264_Dec_Decode(int32_t handle, const VideoDecInput* input, VideoDecOutput* output, int flags);
// Decodes one frame and hands out the decoder's own picture instead of copying it.
// 0: a picture is in *planes; -1: no picture.
int H264_Dec_DecodePlanes(int32_t handle, const VideoDecInput* input, VideoDecPlanes* planes,
                          int flags);
// Closes the handle. 0, or -1 for an unknown handle.
int H264_Dec_Close(int32_t handle);
// Counterpart of H264_Dec_Init; other handles stay usable. Returns 0.
int H264_Dec_DeInit();

// The same calls for MPEG-4 Visual (ISO/IEC 14496-2) streams.
int Mpeg4_Dec_Init(int flags);
int32_t Mpeg4_Dec_Open(const VideoDecOpenParam* param);
int Mpeg4_Dec_Decode(int32_t handle, const VideoDecInput* input, VideoDecOutput* output, int flags);
int Mpeg4_Dec_DecodePlanes(int32_t handle, const VideoDecInput* input, VideoDecPlanes* planes,
                           int flags);
int Mpeg4_Dec_Close(int32_t handle);
int Mpeg4_Dec_DeInit();

class VideoDecoder {
public:
    enum class Codec { H264, Mpeg4 };
    // Largest picture side accepted by open().
    static constexpr int kMaxSide = 8192;

    VideoDecoder() = default;
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // 0 on success, -1 for a bad size or when libavcodec cannot open the codec's decoder.
    int open(Codec codec, int width, int height);
    // 0 with one picture copied into the planes (cropped to the opened size), -1 for none.
    int decode(const uint8_t* data, int length, uint8_t* y, uint8_t* u, uint8_t* v, int& outWidth,
               int& outHeight);
    // 0 with the decoder's picture in planes (cropped to the opened size; valid until the next
    // decode or close), -1 for none. paddedInput: zeroed padding follows data (see above).
    int decodePlanes(const uint8_t* data, int length, bool paddedInput, VideoDecPlanes& planes);
    void close();

    int width() const { return width_; }
    int height() const { return height_; }

    // Serialises use of one decoder when the handle is shared between threads.
    std::mutex& lock() { return lock_; }

private:
    bool receive(const uint8_t* data, int length, bool paddedInput);
    int copyPicture(const AVFrame* frame, uint8_t* y, uint8_t* u, uint8_t* v, int& outWidth,
                    int& outHeight);

    AVCodecContext* ctx_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVFrame* spare_ = nullptr;
    std::vector<uint8_t> padded_;   // the frame's bytes followed by libavcodec's zero padding
    int width_ = 0;
    int height_ = 0;
    std::mutex lock_;
};

}   // namespace kevra
