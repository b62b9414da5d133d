#include "demux/KxptParser.h"
#include "demux/StartCodes.h"

namespace kevra {

namespace {
const uint32_t kCodes[] = {KxptParser::kMagic, start_code::kAudioPacket};
}   // namespace

KxptParser::KxptParser(uint8_t* workBuffer, size_t capacity) : FrameParser(workBuffer, capacity)
{
}

bool KxptParser::isSyncCode(uint32_t code)
{
    return code == kMagic || code == start_code::kAudioPacket;
}

int KxptParser::parseHeader()
{
    const uint8_t* h = cursor_;
    MediaFrame* r = beginHeader(4);
    if (!r)
        return 0;
    int len;
    if (sync_ == kMagic) {
        const uint32_t declared = le32(h);
        len = declared > 0x7FFFFFF0u ? 0x7FFFFFF0 : static_cast<int>(declared);
        r->kind = recordCode(FrameKind::Video);
        r->codec = recordCode(VideoCodec::Mpeg4);
    } else {
        len = readAudioHeader(r, h);
    }
    r->packetLength = len > 0x7FFFFFF0 - 8 ? 0x7FFFFFF0 : len + 8;
    return takeHeader(r, h - 4, 4, len, len);
}

int KxptParser::checkFrameEnd()
{
    if (!checkNextSync(kCodes, 2))
        return 0;
    if (current_ && current_->kind == recordCode(FrameKind::Video))
        classifyVideo(current_);
    return 1;
}

void KxptParser::classifyVideo(MediaFrame* r)
{
    const uint8_t* p = r->payload;
    const int n = r->payloadLength;
    if (n < 4) {
        r->payloadLength = 0;
        return;
    }
    const uint32_t first = be32(p);
    if (first == start_code::kVop) {
        r->subtype = recordCode(FrameSubtype::Dependent);
        return;
    }
    if (first != start_code::kVideoObjectFirst) {
        r->payloadLength = 0;   // skipped downstream
        return;
    }
    // Video object headers: read the layer, GOP and user-data headers up to the VOP start.
    // Every field read stays inside the payload.
    uint32_t word = 0xFFFFFFFFu;
    int i = 4;
    while (i < n) {
        word = (word << 8) | p[i++];
        const uint8_t* b = p + i;   // b[0] is the byte after the start code
        const int left = n - i;     // bytes at b
        switch (word) {
        case start_code::kVolFirst:
            if (left >= 8 && b[1] == 4) {
                r->width = b[5] * 4 + (b[6] >> 6);
                r->height = (b[6] & 0x0F) * 256 + b[7];
                i += 8;
            } else if (left >= 9 && b[1] == 6) {
                r->width = b[6] * 8;
                r->height = b[8] * 2;
                i += 8;
            } else {
                r->width = 352;
                r->height = 288;
            }
            word = 0xFFFFFFFFu;
            break;
        case start_code::kGroupOfVop:
            if (left >= 3) {
                r->hour = b[0] >> 3;
                r->minute = (b[0] & 7) * 8 + (b[1] >> 5);
                r->second = (b[1] & 0x0F) * 4 + (b[2] >> 6);
                r->timeOfDay = r->hour * 3600 + r->minute * 60 + r->second;
                i += 2;
            }
            word = 0xFFFFFFFFu;
            break;
        case start_code::kUserData:
            if (left >= 7) {
                int rate = b[6];
                if (rate > 150)
                    rate = rate == 255 ? 1 : 25;
                r->frameRate = rate;
            }
            word = 0xFFFFFFFFu;
            break;
        case start_code::kVop: r->subtype = recordCode(FrameSubtype::Key); return;
        default: break;
        }
    }
    // Object headers without a picture: nothing to decode.
    r->payloadLength = 0;
}

}   // namespace kevra
