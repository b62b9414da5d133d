#include "demux/ProgramStreamParser.h"
#include "demux/StartCodes.h"

#include "demux/VolReader.h"

#include <cstring>
#include <new>

namespace kevra {

namespace {

// Codes a pack's first PES may be followed by: the next pack or video PES, and, inside the
// same pack, an audio PES or a padding packet (multiplexers fill packs to a fixed size).
const uint32_t kCodes[] = {start_code::kPackHeader, start_code::kVideoPes, start_code::kAudioPes,
                           start_code::kPaddingPes};

struct SizeEntry {
    int width, height;
};
const SizeEntry kH264Sizes[] = {
    {704, 576}, {352, 576}, {704, 288},  {352, 288},  {176, 144},   {640, 480},   {320, 240},
    {480, 480}, {800, 592}, {1024, 768}, {1280, 800}, {1280, 1024}, {1600, 1024}, {1600, 1200},
};

// Payload lengths of the maximum-size pieces that continue a split frame.
bool isMaxPiece(int length)
{
    return length == 0xFFE6 || length == 0xFFE8 || length == 0xFFF2;
}

}   // namespace

ProgramStreamParser::ProgramStreamParser(uint8_t* workBuffer, size_t capacity)
    : FrameParser(workBuffer, capacity), merge_(new (std::nothrow) uint8_t[kMergeBufferSize])
{
}

ProgramStreamParser::~ProgramStreamParser() = default;

bool ProgramStreamParser::isSyncCode(uint32_t code)
{
    return code == start_code::kPackHeader || code == start_code::kVideoPes;
}

bool ProgramStreamParser::h264SizeFromCode(int code, int* width, int* height)
{
    if (code < 0 || code >= static_cast<int>(sizeof kH264Sizes / sizeof kH264Sizes[0]))
        return false;
    *width = kH264Sizes[code].width;
    *height = kH264Sizes[code].height;
    return true;
}

int ProgramStreamParser::input(const uint8_t* data, int length)
{
    mergeInUseEnd_ = 0;
    return FrameParser::input(data, length);
}

int ProgramStreamParser::reset(int mode)
{
    if (mode == 2)
        return 0;
    FrameParser::reset(mode);
    continued_ = false;
    merging_ = false;
    mergedLength_ = 0;
    mergeStart_ = 0;
    mergeInUseEnd_ = 0;
    currentType_ = Current::None;
    return 0;
}

int ProgramStreamParser::parseHeader()
{
    currentType_ = Current::None;
    if (merging_ && sync_ == start_code::kVideoPes)
        return parseContinuation();
    return parsePack();
}

int ProgramStreamParser::parseContinuation()
{
    // The cursor stands on PES_packet_length of the next piece.
    if (available_ < 5)
        return 0;
    const uint8_t* h = cursor_;
    const int pesLength = static_cast<int>((h[0] << 8) | h[1]);
    const int headerLength = h[4];
    MediaFrame* r = beginHeader(headerLength + 5);
    if (!r)
        return 0;
    const int payloadLength = pesLength - headerLength - 3;
    r->kind = recordCode(FrameKind::Video);
    r->codec = recordCode(VideoCodec::Mpeg4);
    r->subtype = recordCode(FrameSubtype::Key);
    r->packetStart = recordPointer(h);
    if (payloadLength < 0) {
        // Not a PES header: the merge cannot go on.
        stopMerging();
        r->payload = recordPointer(h);
        r->payloadLength = 0;
        r->packetLength = 0;
        r->kind = recordCode(FrameKind::Other);
        needed_ = 0;
        currentType_ = Current::Invalid;
        return 1;
    }
    r->payload = recordPointer(h + headerLength + 5);
    r->payloadLength = payloadLength;
    r->packetLength = headerLength + payloadLength + 5;
    needed_ = payloadLength;
    cursor_ += headerLength + 5;
    available_ -= headerLength + 5;
    currentType_ = Current::Piece;
    return 1;
}

int ProgramStreamParser::findCodec(const uint8_t* payload, int length)
{
    for (int i = 0; i + 4 < length; ++i) {
        if (payload[i] != 0 || payload[i + 1] != 0 || payload[i + 2] != 1)
            continue;
        const uint8_t c = payload[i + 3];
        if (c == 0xB0)
            return 0;
        if (c == 0x67 || c == 0x61)
            return 1;
    }
    return -1;
}

int ProgramStreamParser::parsePack()
{
    const uint8_t* start = cursor_ - 4;
    const uint8_t* end = cursor_ + available_;
    bool system = false;
    uint32_t word = kEmptySync;
    for (const uint8_t* q = cursor_; q < end; ++q) {
        word = (word << 8) | *q;
        if (word == start_code::kSystemHeader || word == start_code::kProgramStreamMap) {
            system = true;
            continue;
        }
        if (word != start_code::kVideoPes && word != start_code::kAudioPes)
            continue;
        const uint8_t* pes = q + 1;   // PES_packet_length
        const int rest = static_cast<int>(end - pes);
        if (rest < 5 || rest < pes[4] + 5)
            continue;
        const int headerLength = pes[4];
        const int pesLength = static_cast<int>((pes[0] << 8) | pes[1]);
        MediaFrame* r = beginFrame();
        if (!r)
            return 0;
        const uint8_t* payload = pes + headerLength + 5;
        int payloadLength = pesLength - headerLength - 3;
        if (payloadLength < 0)
            payloadLength = 0;   // not a valid PES: an empty packet that the end check rejects
        r->packetStart = recordPointer(start);
        r->payload = recordPointer(payload);
        r->payloadLength = payloadLength;
        r->packetLength = static_cast<int>(payload - start) + payloadLength;
        needed_ = payloadLength;
        available_ -= static_cast<int>(payload - cursor_);
        cursor_ = payload;
        if (word == start_code::kVideoPes) {
            continued_ = payloadLength == 0xFFF9 - headerLength;
            r->kind = recordCode(FrameKind::Video);
            r->subtype =
                system ? recordCode(FrameSubtype::Key) : recordCode(FrameSubtype::Dependent);
            r->param1 = 1;
            currentType_ = Current::PackVideo;
            pendingCodec_ = false;
            if (!codecDecided_) {
                const int present = static_cast<int>(end - payload);
                const int n = present < payloadLength ? present : payloadLength;
                const int kind = findCodec(payload, n);
                if (kind >= 0 || n >= payloadLength) {
                    codecDecided_ = true;
                    codecKind_ = kind > 0 ? 1 : 0;
                } else {
                    pendingCodec_ = true;   // decided when the whole payload is here
                }
            }
            const uint8_t* recordEnd = start + r->packetLength;
            applyVideoCodec(r, recordEnd < end ? recordEnd : end);
        } else {
            r->kind = recordCode(FrameKind::Audio);
            currentType_ = Current::Pack;
            if (codecKind_ == 1) {
                r->codec = recordCode(AudioCodec::ProgramStreamH264);
                r->bitsPerSample = 16;
                r->sampleRate = 8000;
            } else {
                r->codec = recordCode(AudioCodec::ProgramStreamMpeg4);
            }
        }
        return 1;
    }
    return 0;
}

void ProgramStreamParser::applyVideoCodec(MediaFrame* r, const uint8_t* limit)
{
    const uint8_t* s = r->packetStart;
    const bool system = r->subtype == recordCode(FrameSubtype::Key);
    if (pendingCodec_ || codecKind_ == 0) {
        r->codec = recordCode(VideoCodec::Mpeg4);
    } else {
        r->codec = recordCode(VideoCodec::H264);
        r->param2 = 1;
        if (system && s + 80 < limit) {
            int width, height;
            if (h264SizeFromCode(s[80], &width, &height)) {
                r->width = width;
                r->height = height;
            }
        }
    }
    if (system && s + 81 < limit)
        r->frameRate = s[81];
}

void ProgramStreamParser::hide(MediaFrame* r)
{
    r->kind = recordCode(FrameKind::Other);
    r->packetLength = 0;
}

void ProgramStreamParser::stopMerging()
{
    merging_ = false;
    mergedLength_ = 0;
}

void ProgramStreamParser::scanMpeg4KeyFrame(MediaFrame* r)
{
    const uint8_t* payload = r->payload;
    const int n = r->payloadLength;
    uint32_t word = kEmptySync;
    int volRate = 0;
    for (int i = 0; i < n; ++i) {
        word = (word << 8) | payload[i];
        if (word == start_code::kVop) {
            // Packs without the recorders' private rate byte (other muxers): the VOL's own rate,
            // so the stream has a place to start.
            if (r->frameRate == 0 && volRate > 0)
                r->frameRate = volRate;
            return;
        }
        const uint8_t* b = payload + i + 1;   // bytes after the code
        const int rest = n - (i + 1);
        if (word == start_code::kVolFirst || word == start_code::kVolSecond) {
            int width = r->width, height = r->height, rate = 0;
            if (VolReader::read(payload, n, n, &width, &height, &rate) == 0) {
                r->width = width;
                r->height = height;
                volRate = rate;
            } else {
                r->width = 352;
                r->height = 288;
            }
            if (rest >= 6 && b[0] == 0 && b[1] == 0xCA && r->frameRate == 0)
                r->frameRate = b[5] >> 3;
        } else if (word == start_code::kGroupOfVop && rest >= 3) {
            r->hour = b[0] >> 3;
            r->minute = (b[0] & 7) * 8 + (b[1] >> 5);
            r->second = (b[1] & 0x0F) * 4 + (b[2] >> 6);
            r->timeOfDay = r->hour * 3600 + r->minute * 60 + r->second;
        }
    }
    // No picture start inside the payload: nothing here can be decoded on its own.
    hide(r);
}

void ProgramStreamParser::startMerge(MediaFrame* r, int n)
{
    continued_ = false;
    // A new merge starts behind the merged frames still handed out in this call.
    const int at = mergeInUseEnd_;
    if (!merge_ || n <= 0 || static_cast<size_t>(at) + static_cast<size_t>(n) > kMergeBufferSize) {
        stopMerging();
        r->payloadLength = 0;   // the split frame cannot be rebuilt
        return;
    }
    savedWidth_ = r->width;
    savedHeight_ = r->height;
    savedFrameRate_ = r->frameRate;
    savedSubtype_ = r->subtype;
    std::memcpy(merge_.get() + at, r->packetStart, static_cast<size_t>(n));
    mergeStart_ = at;
    mergedLength_ = n;
    merging_ = true;
    hide(r);
}

int ProgramStreamParser::finishPiece(MediaFrame* r)
{
    r->width = savedWidth_;
    r->height = savedHeight_;
    r->frameRate = savedFrameRate_;
    const int n = r->payloadLength;
    if (r->packetLength > 10 && r->packetStart[10] >= 0x56) {
        stopMerging();
        return 0;
    }
    const size_t total = static_cast<size_t>(mergeStart_) + static_cast<size_t>(mergedLength_) +
                         static_cast<size_t>(n);
    if (!merge_ || total > kMergeBufferSize) {
        // The frame would not fit: it is dropped rather than written past the buffer.
        stopMerging();
        return 0;
    }
    uint8_t* dst = merge_.get() + mergeStart_;
    std::memcpy(dst + mergedLength_, r->payload, static_cast<size_t>(n));
    if (isMaxPiece(n)) {
        mergedLength_ += n;
        hide(r);
        return 1;
    }
    const int whole = mergedLength_ + n;
    merging_ = false;
    mergedLength_ = 0;
    r->packetStart = dst;
    r->payload = dst;
    r->packetLength = whole;
    r->payloadLength = whole;
    r->subtype = savedSubtype_;
    mergeInUseEnd_ = mergeStart_ + whole;
    return 1;
}

int ProgramStreamParser::checkFrameEnd()
{
    MediaFrame* r = current_;
    const Current type = currentType_;
    currentType_ = Current::None;
    if (type == Current::PackVideo && pendingCodec_) {
        // The whole payload is here now.
        pendingCodec_ = false;
        codecDecided_ = true;
        codecKind_ = findCodec(r->payload, r->payloadLength) > 0 ? 1 : 0;
        applyVideoCodec(r, r->packetStart + r->packetLength);
    }
    if (!checkNextSync(kCodes, 4)) {
        // A broken piece or first piece ends the merge: its frame cannot be rebuilt whole.
        if (type == Current::Piece)
            stopMerging();
        if (type == Current::PackVideo)
            continued_ = false;
        return 0;
    }
    if (type == Current::Invalid)
        return 0;
    if (type == Current::Piece)
        return finishPiece(r);
    if (codecKind_ != 0 || type == Current::None)
        return 1;
    if (r->kind == recordCode(FrameKind::Video)) {
        const int packetLength = r->packetLength;
        if (r->subtype == recordCode(FrameSubtype::Key))
            scanMpeg4KeyFrame(r);
        if (continued_)
            startMerge(r, packetLength);
    } else if (r->kind == recordCode(FrameKind::Audio)) {
        r->bitsPerSample = 16;
        r->channels = 1;
        r->sampleRate = r->payloadLength == 288 ? 32000 : 16000;
    }
    return 1;
}

}   // namespace kevra
