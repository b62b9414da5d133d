#include "testkit/PatternEncoder.h"

#include <algorithm>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace kevra {
namespace {

const PatternColour kBackground[PatternEncoder::kColourCount] = {
    {200, 40, 40},  {40, 160, 60},  {40, 60, 200},  {200, 180, 40},
    {180, 40, 180}, {40, 170, 180}, {240, 110, 20}, {120, 120, 120}};
const PatternColour kAccent[PatternEncoder::kColourCount] = {
    {240, 220, 60}, {230, 80, 200}, {250, 170, 40}, {60, 60, 220},
    {60, 220, 90},  {230, 110, 40}, {40, 90, 220},  {240, 240, 240}};

// 5 x 7 glyphs, one byte per row, bit 4 = leftmost column.
struct Glyph {
    char c;
    uint8_t rows[7];
};
const Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
};

const uint8_t* glyphRows(char c)
{
    for (const Glyph& g : kGlyphs)
        if (g.c == c)
            return g.rows;
    return nullptr;
}

uint8_t clampByte(double v)
{
    return static_cast<uint8_t>(std::clamp(v + 0.5, 0.0, 255.0));
}

struct Planes {
    uint8_t* y;
    int ys;
    uint8_t* u;
    int us;
    uint8_t* v;
    int vs;
    int w;
    int h;
};

// Fills the rectangle [x0, x1) x [y0, y1), clipped to the picture; chroma on whole 2x2 blocks.
void fillRect(const Planes& p, int x0, int y0, int x1, int y1, PatternColour c)
{
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, p.w);
    y1 = std::min(y1, p.h);
    if (x0 >= x1 || y0 >= y1)
        return;
    uint8_t Y, Cb, Cr;
    PatternEncoder::toYuv(c, Y, Cb, Cr);
    for (int row = y0; row < y1; ++row)
        std::memset(p.y + row * p.ys + x0, Y, x1 - x0);
    int cx0 = x0 / 2, cx1 = (x1 + 1) / 2, cy0 = y0 / 2, cy1 = (y1 + 1) / 2;
    for (int row = cy0; row < cy1; ++row) {
        std::memset(p.u + row * p.us + cx0, Cb, cx1 - cx0);
        std::memset(p.v + row * p.vs + cx0, Cr, cx1 - cx0);
    }
}

void drawText(const Planes& p, int x, int y, int scale, const std::string& s, PatternColour c)
{
    for (char ch : s) {
        const uint8_t* rows = glyphRows(ch);
        if (rows) {
            for (int r = 0; r < 7; ++r)
                for (int col = 0; col < 5; ++col)
                    if (rows[r] & (0x10 >> col))
                        fillRect(p, x + col * scale, y + r * scale, x + (col + 1) * scale,
                                 y + (r + 1) * scale, c);
        }
        x += 6 * scale;
    }
}

}   // namespace

PatternColour PatternEncoder::background(int cameraIndex)
{
    int i = cameraIndex % kColourCount;
    return kBackground[i < 0 ? i + kColourCount : i];
}

PatternColour PatternEncoder::accent(int cameraIndex)
{
    int i = cameraIndex % kColourCount;
    return kAccent[i < 0 ? i + kColourCount : i];
}

PatternColour PatternEncoder::text()
{
    return {235, 235, 235};
}

void PatternEncoder::toYuv(PatternColour c, uint8_t& y, uint8_t& cb, uint8_t& cr)
{
    double r = c.r, g = c.g, b = c.b;
    y = clampByte(16.0 + (65.481 * r + 128.553 * g + 24.966 * b) / 255.0);
    cb = clampByte(128.0 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255.0);
    cr = clampByte(128.0 + (112.0 * r - 93.786 * g - 18.214 * b) / 255.0);
}

void PatternEncoder::draw(int cameraIndex, int64_t frameNumber, int width, int height, uint8_t* y,
                          int yStride, uint8_t* u, int uStride, uint8_t* v, int vStride, bool noise,
                          int panX, int panY)
{
    if (width < 2 || height < 2)
        return;
    Planes p{y, yStride, u, uStride, v, vStride, width, height};
    fillRect(p, 0, 0, width, height, background(cameraIndex));

    // Moving box in the second quarter of the rows.
    int side = std::max(2, (height / 4) & ~1);
    int travel = std::max(1, width - side);
    int step = std::max(2, width / 64);
    int x = static_cast<int>((frameNumber * step) % (2 * travel));
    if (x >= travel)
        x = 2 * travel - x;   // back and forth
    const int dx = (panX * width / 16) & ~1, dy = (panY * height / 16) & ~1;
    fillRect(p, (x & ~1) + dx, height / 4 + dy, (x & ~1) + side + dx, height / 4 + side + dy,
             accent(cameraIndex));
    // Keep the lower half solid even when the box would reach into it.
    fillRect(p, 0, height / 2, width, height, background(cameraIndex));

    int scale = std::max(1, height / 96);
    drawText(p, 2 * scale + dx, 2 * scale + dy, scale, "CAM " + std::to_string(cameraIndex + 1),
             text());
    drawText(p, 2 * scale + dx, 11 * scale + dy, scale, std::to_string(frameNumber), text());
    if (noise) {
        uint32_t state = uint32_t(frameNumber) * 2654435761u + 1u;
        for (int row = 0; row < height / 4; ++row) {
            uint8_t* line = y + row * yStride;
            for (int col = width / 2; col < width; ++col) {
                state = state * 1664525u + 1013904223u;
                line[col] = uint8_t(16 + (state >> 24) * 219 / 255);
            }
        }
    }
    // Text must not reach the solid lower half on very small pictures.
    fillRect(p, 0, height / 2, width, height, background(cameraIndex));
}

void PatternEncoder::codeCells(int cameraIndex, int64_t frameNumber, uint8_t cells[kCodeCells])
{
    const uint32_t data = uint32_t(cameraIndex & 15) << 20 | uint32_t(frameNumber & 0xFFFFF);
    int n = 0;
    const uint8_t start[3] = {1, 0, 1}, stop[5] = {0, 1, 1, 0, 1};
    for (uint8_t b : start)
        cells[n++] = b;
    int ones = 0;
    for (int bit = 23; bit >= 0; --bit) {
        cells[n] = uint8_t(data >> bit & 1);
        ones += cells[n++];
    }
    for (int bit = 3; bit >= 0; --bit)
        cells[n++] = uint8_t((ones & 15) >> bit & 1);
    for (uint8_t b : stop)
        cells[n++] = b;
}

void PatternEncoder::drawCode(int cameraIndex, int64_t frameNumber, int width, int height,
                              uint8_t* y, int yStride, uint8_t* u, int uStride, uint8_t* v,
                              int vStride)
{
    Planes p{y, yStride, u, uStride, v, vStride, width, height};
    const int cell = std::max(2, (width * 7 / 8 / kCodeCells) & ~1);
    const int x0 = ((width - cell * kCodeCells) / 2) & ~1;
    const int y0 = (height * 5 / 8) & ~1;
    const int y1 = std::min(height, y0 + std::max(8, (height / 8) & ~1));
    fillRect(p, x0 - 2 * cell, y0, x0 + (kCodeCells + 2) * cell, y1, {128, 128, 128});
    uint8_t cells[kCodeCells];
    codeCells(cameraIndex, frameNumber, cells);
    for (int i = 0; i < kCodeCells; ++i)
        fillRect(p, x0 + i * cell, y0, x0 + (i + 1) * cell, y1,
                 cells[i] ? PatternColour{255, 255, 255} : PatternColour{0, 0, 0});
}

void PatternEncoder::setPan(int px, int py)
{
    panX_ = std::clamp(px, -kPanLimitX, kPanLimitX);
    panY_ = std::clamp(py, -kPanLimitY, kPanLimitY);
}

PatternEncoder::PatternEncoder() = default;

PatternEncoder::~PatternEncoder()
{
    close();
}

int PatternEncoder::open(int cameraIndex, int width, int height, int fps, int bitrate, int gop,
                         Codec which, int bFrames)
{
    close();
    if (width < 16 || height < 16 || width > 4096 || height > 4096 || (width & 1) || (height & 1) ||
        fps < 1 || fps > 250 || gop < 1 || bitrate < 0 || bFrames < 0 || bFrames > 4)
        return -1;
    const AVCodec* codec = which == Codec::H264 ? avcodec_find_encoder_by_name("libx264")
                                                : avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (!codec)
        return -1;
    context_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!context_ || !frame_ || !packet_) {
        close();
        return -1;
    }
    context_->width = width;
    context_->height = height;
    context_->pix_fmt = AV_PIX_FMT_YUV420P;
    context_->time_base = AVRational{1, fps};
    context_->framerate = AVRational{fps, 1};
    context_->gop_size = gop;
    context_->keyint_min = gop;
    context_->max_b_frames = which == Codec::Mpeg4 ? bFrames : 0;
    context_->thread_count = 1;
    if (aspectNum_ > 0 && aspectDen_ > 0)
        context_->sample_aspect_ratio = AVRational{aspectNum_, aspectDen_};
    if (bitrate > 0) {
        context_->bit_rate = bitrate;
        // A capped rate suits x264's zero-latency mode; the MPEG-4 encoder's rate control fails
        // frames under so tight a cap and is left to average the rate instead.
        if (which == Codec::H264) {
            context_->rc_max_rate = bitrate;
            context_->rc_buffer_size = std::max(bitrate / fps * 2, 8000);
        }
    }
    if (which == Codec::Mpeg4) {
        // Without a global header the encoder writes the sequence and VOL headers before every
        // key frame, so a viewer can start at any of them.
        if (bitrate == 0) {
            context_->flags |= AV_CODEC_FLAG_QSCALE;
            context_->global_quality = FF_QP2LAMBDA * 4;
        }
        if (avcodec_open2(context_, codec, nullptr) < 0) {
            close();
            return -1;
        }
    } else {
        if (openH264(bitrate) != 0) {
            close();
            return -1;
        }
    }
    frame_->format = AV_PIX_FMT_YUV420P;
    frame_->width = width;
    frame_->height = height;
    if (av_frame_get_buffer(frame_, 0) < 0) {
        close();
        return -1;
    }
    codec_ = which;
    bFrames_ = context_->max_b_frames;
    camera_ = cameraIndex;
    width_ = width;
    height_ = height;
    frameNumber_ = 0;
    forceKey_ = false;
    return 0;
}

int PatternEncoder::openH264(int bitrate)
{
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    context_->profile = FF_PROFILE_H264_BASELINE;
    av_opt_set(context_->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context_->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context_->priv_data, "profile", "baseline", 0);
    av_opt_set(context_->priv_data, "x264-params", "repeat-headers=1:scenecut=0", 0);
    av_opt_set_int(context_->priv_data, "forced-idr", 1, 0);
    if (bitrate == 0)
        av_opt_set(context_->priv_data, "crf", "23", 0);
    return avcodec_open2(context_, codec, nullptr) < 0 ? -1 : 0;
}

void PatternEncoder::close()
{
    if (context_)
        avcodec_free_context(&context_);
    if (frame_)
        av_frame_free(&frame_);
    if (packet_)
        av_packet_free(&packet_);
    width_ = height_ = 0;
}

int PatternEncoder::encodeNext(std::vector<uint8_t>& out, bool& keyFrame)
{
    out.clear();
    keyFrame = false;
    if (!context_)
        return -1;
    if (av_frame_make_writable(frame_) < 0)
        return -1;
    draw(camera_, frameNumber_, width_, height_, frame_->data[0], frame_->linesize[0],
         frame_->data[1], frame_->linesize[1], frame_->data[2], frame_->linesize[2], noise_, panX_,
         panY_);
    if (code_)
        drawCode(camera_, frameNumber_, width_, height_, frame_->data[0], frame_->linesize[0],
                 frame_->data[1], frame_->linesize[1], frame_->data[2], frame_->linesize[2]);
    frame_->pts = frameNumber_;
    frame_->pict_type = forceKey_ ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    forceKey_ = false;
    ++frameNumber_;
    if (avcodec_send_frame(context_, frame_) < 0)
        return -1;
    // Zero-latency settings give one packet per frame in.
    for (;;) {
        int r = avcodec_receive_packet(context_, packet_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            break;
        if (r < 0)
            return -1;
        out.insert(out.end(), packet_->data, packet_->data + packet_->size);
        if (packet_->flags & AV_PKT_FLAG_KEY)
            keyFrame = true;
        av_packet_unref(packet_);
    }
    // B-VOPs: the encoder holds frames back until the next reference frame is coded.
    return out.empty() && bFrames_ == 0 ? -1 : 0;
}

}   // namespace kevra
