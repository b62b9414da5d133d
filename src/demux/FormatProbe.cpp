#include "demux/FormatProbe.h"

#include "demux/KxavParser.h"
#include "demux/KxptParser.h"
#include "demux/PacketParser.h"
#include "demux/AsfParser.h"
#include "demux/ChunkParser.h"
#include "demux/Mpeg4EsParser.h"
#include "demux/ProgramStreamParser.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kevra {

namespace {

// ASF object identifiers in their stored byte order.
const uint8_t kAsfHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const uint8_t kAsfVideoGuid[16] = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                                   0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
const uint8_t kAsfAudioGuid[16] = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                                   0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};

constexpr uint32_t tag(const char (&s)[5])
{
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

uint32_t firstWord(const uint8_t* g)
{
    return (uint32_t(g[0]) << 24) | (uint32_t(g[1]) << 16) | (uint32_t(g[2]) << 8) | g[3];
}

uint32_t le32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

bool oneOf(int v, std::initializer_list<int> values)
{
    for (int x : values)
        if (v == x)
            return true;
    return false;
}

// True when the bytes that are there (up to n) match `expected`.
bool prefixMatches(const uint8_t* data, const uint8_t* expected, int n)
{
    return n <= 0 || std::memcmp(data, expected, static_cast<size_t>(n)) == 0;
}

}   // namespace

bool FormatProbe::hasParser(int format)
{
    switch (format) {
    case stream_format::MPEG4_ES:
    case stream_format::KXPT:
    case stream_format::PACKET:
    case stream_format::CHUNK:
    case stream_format::PACKET_AUDIO_ONLY:
    case stream_format::PROGRAM_STREAM:
    case stream_format::KXAV:
    case stream_format::ASF: return true;
    default: return false;
    }
}

FormatProbe::Evidence FormatProbe::scan(const uint8_t* data, int length)
{
    Scan s;
    scanMore(s, data, length, true);
    return s.evidence;
}

void FormatProbe::scanMore(Scan& st, const uint8_t* data, int length, bool whole)
{
    Evidence& ev = st.evidence;
    st.waiting = false;
    if (!data || length <= 0)
        return;
    const bool haveChunk = hasParser(stream_format::CHUNK),
               haveMpeg4 = hasParser(stream_format::MPEG4_ES),
               havePs = hasParser(stream_format::PROGRAM_STREAM),
               haveAsf = hasParser(stream_format::ASF);
    uint32_t word = st.word;
    int i = st.next;
    for (; i < length && !st.finished; ++i) {
        word = (word << 8) | data[i];
        const int p = i + 1;   // first byte after the code
        const int remaining = length - p;
        const int consumed = p;
        bool noted = false;   // evidence that ends a late scan
        bool cut = false;     // a header that runs past the bytes at hand
        switch (word) {
        case 0x000001F2:
            if (!haveChunk)
                break;
            if (remaining >= 12) {
                const uint32_t w = data[p + 2] | (data[p + 3] << 8);
                const int width = ((w >> 3) & 0x3F) * 16;
                const int height = ((w >> 9) & 0x7F) * 16;
                const int rate = data[p + 1] >> 3;
                if (oneOf(width, {704, 352, 176, 600, 720}) &&
                    oneOf(height, {576, 480, 288, 240, 144, 120}) && rate >= 1 && rate <= 100) {
                    ev.chunk = true;
                    noted = true;
                }
            } else {
                cut = true;
            }
            break;
        case 0x000001FA:
        case 0x000001FB:
        case 0x000001FC:
        case 0x000001FD:
        case 0x000001FE:
            if (remaining >= 12) {
                bool counts = true;
                if (word == 0x000001FB || word == 0x000001FD) {
                    const int width = data[p + 2] * 8, height = data[p + 3] * 8;
                    const int rate = data[p + 1] & 0x1F;
                    counts = width >= 160 && width <= 1920 && height >= 120 && height <= 1216 &&
                             rate >= 1 && rate <= 100;
                }
                if (counts) {
                    ev.packet = true;
                    noted = true;
                }
            } else {
                cut = true;
            }
            break;
        case 0x000001B6:
            ++ev.vopCount;
            if (haveMpeg4) {
                ev.vop = true;
                noted = true;
            }
            break;
        case 0x000001F0:
            ev.audioOnly = true;
            noted = true;
            break;
        case tag("RIFF"):
            if (!haveMpeg4)
                break;
            // "RIFF" size "AVI " "LIST" size "hdrl": the header list is waited for whole.
            if (!whole && remaining < 20 &&
                prefixMatches(data + p + 4, (const uint8_t*)"AVI ", std::min(4, remaining - 4))) {
                cut = true;
            } else if (remaining >= 9 && std::memcmp(data + p + 4, "AVI ", 4) == 0) {
                ev.avi = true;
                ev.riffEnd = p;
                if (remaining >= 20 && std::memcmp(data + p + 8, "LIST", 4) == 0 &&
                    std::memcmp(data + p + 16, "hdrl", 4) == 0)
                    st.headerEnd =
                        p + 16 +
                        static_cast<int>(std::min<uint32_t>(le32(data + p + 12), kWholeBlockLimit));
                st.finished = true;   // decided at once
            }
            break;
        case 0x000001BA:
            if (havePs) {
                ev.programStream = true;
                noted = true;
            }
            break;
        case KxavParser::kMagic:
            if (remaining >= 20) {
                if (KxavParser::headerChecksum(data + p - 4) == data[p + 19]) {
                    ev.kxav = true;
                    noted = true;
                }
            } else {
                cut = true;
            }
            break;
        default: break;
        }
        if (haveAsf && word == firstWord(kAsfHeaderGuid)) {
            if (remaining >= 131) {
                if (std::memcmp(data + p, kAsfHeaderGuid + 4, 12) == 0) {
                    ev.asf = true;
                    ev.asfPacketSize = static_cast<int>(le32(data + p - 4 + 122) & 0x7FFFFFFF);
                    // The header object's size (64 bits after the GUID) bounds the wait for
                    // a stream properties object.
                    const uint32_t size = le32(data + p + 12);
                    const bool small = le32(data + p + 16) == 0 && size <= kWholeBlockLimit;
                    st.headerEnd = p - 4 + static_cast<int>(small ? size : kWholeBlockLimit);
                }
            } else if (prefixMatches(data + p, kAsfHeaderGuid + 4, std::min(12, remaining))) {
                cut = true;
            }
        }
        if (ev.asf && !st.finished &&
            (word == firstWord(kAsfVideoGuid) || word == firstWord(kAsfAudioGuid))) {
            const uint8_t* guid = word == firstWord(kAsfVideoGuid) ? kAsfVideoGuid : kAsfAudioGuid;
            if (remaining >= 81) {
                if (std::memcmp(data + p, guid + 4, 12) == 0) {
                    const int number = data[p + 44] & 0x7F;
                    ev.asfVideoStream = guid == kAsfVideoGuid ? number : (number == 1 ? 2 : 1);
                    st.headerEnd = -1;
                    st.finished = true;
                }
            } else if (prefixMatches(data + p, guid + 4, std::min(12, remaining))) {
                cut = true;
            }
        }
        if (cut && !whole) {
            // Judged again from the code's first byte once more bytes have come.
            st.word = 0xFFFFFFFFu;
            st.next = p - 4;
            st.waiting = true;
            return;
        }
        if (noted && consumed > kWholeBlockLimit)
            st.finished = true;
    }
    st.word = word;
    st.next = i;
    if (whole)
        return;
    if (st.headerEnd > length && length < kWholeBlockLimit)
        st.waiting = true;   // the file header is not complete yet
}

int FormatProbe::choose(const Evidence& ev)
{
    if (ev.chunk)
        return stream_format::CHUNK;
    if (ev.asf)
        return stream_format::ASF;
    if (ev.avi)
        return stream_format::MPEG4_ES;
    if (ev.kxav)
        return stream_format::KXAV;
    if (ev.packet)
        return stream_format::PACKET;
    if (ev.programStream)
        return stream_format::PROGRAM_STREAM;
    if (ev.vop && ev.vopCount >= 1)
        return stream_format::MPEG4_ES;
    if (ev.audioOnly)
        return stream_format::PACKET_AUDIO_ONLY;
    return -1;
}

void FormatProbe::readAviHeader(const uint8_t* data, int length, int riffEnd, MediaFrame* tmpl)
{
    std::memset(tmpl, 0, sizeof(*tmpl));
    if (data && riffEnd >= 0) {
        uint32_t word = tag("RIFF");
        bool audioStream = false;
        for (int i = riffEnd; i < length; ++i) {
            word = (word << 8) | data[i];
            const int p = i + 1;
            const int remaining = length - p;
            if (word == tag("avih")) {
                if (remaining >= 8) {
                    const uint32_t period = le32(data + p + 4);
                    tmpl->frameRate =
                        period == 0 ? kDefaultAviRate : static_cast<int32_t>(1000000u / period);
                }
                if (remaining >= 44) {
                    tmpl->width = static_cast<int32_t>(le32(data + p + 36));
                    tmpl->height = static_cast<int32_t>(le32(data + p + 40));
                }
                i = p + 36 - 1;   // resume 36 bytes after the tag
                word = 0xFFFFFFFFu;
            } else if (word == tag("auds")) {
                audioStream = true;
            } else if (word == tag("strf") && audioStream && remaining > 20) {
                tmpl->bitsPerSample = 8 * static_cast<int32_t>(data[p + 16] | (data[p + 17] << 8));
                tmpl->sampleRate = static_cast<int32_t>(le32(data + p + 8));
                break;
            }
        }
    }
    if (tmpl->bitsPerSample != 8 && tmpl->bitsPerSample != 16)
        tmpl->bitsPerSample = 8;
    if (tmpl->sampleRate < 4000 || tmpl->sampleRate > 48000)
        tmpl->sampleRate = 8000;
}

std::unique_ptr<FrameParser> FormatProbe::createParser(int format, uint8_t* buffer, size_t capacity,
                                                       int mpeg4Mode, const MediaFrame* tmpl,
                                                       int asfPacketSize, int asfVideoStream)
{
    if (!buffer)
        return nullptr;
    try {
        switch (format) {
        case stream_format::MPEG4_ES:
            return std::make_unique<Mpeg4EsParser>(buffer, capacity, mpeg4Mode, tmpl);
        case stream_format::KXPT: return std::make_unique<KxptParser>(buffer, capacity);
        case stream_format::PACKET:
        case stream_format::PACKET_AUDIO_ONLY:
            return std::make_unique<PacketParser>(buffer, capacity);
        case stream_format::CHUNK: return std::make_unique<ChunkParser>(buffer, capacity);
        case stream_format::PROGRAM_STREAM:
            return std::make_unique<ProgramStreamParser>(buffer, capacity);
        case stream_format::KXAV: return std::make_unique<KxavParser>(buffer, capacity);
        case stream_format::ASF:
            return std::make_unique<AsfParser>(buffer, capacity, asfPacketSize, asfVideoStream);
        default: return nullptr;
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}   // namespace kevra
