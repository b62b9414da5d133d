#include "video/FrameJoiner.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace kevra {

FrameJoiner::~FrameJoiner()
{
    close();
}

int FrameJoiner::open(VideoDecoder::Codec codec)
{
    close();
    codec_ = codec;
    const AVCodecID id = codec == VideoDecoder::Codec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4;
    parser_ = av_parser_init(id);
    ctx_ = avcodec_alloc_context3(nullptr);
    if (!parser_ || !ctx_) {
        close();
        return -1;
    }
    return 0;
}

void FrameJoiner::close()
{
    if (parser_)
        av_parser_close(parser_);
    parser_ = nullptr;
    if (ctx_)
        avcodec_free_context(&ctx_);
    data_ = nullptr;
    remaining_ = 0;
    held_ = 0;
    flushed_ = false;
}

void FrameJoiner::restart()
{
    // The parser keeps no way to drop its buffer; a fresh one forgets the frame in progress.
    if (parser_)
        av_parser_close(parser_);
    parser_ =
        av_parser_init(codec_ == VideoDecoder::Codec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4);
    held_ = 0;
}

void FrameJoiner::feed(const uint8_t* data, int length)
{
    if (flushed_) {
        restart();
        flushed_ = false;
    }
    remaining_ = data && length > 0 ? length : 0;
    // libavcodec's parsers read up to AV_INPUT_BUFFER_PADDING_SIZE bytes past the end of what
    // they are given (when they join a frame that spans several feeds): the bytes go into a
    // buffer of our own with that much zeroed padding, never read in place.
    padded_.assign(data, data + remaining_);
    padded_.resize(size_t(remaining_) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    data_ = padded_.data();
}

bool FrameJoiner::next(const uint8_t*& frame, int& length)
{
    while (parser_ && remaining_ > 0) {
        uint8_t* out = nullptr;
        int outSize = 0;
        const int used = av_parser_parse2(parser_, ctx_, &out, &outSize, data_, remaining_,
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0 || used > remaining_) {
            remaining_ = 0;
            restart();
            return false;
        }
        data_ += used;
        remaining_ -= used;
        held_ += used;
        if (outSize > 0 && out) {
            frame = out;
            length = outSize;
            held_ = 0;
            return true;
        }
        if (used == 0) {
            remaining_ = 0;   // the parser takes nothing more of these bytes
            break;
        }
        if (held_ > kMaxFrameBytes) {
            // No frame end in sight: a damaged stream must not grow the parser's buffer.
            remaining_ = 0;
            restart();
            return false;
        }
    }
    return false;
}

bool FrameJoiner::flush(const uint8_t*& frame, int& length)
{
    if (!parser_ || remaining_ > 0)
        return false;
    uint8_t* out = nullptr;
    int outSize = 0;
    // No bytes: the parser hands out what it holds.
    av_parser_parse2(parser_, ctx_, &out, &outSize, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    held_ = 0;
    if (outSize <= 0 || !out) {
        restart();
        return false;
    }
    frame = out;
    length = outSize;
    flushed_ = true;   // the parser starts afresh with the next feed, once the frame is used
    return true;
}

}   // namespace kevra
