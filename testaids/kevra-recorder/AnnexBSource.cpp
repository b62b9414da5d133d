#include "AnnexBSource.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace kevra {
namespace {

// True when the bytes hold a start code followed by a coded slice (NAL type 1 or 5).
bool hasSlice(const uint8_t* p, int n)
{
    for (int i = 0; i + 3 < n; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            int type = p[i + 3] & 0x1F;
            if (type == 1 || type == 5)
                return true;
            i += 2;
        }
    return false;
}

}   // namespace

int AnnexBSource::load(const std::string& path)
{
    problem_.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        problem_ = std::string("cannot open it: ") + std::strerror(errno);
        return -1;
    }
    std::vector<uint8_t> data;
    uint8_t block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) {
        if (data.size() + n > (size_t(512) << 20)) {
            std::fclose(f);
            problem_ = "it is larger than 512 MiB";
            return -1;
        }
        data.insert(data.end(), block, block + n);
    }
    const bool failed = std::ferror(f) != 0;
    const int error = errno;
    std::fclose(f);
    if (failed) {
        problem_ = std::string("cannot read it: ") + std::strerror(error);
        return -1;
    }
    return loadBytes(data.data(), data.size());
}

int AnnexBSource::loadBytes(const uint8_t* data, size_t length)
{
    frames_.clear();
    width_ = height_ = 0;
    problem_.clear();
    // The parser's own complaints about bytes that are not H.264 would reach standard error as
    // raw library lines; the outcome is told in one sentence instead. Runs before other threads.
    AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_H264);
    AVCodecContext* ctx = avcodec_alloc_context3(nullptr);
    if (!parser || !ctx) {
        if (parser)
            av_parser_close(parser);
        avcodec_free_context(&ctx);
        problem_ = "the H.264 parser could not be made";
        return -1;
    }
    const int logLevel = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);
    // The parser reads up to AV_INPUT_BUFFER_PADDING_SIZE bytes past what it is given (when it
    // joins a frame across calls): it reads a zero-padded copy.
    std::vector<uint8_t> padded(data, data + length);
    padded.resize(length + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    data = padded.data();
    size_t at = 0;
    bool flushed = false;
    while (!flushed) {
        const uint8_t* in = data + at;
        int inLength = static_cast<int>(std::min<size_t>(length - at, 1 << 20));
        if (inLength == 0)
            flushed = true;   // an empty call flushes the last frame
        uint8_t* out = nullptr;
        int outLength = 0;
        int used = av_parser_parse2(parser, ctx, &out, &outLength, flushed ? nullptr : in, inLength,
                                    AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0)
            break;
        at += static_cast<size_t>(used);
        if (outLength > 0 && hasSlice(out, outLength)) {
            Frame fr;
            fr.bytes.assign(out, out + outLength);
            fr.key = parser->key_frame == 1;
            frames_.push_back(std::move(fr));
            if (parser->width > 0 && parser->height > 0) {
                width_ = parser->width;
                height_ = parser->height;
            }
        }
    }
    av_parser_close(parser);
    avcodec_free_context(&ctx);
    av_log_set_level(logLevel);
    if (frames_.empty()) {
        problem_ = "it holds no H.264 (Annex B) picture";
        return -1;
    }
    return 0;
}

}   // namespace kevra
