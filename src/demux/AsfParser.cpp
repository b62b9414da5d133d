#include "demux/AsfParser.h"

#include <cstring>
#include <new>

namespace kevra {

namespace {
const uint32_t kCodes[] = {0x115D0000, 0x105D0000};
}   // namespace

AsfParser::AsfParser(uint8_t* workBuffer, size_t capacity, int packetSize, int videoStream)
    : FrameParser(workBuffer, capacity), packetSize_(packetSize), videoStream_(videoStream),
      innerBuffer_(new (std::nothrow) uint8_t[kWorkBufferSize]),
      output_(new (std::nothrow) uint8_t[kOutputBufferSize])
{
    inner_ = std::make_unique<PacketParser>(innerBuffer_.get(), innerBuffer_ ? kWorkBufferSize : 0);
}

AsfParser::~AsfParser() = default;

bool AsfParser::isSyncCode(uint32_t code)
{
    // A packet size that cannot hold the packet header (or that the input loop could never
    // collect) makes every packet unreadable: nothing is taken as a packet start.
    if (packetSize_ < kPayloadOffset + 1 || packetSize_ >= kLargeFrame)
        return false;
    const uint32_t top = code & 0xFFFF0000u;
    return top == 0x115D0000u || top == 0x105D0000u;
}

int AsfParser::parseHeader()
{
    if (available_ < kPayloadOffset - 4)
        return 0;
    MediaFrame* r = beginFrame();
    if (!r)
        return 0;
    const uint8_t* start = cursor_ - 4;
    const int padding = static_cast<int>(le16(start + 2));
    const int payload = packetSize_ - kPayloadOffset - padding;
    r->packetStart = recordPointer(start);
    r->payload = recordPointer(start + kPayloadOffset);
    r->packetLength = packetSize_;
    r->payloadLength = payload > 0 ? payload : 0;
    needed_ = packetSize_ - kPayloadOffset;
    cursor_ += kPayloadOffset - 4;
    available_ -= kPayloadOffset - 4;
    return 1;
}

int AsfParser::checkFrameEnd()
{
    return checkNextSync(kCodes, 2, 2);
}

int AsfParser::reset(int mode)
{
    if (mode == 2)
        return 0;
    FrameParser::reset(mode);
    inner_->reset(mode);
    outputLength_ = 0;
    return 0;
}

bool AsfParser::appendOutput(const uint8_t* src, size_t n)
{
    if (!output_ || outputLength_ > kOutputBufferSize || n > kOutputBufferSize - outputLength_)
        return false;
    std::memcpy(output_.get() + outputLength_, src, n);
    outputLength_ += n;
    return true;
}

bool AsfParser::appendAudioHeader(int length)
{
    const uint8_t header[kAudioHeader] = {0x00,
                                          0x00,
                                          0x01,
                                          0xF0,
                                          14,
                                          2,
                                          static_cast<uint8_t>(length),
                                          static_cast<uint8_t>(length >> 8)};
    return appendOutput(header, sizeof header);
}

void AsfParser::unpackPacket(const MediaFrame* r)
{
    const uint8_t* p = r->packetStart;
    const int size = r->packetLength;
    const int padding = static_cast<int>(le16(p + 2));
    // Payload data never reaches into the padding at the end of the packet.
    const int end = size - padding;
    if (end <= kPayloadOffset)
        return;
    if ((p[0] & 1) == 0) {
        // Single payload: 8 bytes of replicated data expected before the data.
        if (p[16] != 8)
            return;
        const int n = r->payloadLength;
        if (n <= 0 || kPayloadOffset + n > end)
            return;
        const bool other = (p[10] & 0x1F) != videoStream_;
        if (other) {
            if (n > 0xFFFF ||
                outputLength_ + kAudioHeader + static_cast<size_t>(n) > kOutputBufferSize)
                return;
            appendAudioHeader(n);
        }
        appendOutput(p + kPayloadOffset, static_cast<size_t>(n));
        return;
    }
    const int count = p[10] & 0x1F;
    int lengthAt = 26;
    for (int k = 0; k < count; ++k) {
        if (lengthAt + 2 > end || p[lengthAt - 9] != 8)
            return;   // runs past the packet, or a layout this parser does not read
        const int n = static_cast<int>(le16(p + lengthAt));
        const int dataAt = lengthAt + 2;
        if (dataAt + n > end)
            return;
        const bool other = (p[lengthAt - 15] & 0x1F) != videoStream_;
        const size_t need = static_cast<size_t>(n) + (other ? kAudioHeader : 0);
        if (outputLength_ + need <= kOutputBufferSize) {
            if (other)
                appendAudioHeader(n);
            appendOutput(p + dataAt, static_cast<size_t>(n));
        }
        lengthAt += n + 17;
    }
}

void AsfParser::unpackReadyPackets()
{
    while (MediaFrame* r = pool_.popReady()) {
        pool_.release(r);
        if (r->payloadLength == 0 || r->packetLength == 0)
            continue;
        unpackPacket(r);
    }
    if (outputLength_ > 0) {
        inner_->input(output_.get(), static_cast<int>(outputLength_));
        outputLength_ = 0;
    }
}

int AsfParser::finish()
{
    FrameParser::finish();
    unpackReadyPackets();
    return inner_->finish();
}

MediaFrame* AsfParser::nextFrame()
{
    unpackReadyPackets();
    lastOut_ = inner_->nextFrame();
    return lastOut_;
}

MediaFrame* AsfParser::nextKeyFrame()
{
    unpackReadyPackets();
    lastOut_ = inner_->nextKeyFrame();
    return lastOut_;
}

}   // namespace kevra
