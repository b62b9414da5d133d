// One video decoder: an FFmpeg libavcodec context for H.264 or MPEG-4 Visual, tuned for low
// latency, that hands out each picture in its own planes. Owned and used by one thread at a
// time (the decoder worker's thread, or a test's).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVPacket;
struct AVFrame;

namespace kevra {

class VideoDecoder {
public:
    enum class Codec { H264, Mpeg4 };
    // Largest picture side accepted by open().
    static constexpr int kMaxSide = 8192;
    // Zeroed bytes behind a padded input, so the decoder reads it in place instead of copying.
    static constexpr int kInputPadding = 64;

    // A decoded picture left where the decoder put it: planes with their row strides in bytes,
    // valid until the next decode or close.
    struct Planes {
        const uint8_t* y = nullptr;
        const uint8_t* u = nullptr;
        const uint8_t* v = nullptr;
        int yStride = 0;
        int uStride = 0;
        int vStride = 0;
        int width = 0;   // size of the picture, cropped to the opened size
        int height = 0;
        // Pixel aspect the stream declares (MPEG-4 VOL, H.264 VUI); 0/0 when it declares none.
        int sampleAspectNum = 0;
        int sampleAspectDen = 0;
    };

    VideoDecoder() = default;
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Opens for pictures of at most width x height (larger ones are cropped). False for a bad
    // size or when libavcodec cannot open the codec's decoder.
    bool open(Codec codec, int width, int height);
    void close();
    bool isOpen() const { return ctx_ != nullptr; }

    // Decodes one whole frame (H.264: Annex B byte stream; MPEG-4: VOP with the headers that
    // precede it). True with the picture in planes. paddedInput: kInputPadding zero bytes
    // follow data.
    bool decode(const uint8_t* data, int length, bool paddedInput, Planes& planes);

    int width() const { return width_; }
    int height() const { return height_; }
    // Why the last decoded picture was not handed out although the decoder made one: codec,
    // profile and pixel format of a picture that is not 8-bit 4:2:0 (for example
    // "H.264 High 4:2:2 profile, yuv422p"). Empty when the last decode had no such picture.
    const std::string& rejectedPicture() const { return rejected_; }

private:
    bool receive(const uint8_t* data, int length, bool paddedInput);

    AVCodecContext* ctx_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVFrame* spare_ = nullptr;
    std::vector<uint8_t> padded_;   // the frame's bytes followed by libavcodec's zero padding
    std::string rejected_;
    int width_ = 0;
    int height_ = 0;
};

}   // namespace kevra
