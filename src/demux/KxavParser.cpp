#include "demux/KxavParser.h"

#include <cstring>
#include <new>

namespace kevra {

namespace {
const uint32_t kCodes[] = {KxavParser::kMagic};
constexpr int kMaxTotal = 0x7FFFFFF0;
}   // namespace

KxavParser::KxavParser(uint8_t* workBuffer, size_t capacity) : FrameParser(workBuffer, capacity)
{
}

bool KxavParser::isSyncCode(uint32_t code)
{
    return code == kMagic;
}

uint8_t KxavParser::headerChecksum(const uint8_t* h)
{
    unsigned sum = 0;
    for (int i = 0; i < 23; ++i)
        sum += h[i];
    return static_cast<uint8_t>(sum);
}

int KxavParser::input(const uint8_t* data, int length)
{
    texts_.clear();   // records of the previous call are no longer valid
    return FrameParser::input(data, length);
}

int KxavParser::reset(int mode)
{
    if (mode != 2)
        lastSequence_ = 0;
    return FrameParser::reset(mode);
}

int KxavParser::checkFrameEnd()
{
    return checkNextSync(kCodes, 1);
}

int KxavParser::skipHeader()
{
    const uint8_t* h = cursor_ - 4;
    MediaFrame* r = beginFrame();
    if (!r)
        return 0;
    // A 4-byte frame over the header bytes after the magic; the end check that follows
    // normally rejects it and the scan resumes inside the header.
    r->kind = recordCode(FrameKind::Other);
    r->packetStart = recordPointer(h);
    r->payload = recordPointer(h + 4);
    r->packetLength = 8;
    r->payloadLength = 4;
    needed_ = 4;
    cursor_ += 4;
    available_ -= 4;
    return 1;
}

void KxavParser::takeText(MediaFrame* r, const uint8_t* packet, int total, int payloadOffset,
                          int payloadBytes)
{
    const uint8_t* p = packet + payloadOffset;
    if (payloadBytes < 12 || std::memcmp(p, "TEXT", 4) != 0)
        return;
    const uint32_t declared = le32(p + 8);
    // The text and the zero after it stay inside the packet, whatever the length says.
    const int64_t room = static_cast<int64_t>(total) - payloadOffset - 12 - 1;
    int n = 0;
    if (room > 0)
        n = declared > static_cast<uint64_t>(room) ? static_cast<int>(room)
                                                   : static_cast<int>(declared);
    // The terminated copy is ours, so the caller's block is never written.
    uint8_t* copy = new (std::nothrow) uint8_t[static_cast<size_t>(n) + 1];
    if (!copy)
        return;
    std::memcpy(copy, p + 12, static_cast<size_t>(n));
    copy[n] = 0;
    try {
        texts_.emplace_back(copy);
    } catch (const std::bad_alloc&) {
        delete[] copy;
        return;
    }
    r->subtype = recordCode(FrameSubtype::Text);
    r->payload = copy;
    r->payloadLength = n;
}

int KxavParser::parseHeader()
{
    if (available_ < 20)
        return 0;
    const uint8_t* h = cursor_ - 4;   // the magic
    if (headerChecksum(h) != h[23])
        return skipHeader();
    const int e = h[22];
    extensionLength_ = e;
    if (available_ < e + 20)
        return 0;
    const uint32_t declaredTotal = le32(h + 12);
    if (declaredTotal < static_cast<uint32_t>(kHeaderBytes + e + kTrailerBytes) ||
        declaredTotal > static_cast<uint32_t>(kMaxTotal))
        return skipHeader();   // a length that cannot describe this packet
    const int total = static_cast<int>(declaredTotal);
    const int payloadBytes = total - kHeaderBytes - e - kTrailerBytes;
    const int present = available_ + 4;   // bytes from the magic that are at hand
    const uint8_t type = h[4];

    // Key-frame description, checked before a record is taken.
    int width = 0, height = 0, rate = 0, scan = -1, codecByte = 0;
    if (type == 0xFD) {
        if (present < 32)
            return skipHeader();
        if (h[24] == 0x80 && h[28] == 0x81) {
            width = h[26] * 8;
            height = h[27] * 8;
            rate = h[31];
            scan = h[25];
            codecByte = h[30];
        } else if (h[24] == 0x81 && h[28] == 0x80) {
            width = h[30] * 8;
            height = h[31] * 8;
            rate = h[27];
            scan = h[29];
            codecByte = h[26];
        } else {
            return skipHeader();   // neither block order: pass over it
        }
        if (codecByte != 1 && codecByte != 2 && codecByte != 8)
            return skipHeader();
    }
    if (type == 0xF1 && h[5] == 6) {
        // Text: the whole packet must be at hand (and a little more, as the recorder's
        // own reader wants); a packet too large ever to be at hand is taken as it is.
        const int64_t want = static_cast<int64_t>(e) + payloadBytes + 40;
        if (want <= kInputLimit && available_ < want)
            return 0;
    }

    MediaFrame* r = beginFrame();
    if (!r)
        return 0;
    setDateTime(r, le32(h + 16));
    r->packetStart = recordPointer(h);
    r->payload = recordPointer(h + kHeaderBytes + e);
    r->packetLength = total;
    r->payloadLength = payloadBytes;
    needed_ = total - kHeaderBytes;

    switch (type) {
    case 0xFD:
        r->kind = recordCode(FrameKind::Video);
        r->subtype = recordCode(FrameSubtype::Key);
        lastSequence_ = le32(h + 8);
        r->width = width;
        r->height = height;
        r->frameRate = rate;
        if (scan == 0)
            r->param1 = 2;
        else if (scan == 1)
            r->param1 = 1;
        else if (scan == 2)
            r->param1 = 0;
        if (codecByte == 1) {
            r->codec = recordCode(VideoCodec::Mpeg4);
        } else if (codecByte == 2) {
            r->codec = recordCode(VideoCodec::H264Kxav);
            r->param2 = 2;
        } else {
            r->codec = recordCode(VideoCodec::H264);
            r->param2 = 1;
        }
        keyCodec_ = r->codec;
        break;
    case 0xFC:
    case 0xFE: {
        const uint32_t s = le32(h + 8);
        if (lastSequence_ == 0)
            lastSequence_ = s;
        if (static_cast<uint64_t>(s) > static_cast<uint64_t>(lastSequence_) + 1 ||
            s < lastSequence_) {
            // Out of sequence: one byte short, so the end check normally rejects the frame.
            needed_ -= 1;
            // The packet is taken one byte short as well, so that a frame accepted at the end
            // of a block never reaches past the bytes present.
            r->packetLength -= 1;
            if (r->payloadLength > 0)
                r->payloadLength -= 1;
        }
        lastSequence_ = s;
        r->kind = recordCode(FrameKind::Video);
        r->subtype = type == 0xFC ? recordCode(FrameSubtype::Dependent)
                                  : recordCode(FrameSubtype::Dependent2);
        r->codec = keyCodec_;
        break;
    }
    case 0xF0:
        r->kind = recordCode(FrameKind::Audio);
        if (present >= 28) {
            r->codec =
                h[26] == recordCode(AudioCodec::Byte10) ? recordCode(AudioCodec::Stored10) : h[26];
            r->channels = h[25];
            setSampleRate(r, h[27]);
        }
        break;
    case 0xF1:
        r->kind = recordCode(FrameKind::Other);
        if (h[5] == 6) {
            if (static_cast<int64_t>(available_) + 4 >= total)
                takeText(r, h, total, kHeaderBytes + e, payloadBytes);
        } else if (h[5] == 5) {
            r->subtype = recordCode(FrameSubtype::Aux6);
        }
        break;
    default: r->kind = recordCode(FrameKind::Other); break;
    }
    cursor_ += 20;
    available_ -= 20;
    return 1;
}

}   // namespace kevra
