#include "demux/FormatProbe.h"
#include "demux/StartCodes.h"

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

// Every stream format, in one place: its name for people and how its parser is built. A new
// format adds its entry here, its evidence to Evidence and scanMore, and its place in kChoices.
struct FormatEntry {
    StreamFormat format;
    const char* name;
    std::unique_ptr<FrameParser> (*create)(const FormatProbe::ParserSetup&);
};

using Setup = FormatProbe::ParserSetup;

// A parser that needs only the work buffer.
template <typename Parser>
std::unique_ptr<FrameParser> withBuffer(const Setup& s)
{
    return std::make_unique<Parser>(s.buffer, s.capacity);
}

const FormatEntry kFormats[] = {
    {StreamFormat::None, "none", nullptr},
    {StreamFormat::Mpeg4Es, "mpeg4-es",
     [](const Setup& s) -> std::unique_ptr<FrameParser> {
         return std::make_unique<Mpeg4EsParser>(s.buffer, s.capacity, s.mpeg4Mode, s.tmpl);
     }},
    {StreamFormat::Kxpt, "kxpt", withBuffer<KxptParser>},
    {StreamFormat::Packet, "packet", withBuffer<PacketParser>},
    {StreamFormat::Chunk, "chunk", withBuffer<ChunkParser>},
    {StreamFormat::PacketAudioOnly, "packet-audio-only", withBuffer<PacketParser>},
    {StreamFormat::ProgramStream, "program-stream", withBuffer<ProgramStreamParser>},
    {StreamFormat::Kxav, "kxav", withBuffer<KxavParser>},
    {StreamFormat::Asf, "asf",
     [](const Setup& s) -> std::unique_ptr<FrameParser> {
         return std::make_unique<AsfParser>(s.buffer, s.capacity, s.asfPacketSize,
                                            s.asfVideoStream);
     }},
};

const FormatEntry* findFormat(StreamFormat format)
{
    for (const FormatEntry& e : kFormats)
        if (e.format == format)
            return &e;
    return nullptr;
}

// Which evidence chooses which format, strongest first. KXPT is never probed: it is only
// chosen by the caller.
struct Choice {
    bool FormatProbe::Evidence::*evidence;
    StreamFormat format;
};

using Evidence = FormatProbe::Evidence;

const Choice kChoices[] = {
    {&Evidence::chunk, StreamFormat::Chunk},
    {&Evidence::asf, StreamFormat::Asf},
    {&Evidence::avi, StreamFormat::Mpeg4Es},   // in AVI mode
    {&Evidence::kxav, StreamFormat::Kxav},
    {&Evidence::packet, StreamFormat::Packet},
    {&Evidence::programStream, StreamFormat::ProgramStream},
    {&Evidence::vop, StreamFormat::Mpeg4Es},
    {&Evidence::audioOnly, StreamFormat::PacketAudioOnly},
};

}   // namespace

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
        case start_code::kChunk:
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
        case start_code::kMpeg4Dependent:
        case start_code::kMpeg4Key:
        case start_code::kH264Dependent:
        case start_code::kH264Key:
        case start_code::kDeclaredKey:
            if (remaining >= 12) {
                bool counts = true;
                if (word == start_code::kMpeg4Key || word == start_code::kH264Key) {
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
        case start_code::kVop:
            ++ev.vopCount;
            ev.vop = true;
            noted = true;
            break;
        case start_code::kAudioPacket:
            ev.audioOnly = true;
            noted = true;
            break;
        case tag("RIFF"):
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
        case start_code::kPackHeader:
            ev.programStream = true;
            noted = true;
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
        if (word == firstWord(kAsfHeaderGuid)) {
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

StreamFormat FormatProbe::choose(const Evidence& ev)
{
    for (const Choice& c : kChoices)
        if (ev.*c.evidence && (c.evidence != &Evidence::vop || ev.vopCount >= 1))
            return c.format;
    return StreamFormat::None;
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

std::unique_ptr<FrameParser> FormatProbe::createParser(StreamFormat format,
                                                       const ParserSetup& setup)
{
    const FormatEntry* entry = findFormat(format);
    if (!entry || !entry->create || !setup.buffer)
        return nullptr;
    try {
        return entry->create(setup);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

const char* FormatProbe::name(StreamFormat format)
{
    const FormatEntry* entry = findFormat(format);
    return entry ? entry->name : "unknown";
}

}   // namespace kevra
