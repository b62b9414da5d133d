#include "demux/PacketParser.h"

namespace kevra {

namespace {
const uint32_t kCodes[] = {0x000001F0, 0x000001F1, 0x000001FA, 0x000001FB,
                           0x000001FC, 0x000001FD, 0x000001FE};
}   // namespace

PacketParser::PacketParser(uint8_t* workBuffer, size_t capacity) : FrameParser(workBuffer, capacity)
{
}

bool PacketParser::isSyncCode(uint32_t code)
{
    return code == 0x000001F0 || code == 0x000001F1 || (code >= 0x000001FA && code <= 0x000001FE);
}

int PacketParser::checkFrameEnd()
{
    return checkNextSync(kCodes, 7);
}

int PacketParser::parseHeader()
{
    const uint8_t* h = cursor_;
    const uint8_t* start = cursor_ - 4;
    switch (sync_) {
    case 0x000001FD:
    case 0x000001FB:
    case 0x000001FE: {
        if (available_ < 12)
            return 0;
        MediaFrame* r = beginFrame();
        if (!r)
            return 0;
        const int len = static_cast<int>(le24(h + 8));
        r->param2 = h[0];
        r->frameRate = h[1] & 0x1F;
        r->param1 = h[1] >> 5;
        r->width = h[2] * 8;
        r->height = h[3] * 8;
        setDateTime(r, le32(h + 4));
        formatWord_ = h[11];
        r->kind = frame_kind::VIDEO;
        r->subtype = frame_subtype::KEY;
        r->timeOfDay = 0;
        r->codec = sync_ == 0x000001FD
                       ? video_codec::H264
                       : (sync_ == 0x000001FB ? video_codec::MPEG4 : video_codec::DECLARED_1FE);
        r->packetStart = recordPointer(start);
        r->payload = recordPointer(h + 12);
        r->packetLength = len + 16;
        r->payloadLength = len;
        needed_ = len;
        cursor_ += 12;
        available_ -= 12;
        return 1;
    }
    case 0x000001FC:
    case 0x000001FA: {
        if (available_ < 4)
            return 0;
        MediaFrame* r = beginFrame();
        if (!r)
            return 0;
        int len = static_cast<int>(le24(h));
        const uint32_t seq = h[3];
        if (formatWord_ == 0)
            formatWord_ = seq;
        const bool inSequence =
            (formatWord_ <= seq && seq <= formatWord_ + 1) || (seq == 0 && formatWord_ == 255);
        if (!inSequence && len > 0)
            len -= 1;   // the end check then lands inside the payload and rejects the frame
        formatWord_ = seq;
        r->kind = frame_kind::VIDEO;
        r->subtype = frame_subtype::DEPENDENT;
        r->codec = sync_ == 0x000001FC ? video_codec::H264 : video_codec::MPEG4;
        r->packetStart = recordPointer(start);
        r->payload = recordPointer(h + 4);
        r->packetLength = len + 8;
        r->payloadLength = len;
        needed_ = len;
        cursor_ += 4;
        available_ -= 4;
        return 1;
    }
    case 0x000001F0: {
        if (available_ < 4)
            return 0;
        MediaFrame* r = beginFrame();
        if (!r)
            return 0;
        const int len = static_cast<int>(le16(h + 2));
        r->codec = h[0] == audio_codec::BYTE_10 ? audio_codec::STORED_10 : h[0];
        setSampleRate(r, h[1]);
        r->kind = frame_kind::AUDIO;
        r->channels = 1;
        r->packetStart = recordPointer(start);
        r->payload = recordPointer(h + 4);
        r->packetLength = len + 8;
        r->payloadLength = len;
        needed_ = len;
        cursor_ += 4;
        available_ -= 4;
        return 1;
    }
    case 0x000001F1: {
        if (available_ < 12)
            return 0;
        MediaFrame* r = beginFrame();
        if (!r)
            return 0;
        int len;
        int header;
        if (h[0] == 8) {
            const uint32_t declared = le32(h + 8);
            // A length beyond what one block can hold is passed to the loop as "too large";
            // it must not turn negative.
            len = declared > 0x7FFFFFF0u ? 0x7FFFFFF0 : static_cast<int>(declared);
            header = 12;
            r->packetLength = len > 0x7FFFFFF0 - 16 ? 0x7FFFFFF0 : len + 16;
        } else {
            len = 4;
            header = 4;
            r->packetLength = 0;
        }
        r->kind = frame_kind::OTHER;
        // The pointers are set too, so that no record ever points at stale memory.
        r->packetStart = recordPointer(start);
        r->payload = recordPointer(h + header);
        r->payloadLength = len;
        needed_ = len;
        cursor_ += header;
        available_ -= header;
        return 1;
    }
    default: return 0;
    }
}

}   // namespace kevra
