#include "OutputFiles.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace kevra {
namespace {

// The file name's extension in lower case; "" when the name (after its folder) has no dot, or
// only a leading one when `leadingDot` is false.
std::string lowerExtension(const std::string& path, bool leadingDot)
{
    const std::string name = path.substr(path.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || (dot == 0 && !leadingDot))
        return {};
    std::string ext = name.substr(dot + 1);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

}   // namespace

bool pngName(const std::string& path)
{
    const std::string ext = lowerExtension(path, false);
    return ext.empty() || ext == "png";
}

bool isClipName(const std::string& path)
{
    const std::string ext = lowerExtension(path, true);
    return ext == "mp4" || ext == "mkv";
}

int writableError(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    if (access(path.c_str(), F_OK) == 0)
        return access(path.c_str(), W_OK) == 0 ? 0 : errno;
    return access(folder.c_str(), W_OK) == 0 ? 0 : errno;
}

int writePng(const std::string& path, const uint8_t* bgra, int width, int height)
{
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec)
        return -1;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    int result = -1;
    if (ctx && frame && packet) {
        ctx->width = width;
        ctx->height = height;
        ctx->pix_fmt = AV_PIX_FMT_RGB24;
        ctx->time_base = AVRational{1, 25};
        frame->format = AV_PIX_FMT_RGB24;
        frame->width = width;
        frame->height = height;
        if (avcodec_open2(ctx, codec, nullptr) == 0 && av_frame_get_buffer(frame, 0) == 0) {
            for (int row = 0; row < height; ++row) {
                const uint8_t* src = bgra + size_t(height - 1 - row) * size_t(width) * 4;
                uint8_t* dst = frame->data[0] + size_t(row) * size_t(frame->linesize[0]);
                for (int x = 0; x < width; ++x) {
                    dst[3 * x] = src[4 * x + 2];
                    dst[3 * x + 1] = src[4 * x + 1];
                    dst[3 * x + 2] = src[4 * x];
                }
            }
            if (avcodec_send_frame(ctx, frame) == 0 && avcodec_send_frame(ctx, nullptr) == 0 &&
                avcodec_receive_packet(ctx, packet) == 0) {
                const bool toStdout = path == "-";
                std::FILE* f = toStdout ? stdout : std::fopen(path.c_str(), "wb");
                if (f) {
                    bool ok = std::fwrite(packet->data, 1, size_t(packet->size), f) ==
                              size_t(packet->size);
                    ok = (toStdout ? std::fflush(f) : std::fclose(f)) == 0 && ok;
                    result = ok ? 0 : -1;
                }
            }
        }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return result;
}

}   // namespace kevra
