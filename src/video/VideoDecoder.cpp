#include "video/VideoDecoder.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace kevra {

VideoDecoder::~VideoDecoder()
{
    close();
}

int VideoDecoder::open(Codec which, int width, int height)
{
    close();
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return -1;
    const AVCodec* codec =
        avcodec_find_decoder(which == Codec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4);
    if (!codec)
        return -1;
    ctx_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    spare_ = av_frame_alloc();
    if (!ctx_ || !packet_ || !frame_ || !spare_) {
        close();
        return -1;
    }
    if (which == Codec::H264) {
        // Live view: every picture as soon as its frame is complete. Low delay turns off the
        // reorder buffer (streams from recorders have no B-frames); slices of one picture are
        // decoded in parallel, which adds no latency, unlike frame threading.
        ctx_->flags |= AV_CODEC_FLAG_LOW_DELAY;
        ctx_->thread_type = FF_THREAD_SLICE;
        ctx_->thread_count =
            static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    } else {
        // MPEG-4 Visual decodes on the calling thread (its only threading, frame threading,
        // would hold pictures back). The decoder itself follows the stream's VOL: without
        // B-VOPs every picture comes out of its own frame, with them in display order one
        // frame later.
        ctx_->thread_count = 1;
    }
    ctx_->width = width;
    ctx_->height = height;
    // The picture size inside the stream is hostile: a header announcing a huge picture must
    // not make the decoder allocate for it. Larger pictures than opened are cropped, up to a
    // bound.
    const int64_t area = static_cast<int64_t>(width) * height;
    ctx_->max_pixels = std::min<int64_t>(static_cast<int64_t>(kMaxSide) * kMaxSide,
                                         std::max<int64_t>(area * 4, 1920 * 1088));
    if (avcodec_open2(ctx_, codec, nullptr) < 0) {
        close();
        return -1;
    }
    width_ = width;
    height_ = height;
    return 0;
}

void VideoDecoder::close()
{
    if (ctx_)
        avcodec_free_context(&ctx_);
    if (packet_)
        av_packet_free(&packet_);
    if (frame_)
        av_frame_free(&frame_);
    if (spare_)
        av_frame_free(&spare_);
    padded_.clear();
    padded_.shrink_to_fit();
    width_ = height_ = 0;
}

bool VideoDecoder::receive(const uint8_t* data, int length, bool paddedInput)
{
    av_frame_unref(frame_);
    static_assert(kVideoDecInputPadding >= AV_INPUT_BUFFER_PADDING_SIZE,
                  "padding libavcodec reads past the data");
    if (paddedInput) {
        packet_->data =
            const_cast<uint8_t*>(data);   // libavcodec only reads a packet without a buffer
    } else {
        // libavcodec reads a little past the end of the data; give it zeroed padding.
        const size_t need = static_cast<size_t>(length) + AV_INPUT_BUFFER_PADDING_SIZE;
        if (padded_.size() < need)
            padded_.resize(need);
        std::memcpy(padded_.data(), data, static_cast<size_t>(length));
        std::memset(padded_.data() + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
        packet_->data = padded_.data();
    }
    packet_->size = length;

    bool got = false;
    int ret = avcodec_send_packet(ctx_, packet_);
    if (ret == AVERROR(EAGAIN)) {
        // A picture is still waiting: take it, then the decoder accepts the frame.
        if (avcodec_receive_frame(ctx_, frame_) == 0)
            got = true;
        ret = avcodec_send_packet(ctx_, packet_);
    }
    if (avcodec_receive_frame(ctx_, spare_) == 0) {
        av_frame_unref(frame_);
        av_frame_move_ref(frame_, spare_);
        got = true;
    }
    packet_->data = nullptr;
    packet_->size = 0;
    return got;
}

int VideoDecoder::decode(const uint8_t* data, int length, uint8_t* y, uint8_t* u, uint8_t* v,
                         int& outWidth, int& outHeight)
{
    if (!ctx_ || !data || length <= 0 || !y || !u || !v)
        return -1;
    if (!receive(data, length, false))
        return -1;
    const int result = copyPicture(frame_, y, u, v, outWidth, outHeight);
    av_frame_unref(frame_);
    return result;
}

int VideoDecoder::decodePlanes(const uint8_t* data, int length, bool paddedInput,
                               VideoDecPlanes& planes)
{
    if (!ctx_ || !data || length <= 0 || !receive(data, length, paddedInput))
        return -1;
    const AVFrame* f = frame_;
    const int w = std::min(f->width, width_);
    const int h = std::min(f->height, height_);
    if ((f->format != AV_PIX_FMT_YUV420P && f->format != AV_PIX_FMT_YUVJ420P) || w <= 0 || h <= 0 ||
        !f->data[0] || !f->data[1] || !f->data[2] || f->linesize[0] < w || f->linesize[1] < w / 2 ||
        f->linesize[2] < w / 2) {
        av_frame_unref(frame_);
        return -1;
    }
    planes = {f->data[0],     f->data[1],     f->data[2], f->linesize[0],
              f->linesize[1], f->linesize[2], w,          h};
    return 0;
}

int VideoDecoder::copyPicture(const AVFrame* frame, uint8_t* y, uint8_t* u, uint8_t* v,
                              int& outWidth, int& outHeight)
{
    if (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUVJ420P)
        return -1;
    // The caller's planes hold the opened size; a larger stream is cropped to it.
    const int w = std::min(frame->width, width_);
    const int h = std::min(frame->height, height_);
    if (w <= 0 || h <= 0)
        return -1;
    for (int r = 0; r < h; ++r)
        std::memcpy(y + static_cast<size_t>(r) * w,
                    frame->data[0] + static_cast<ptrdiff_t>(r) * frame->linesize[0],
                    static_cast<size_t>(w));
    const int cw = w / 2;
    const int ch = h / 2;
    for (int r = 0; r < ch && cw > 0; ++r) {
        std::memcpy(u + static_cast<size_t>(r) * cw,
                    frame->data[1] + static_cast<ptrdiff_t>(r) * frame->linesize[1],
                    static_cast<size_t>(cw));
        std::memcpy(v + static_cast<size_t>(r) * cw,
                    frame->data[2] + static_cast<ptrdiff_t>(r) * frame->linesize[2],
                    static_cast<size_t>(cw));
    }
    outWidth = w;
    outHeight = h;
    return 0;
}

// ------------------------------------------------------------------------------------------------
// Handle table of the library calls. Handles are never reused within a process, so a stale
// handle finds nothing instead of someone else's decoder.

namespace {

struct HandleTable {
    std::mutex lock;
    std::map<int32_t, std::shared_ptr<VideoDecoder>> decoders;
    int32_t next = 1;
};

HandleTable& table()
{
    static HandleTable t;
    return t;
}

std::shared_ptr<VideoDecoder> find(int32_t handle)
{
    HandleTable& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.decoders.find(handle);
    return it == t.decoders.end() ? nullptr : it->second;
}

int32_t openHandle(VideoDecoder::Codec codec, const VideoDecOpenParam* param)
{
    if (!param)
        return 0;
    auto decoder = std::make_shared<VideoDecoder>();
    if (decoder->open(codec, param->width, param->height) != 0)
        return 0;
    HandleTable& t = table();
    std::lock_guard<std::mutex> g(t.lock);
    if (t.next <= 0)
        return 0;   // handle space used up
    const int32_t handle = t.next++;
    t.decoders.emplace(handle, std::move(decoder));
    return handle;
}

int decodeHandle(int32_t handle, const VideoDecInput* input, VideoDecOutput* output)
{
    if (!input || !output)
        return -1;
    std::shared_ptr<VideoDecoder> decoder = find(handle);
    if (!decoder)
        return -1;
    std::lock_guard<std::mutex> g(decoder->lock());
    int w = 0, h = 0;
    if (decoder->decode(input->data, input->length, output->y, output->u, output->v, w, h) != 0)
        return -1;
    output->outWidth = w;
    output->outHeight = h;
    return 0;
}

int decodePlanesHandle(int32_t handle, const VideoDecInput* input, VideoDecPlanes* planes,
                       int flags)
{
    if (!input || !planes)
        return -1;
    std::shared_ptr<VideoDecoder> decoder = find(handle);
    if (!decoder)
        return -1;
    std::lock_guard<std::mutex> g(decoder->lock());
    return decoder->decodePlanes(input->data, input->length, (flags & kVideoDecPaddedInput) != 0,
                                 *planes);
}

int closeHandle(int32_t handle)
{
    std::shared_ptr<VideoDecoder> decoder;
    {
        HandleTable& t = table();
        std::lock_guard<std::mutex> g(t.lock);
        auto it = t.decoders.find(handle);
        if (it == t.decoders.end())
            return -1;
        decoder = std::move(it->second);
        t.decoders.erase(it);
    }
    return 0;   // the decoder closes when the last user lets go of it
}

}   // namespace

int H264_Dec_Init(int)
{
    return 0;
}
int H264_Dec_DeInit()
{
    return 0;
}
int32_t H264_Dec_Open(const VideoDecOpenParam* param)
{
    return openHandle(VideoDecoder::Codec::H264, param);
}
int H264_Dec_Decode(int32_t handle, const VideoDecInput* input, VideoDecOutput* output, int)
{
    return decodeHandle(handle, input, output);
}
int H264_Dec_DecodePlanes(int32_t handle, const VideoDecInput* input, VideoDecPlanes* planes,
                          int flags)
{
    return decodePlanesHandle(handle, input, planes, flags);
}
int H264_Dec_Close(int32_t handle)
{
    return closeHandle(handle);
}

int Mpeg4_Dec_Init(int)
{
    return 0;
}
int Mpeg4_Dec_DeInit()
{
    return 0;
}
int32_t Mpeg4_Dec_Open(const VideoDecOpenParam* param)
{
    return openHandle(VideoDecoder::Codec::Mpeg4, param);
}
int Mpeg4_Dec_Decode(int32_t handle, const VideoDecInput* input, VideoDecOutput* output, int)
{
    return decodeHandle(handle, input, output);
}
int Mpeg4_Dec_DecodePlanes(int32_t handle, const VideoDecInput* input, VideoDecPlanes* planes,
                           int flags)
{
    return decodePlanesHandle(handle, input, planes, flags);
}
int Mpeg4_Dec_Close(int32_t handle)
{
    return closeHandle(handle);
}

}   // namespace kevra
