#include "demux/PacketParser.h"
#include "demux/StartCodes.h"

namespace kevra {

namespace {
const uint32_t kCodes[] = {start_code::kAudioPacket,    start_code::kAuxPacket,
                           start_code::kMpeg4Dependent, start_code::kMpeg4Key,
                           start_code::kH264Dependent,  start_code::kH264Key,
                           start_code::kDeclaredKey};
}   // namespace

PacketParser::PacketParser(uint8_t* workBuffer, size_t capacity) : FrameParser(workBuffer, capacity)
{
}

bool PacketParser::isSyncCode(uint32_t code)
{
    return code == start_code::kAudioPacket || code == start_code::kAuxPacket ||
           (code >= start_code::kMpeg4Dependent && code <= start_code::kDeclaredKey);
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
    case start_code::kH264Key:
    case start_code::kMpeg4Key:
    case start_code::kDeclaredKey: {
        MediaFrame* r = beginHeader(12);
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
        r->kind = recordCode(FrameKind::Video);
        r->subtype = recordCode(FrameSubtype::Key);
        r->timeOfDay = 0;
        r->codec = sync_ == start_code::kH264Key
                       ? recordCode(VideoCodec::H264)
                       : (sync_ == start_code::kMpeg4Key ? recordCode(VideoCodec::Mpeg4)
                                                         : recordCode(VideoCodec::Declared1FE));
        r->packetLength = len + 16;
        return takeHeader(r, start, 12, len, len);
    }
    case start_code::kH264Dependent:
    case start_code::kMpeg4Dependent: {
        MediaFrame* r = beginHeader(4);
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
        r->kind = recordCode(FrameKind::Video);
        r->subtype = recordCode(FrameSubtype::Dependent);
        r->codec = sync_ == start_code::kH264Dependent ? recordCode(VideoCodec::H264)
                                                       : recordCode(VideoCodec::Mpeg4);
        r->packetLength = len + 8;
        return takeHeader(r, start, 4, len, len);
    }
    case start_code::kAudioPacket: {
        MediaFrame* r = beginHeader(4);
        if (!r)
            return 0;
        const int len = static_cast<int>(le16(h + 2));
        r->codec = h[0] == recordCode(AudioCodec::Byte10) ? recordCode(AudioCodec::Stored10) : h[0];
        setSampleRate(r, h[1]);
        r->kind = recordCode(FrameKind::Audio);
        r->channels = 1;
        r->packetLength = len + 8;
        return takeHeader(r, start, 4, len, len);
    }
    case start_code::kAuxPacket: {
        MediaFrame* r = beginHeader(12);
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
        r->kind = recordCode(FrameKind::Other);
        // The pointers are set too, so that no record ever points at stale memory.
        return takeHeader(r, start, header, len, len);
    }
    default: return 0;
    }
}

}   // namespace kevra
