#include "video/VideoDecoder.h"

#include <algorithm>
#include <cstring>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mathematics.h>
#include <libavutil/pixdesc.h>
#include <libavutil/rational.h>
#include <libavutil/pixfmt.h>
}

namespace kevra {

VideoDecoder::~VideoDecoder()
{
    close();
}

bool VideoDecoder::open(Codec which, int width, int height)
{
    close();
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return false;
    const AVCodec* codec =
        avcodec_find_decoder(which == Codec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4);
    if (!codec)
        return false;
    ctx_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    spare_ = av_frame_alloc();
    if (!ctx_ || !packet_ || !frame_ || !spare_) {
        close();
        return false;
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
        return false;
    }
    width_ = width;
    height_ = height;
    return true;
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
    rejected_.clear();
    width_ = height_ = 0;
}

bool VideoDecoder::receive(const uint8_t* data, int length, bool paddedInput)
{
    av_frame_unref(frame_);
    static_assert(kInputPadding >= AV_INPUT_BUFFER_PADDING_SIZE,
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

bool VideoDecoder::decode(const uint8_t* data, int length, bool paddedInput, Planes& planes)
{
    rejected_.clear();
    if (!ctx_ || !data || length <= 0 || !receive(data, length, paddedInput))
        return false;
    const AVFrame* f = frame_;
    if (f->format != AV_PIX_FMT_YUV420P && f->format != AV_PIX_FMT_YUVJ420P) {
        // A picture of a kind the converter does not take (4:2:2, 4:4:4, more than 8 bits).
        const char* profile = avcodec_profile_name(ctx_->codec_id, ctx_->profile);
        const char* format = av_get_pix_fmt_name(static_cast<AVPixelFormat>(f->format));
        rejected_ = ctx_->codec_id == AV_CODEC_ID_H264 ? "H.264" : "MPEG-4 Visual";
        if (profile)
            rejected_ += std::string(" ") + profile + " profile";
        rejected_ += std::string(", ") + (format ? format : "unknown pixel format");
        av_frame_unref(frame_);
        return false;
    }
    const int w = std::min(f->width, width_);
    const int h = std::min(f->height, height_);
    if (w <= 0 || h <= 0 || !f->data[0] || !f->data[1] || !f->data[2] || f->linesize[0] < w ||
        f->linesize[1] < w / 2 || f->linesize[2] < w / 2) {
        av_frame_unref(frame_);
        return false;
    }
    planes = Planes{};
    planes.y = f->data[0];
    planes.u = f->data[1];
    planes.v = f->data[2];
    planes.yStride = f->linesize[0];
    planes.uStride = f->linesize[1];
    planes.vStride = f->linesize[2];
    planes.width = w;
    planes.height = h;
    // The pixel aspect the stream declares (the frame's, else the stream header's), when it
    // is a sensible one; the headers write each term in 8 or 16 bits.
    AVRational sar = f->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        sar = ctx_->sample_aspect_ratio;
    if (sar.num > 0 && sar.den > 0) {
        av_reduce(&sar.num, &sar.den, sar.num, sar.den, 65535);
        planes.sampleAspectNum = sar.num;
        planes.sampleAspectDen = sar.den;
    }
    return true;
}

}   // namespace kevra
