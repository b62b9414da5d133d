#include "demux/ChunkParser.h"
#include "demux/StartCodes.h"

#include <new>

namespace kevra {

namespace {
const uint32_t kCodes[] = {start_code::kChunk, start_code::kAudioPacket};
}   // namespace

ChunkParserBuffer::ChunkParserBuffer(size_t size)
    : ownBuffer(new (std::nothrow) uint8_t[size]), ownSize(ownBuffer ? size : 0)
{
}

ChunkParser::ChunkParser(uint8_t* demuxBuffer, size_t capacity)
    : ChunkParserBuffer(kOwnBufferSize), FrameParser(ownBuffer.get(), ownSize),
      inner_(std::make_unique<Mpeg4EsParser>(demuxBuffer, capacity, Mpeg4EsParser::kModeChunk,
                                             nullptr))
{
}

ChunkParser::~ChunkParser() = default;

bool ChunkParser::isSyncCode(uint32_t code)
{
    return code == start_code::kChunk || code == start_code::kAudioPacket;
}

int ChunkParser::parseHeader()
{
    if (available_ < 12)
        return 0;
    const uint8_t* h = cursor_;
    MediaFrame* r = beginFrame();
    if (!r)
        return 0;
    int len;
    if (sync_ == start_code::kChunk) {
        const uint32_t w = le16(h + 2);
        r->frameRate = h[1] >> 3;
        r->width = static_cast<int32_t>(((w >> 3) & 0x3F) * 16);
        r->height = static_cast<int32_t>(((w >> 9) & 0x7F) * 16);
        r->param1 = static_cast<int32_t>(le32(h + 8));
        len = kChunkPayload;
        r->packetLength = kChunkPayload + 16;
        r->kind = recordCode(FrameKind::Video);
        r->codec = recordCode(VideoCodec::Mpeg4);
    } else {
        r->codec = h[0];
        setSampleRate(r, h[1]);
        len = static_cast<int>(le16(h + 2));
        r->packetLength = len + 16;
        r->kind = recordCode(FrameKind::Audio);
        r->channels = 1;
    }
    r->packetStart = recordPointer(cursor_ - 4);
    r->payload = recordPointer(h + 12);
    r->payloadLength = len;
    needed_ = len;
    cursor_ += 12;
    available_ -= 12;
    return 1;
}

int ChunkParser::checkFrameEnd()
{
    return checkNextSync(kCodes, 2);
}

int ChunkParser::input(const uint8_t* data, int length)
{
    if (!data || length <= 0)
        return -1;
    // Frames of the previous block are gone now; the frame being collected moves to the start
    // of the inner buffer (never earlier: records handed out stay intact until this call).
    inner_->flush(true);
    const int result = FrameParser::input(data, length);
    while (MediaFrame* r = FrameParser::nextFrame())
        reassemble(r);
    return result;
}

int ChunkParser::finish()
{
    FrameParser::finish();
    while (MediaFrame* r = FrameParser::nextFrame())
        reassemble(r);
    return inner_->finish();
}

void ChunkParser::reassemble(MediaFrame* r)
{
    if (r->kind == recordCode(FrameKind::Video)) {
        const uint32_t counter = static_cast<uint32_t>(r->param1);
        if (formatWord_ == 0) {
            inner_->restart();
            formatWord_ = counter;
        }
        const uint64_t stored = formatWord_;
        if (stored <= counter && counter <= stored + 1) {
            formatWord_ = counter;
            if (r->payloadLength != 0) {
                inner_->setContainerRecord(*r);
                inner_->input(r->payload, r->payloadLength);
            } else {
                formatWord_ = 0;
                inner_->restart();
            }
        } else {
            // A gap or a step back: the frame being collected cannot be completed.
            formatWord_ = 0;
            inner_->restart();
        }
    } else if (r->kind == recordCode(FrameKind::Audio)) {
        if (r->payloadLength == 0) {
            inner_->restart();
            return;
        }
        MediaFrame* copy = inner_->pool().take();
        if (copy) {
            *copy = *r;
            inner_->pool().pushReady(copy);
        }
    }
}

MediaFrame* ChunkParser::nextFrame()
{
    lastOut_ = inner_->nextFrame();
    return lastOut_;
}

MediaFrame* ChunkParser::nextKeyFrame()
{
    lastOut_ = inner_->nextKeyFrame();
    return lastOut_;
}

}   // namespace kevra
