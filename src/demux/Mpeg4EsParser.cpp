#include "demux/Mpeg4EsParser.h"

#include "demux/StartCodeScanner.h"
#include "demux/StartCodes.h"
#include "demux/VolReader.h"

#include <algorithm>
#include <cstring>

namespace kevra {

namespace {

constexpr uint32_t kVop = start_code::kVop;
constexpr uint32_t kAudio = start_code::kAudioPacket;
constexpr uint32_t kAux = start_code::kAuxPacket;
constexpr uint32_t kAviAudio = 0x30317762;   // "01wb"
constexpr uint32_t kVol = start_code::kVolFirst;
constexpr uint32_t kGov = start_code::kGroupOfVop;

int clampLength(int wanted, int room)
{
    if (room < 0)
        room = 0;
    return wanted < 0 ? 0 : (wanted > room ? room : wanted);
}

// An AVI chunk header: a stream's chunk tag (two digits, two lower-case letters) and a size
// that leaves room for a start code.
bool isChunkHeader(const uint8_t* h)
{
    const auto digit = [](uint8_t c) { return c >= '0' && c <= '9'; };
    const auto lower = [](uint8_t c) { return c >= 'a' && c <= 'z'; };
    const uint32_t size =
        uint32_t(h[4]) | uint32_t(h[5]) << 8 | uint32_t(h[6]) << 16 | uint32_t(h[7]) << 24;
    return digit(h[0]) && digit(h[1]) && lower(h[2]) && lower(h[3]) && size >= 4 &&
           size < 0x10000000u;
}

}   // namespace

Mpeg4EsParser::Mpeg4EsParser(uint8_t* workBuffer, size_t capacity, int mode, const MediaFrame* tmpl)
    : FrameParser(workBuffer, capacity), mode_(mode)
{
    if (tmpl)
        template_ = *tmpl;
}

Mpeg4EsParser::~Mpeg4EsParser() = default;

bool Mpeg4EsParser::isSyncCode(uint32_t)
{
    return true;
}

bool Mpeg4EsParser::isFrameStart(uint32_t code) const
{
    if (code == kVop || code == kAux)
        return true;
    if (mode_ == kModeAvi)
        return code == kAviAudio;
    return code == kAudio;
}

int Mpeg4EsParser::reset(int mode)
{
    return FrameParser::reset(mode);
}

void Mpeg4EsParser::dropAll()
{
    if (current_) {
        releaseRecord(current_);
        current_ = nullptr;
    }
    clearSync(kEmptySync, 0);
    // In mode 1 the ready queue may still point into the buffer (the container feeds many
    // chunks before its consumer takes the frames): the bytes stay until the next flush.
    if (mode_ != kModeChunk)
        held_ = 0;
}

bool Mpeg4EsParser::append(const uint8_t* src, size_t n)
{
    if (!base_)
        return false;
    const size_t limit = std::min(static_cast<size_t>(kKeepLimit), capacity_);
    const size_t at = static_cast<size_t>(held_);
    if (at > limit || n >= limit - at)
        return false;
    if (n > 0)
        std::memmove(base_ + at, src, n);
    held_ = static_cast<int>(at + n);
    return true;
}

void Mpeg4EsParser::compact()
{
    if (!base_) {
        held_ = 0;
        return;
    }
    if (!current_) {
        // Keep a little context: a start code split over the blocks, the headers of a key frame.
        if (held_ > kContextBytes) {
            std::memmove(base_, base_ + held_ - kContextBytes, kContextBytes);
            held_ = kContextBytes;
        }
        return;
    }
    uint8_t* start = current_->packetStart;
    if (start < base_ || start > base_ + held_) {
        // The frame in progress always lies in the buffer between calls; anything else is lost.
        releaseRecord(current_);
        current_ = nullptr;
        held_ = 0;
        return;
    }
    const size_t offset = static_cast<size_t>(start - base_);
    const size_t n = static_cast<size_t>(held_) - offset;
    if (offset > 0) {
        std::memmove(base_, start, n);
        current_->payload -= offset;
        current_->packetStart = base_;
    }
    held_ = static_cast<int>(n);
}

void Mpeg4EsParser::flush(bool keep)
{
    pool_.releaseAllReady();
    if (!keep) {
        if (current_) {
            releaseRecord(current_);
            current_ = nullptr;
        }
        held_ = 0;
        headerSeen_ = false;
        clearSync(kEmptySync, 0);
        return;
    }
    compact();
}

void Mpeg4EsParser::restart()
{
    if (current_) {
        releaseRecord(current_);
        current_ = nullptr;
    }
    headerSeen_ = false;
    clearSync(kEmptySync, 0);
}

int Mpeg4EsParser::input(const uint8_t* data, int length)
{
    if (!data || length <= 0)
        return 0;
    if (mode_ != kModeChunk) {
        pool_.releaseAllReady();
        compact();
    }
    const size_t len = static_cast<size_t>(length);
    const size_t heldBefore = static_cast<size_t>(held_);
    int codes = 0;
    size_t first = 0;
    bool inData = false;   // the frame in progress lies in the caller's data

    // Every frame start code begins with 00 00 01 (or is the AVI tag "01wb"). Codes ending in
    // the first three bytes may begin in the previous block's bytes (the sync word); from then
    // on the search jumps from prefix to prefix. Codes of this set cannot overlap, so the word
    // read at a prefix is what a byte-by-byte pass would hold there.
    const uint32_t otherPrefix =
        mode_ == 2 ? StartCodeScanner::kAviAudioPrefix : StartCodeScanner::kStartPrefix;
    size_t lastCode = len;   // index of the last byte of the latest frame start code
    for (size_t i = 0; i < len; ++i) {
        if (i < 3) {
            shiftSync(data[i]);
        } else {
            const uint8_t* m = StartCodeScanner::findPrefixEnd(
                data + i - 1, data + len - 1, StartCodeScanner::kStartPrefix, otherPrefix);
            if (m == data + len - 1)
                break;
            i = static_cast<size_t>(m - data) + 1;
            sync_ = be32(m - 2);
        }
        if (!isFrameStart(sync_))
            continue;
        clearSync(kEmptySync, 0);
        lastCode = i;
        const size_t off = i + 1;
        ++codes;
        if (codes == 1) {
            first = off;
            continue;
        }
        if (codes == 2) {
            if (append(data, off)) {
                // Both cuts in the buffer: the frame carried over and the one from the first code.
                if (heldBefore + first >= 4)
                    cut(base_, static_cast<size_t>(held_), heldBefore + first - 4);
                cut(base_, static_cast<size_t>(held_), heldBefore + off - 4);
                // The new frame goes on in the caller's data.
                if (current_) {
                    const uint8_t* bufData = base_ + heldBefore;
                    if (current_->packetStart >= bufData) {
                        const size_t shift = static_cast<size_t>(current_->packetStart - bufData);
                        current_->packetStart = current_->payload = recordPointer(data + shift);
                    } else {
                        releaseRecord(current_);
                        current_ = nullptr;
                    }
                }
            } else {
                dropAll();
                if (first >= 4)
                    cut(data, len, first - 4);
                cut(data, len, off - 4);
            }
            inData = true;
            continue;
        }
        cut(data, len, off - 4);
    }
    if (len > 3) {
        // The sync word as the byte-by-byte pass leaves it: the bytes after the latest code.
        const size_t from = (lastCode < len && lastCode + 4 >= len) ? lastCode + 1 : len - 4;
        clearSync(kEmptySync, 0);
        for (size_t k = from; k < len; ++k)
            shiftSync(data[k]);
    }

    if (codes == 0) {
        if (!append(data, len))
            dropAll();
    } else if (codes == 1) {
        if (append(data, len)) {
            if (heldBefore + first >= 4)
                cut(base_, static_cast<size_t>(held_), heldBefore + first - 4);
        } else {
            dropAll();
            if (first >= 4)
                cut(data, len, first - 4);
            inData = true;
        }
    }
    if (inData) {
        if (current_) {
            const uint8_t* start = current_->packetStart;
            const size_t at = static_cast<size_t>(held_);
            if (start >= data && start <= data + len &&
                append(start, static_cast<size_t>(data + len - start))) {
                current_->packetStart = current_->payload = base_ + at;
            } else {
                releaseRecord(current_);
                current_ = nullptr;
                if (mode_ != kModeChunk)
                    held_ = 0;
            }
        } else {
            const size_t n = std::min(len, static_cast<size_t>(kContextBytes));
            if (!append(data + len - n, n) && mode_ != kModeChunk)
                held_ = 0;
        }
    }
    return 0;
}

int Mpeg4EsParser::finish()
{
    if (!current_)
        return 0;
    MediaFrame* last = current_;
    current_ = nullptr;
    const uint8_t* start = last->packetStart;
    const uint8_t* end = base_ ? base_ + held_ : nullptr;
    if (!base_ || start < base_ || start >= end) {
        releaseRecord(last);
        return 0;
    }
    int n = static_cast<int>(end - start);
    if (mode_ == kModeAvi) {
        // The file's index chunk follows the last frame's chunk.
        static const uint8_t kIndex[] = {'i', 'd', 'x', '1'};
        const uint8_t* at = std::search(start + 4, end, kIndex, kIndex + 4);
        n = static_cast<int>(at - start);
    }
    last->packetLength = n;
    last->payloadLength = headerSeen_ ? n : 0;
    finishFrame(last);
    queueReady(last);
    return 0;
}

void Mpeg4EsParser::cut(const uint8_t* area, size_t areaLength, size_t pos)
{
    if (pos + 4 > areaLength)
        return;
    const uint8_t* p = area + pos;
    const uint8_t* areaEnd = area + areaLength;
    const uint32_t code = be32(p);
    const uint8_t* frameStart = current_ ? current_->packetStart : nullptr;
    const bool startInArea = frameStart && frameStart >= area && frameStart <= p;

    // Key-frame search: sequence headers ending in a layer header just before the VOP.
    const uint8_t* x = nullptr;
    if (code == kVop) {
        size_t lo = pos > static_cast<size_t>(kKeyFrameSearch) ? pos - kKeyFrameSearch : 0;
        if (startInArea) {
            // Never reach back into the frame in progress's own start code.
            const size_t after = static_cast<size_t>(frameStart - area) + 4;
            lo = std::max(lo, after);
        }
        bool layerPassed = false;
        for (size_t q = pos; q >= lo + 4; --q) {
            const uint32_t w = be32(area + q - 4);
            if (w == kVol)
                layerPassed = true;
            else if (layerPassed &&
                     (w == start_code::kVideoObjectFirst || w == start_code::kVideoObjectSecond ||
                      w == start_code::kVisualObjectSequence))
                x = area + q - 4;
        }
    }

    MediaFrame* closing = current_;
    current_ = nullptr;
    MediaFrame* next = nullptr;
    if (x) {
        const bool seenBefore = headerSeen_;
        headerBackOffset_ = static_cast<int>(p - x);
        headerSeen_ = true;
        if (closing) {
            const int n = startInArea ? static_cast<int>(x - frameStart) : 0;
            closing->packetLength = n;
            closing->payloadLength = seenBefore ? n : 0;
        }
        next = takeRecord();
        if (next)
            describeKeyFrame(next, x, p, areaEnd);
    } else if (closing) {
        const int n = startInArea ? static_cast<int>(p - frameStart) : 0;
        closing->packetLength = n;
        closing->payloadLength = headerSeen_ ? n : 0;
    }

    if (closing) {
        finishFrame(closing);
        queueReady(closing);
    }

    if (x) {
        if (next) {
            next->kind = recordCode(FrameKind::Video);
            next->subtype = recordCode(FrameSubtype::Key);
            next->param1 = 0;
            next->packetStart = next->payload = recordPointer(x);
        }
    } else {
        next = takeRecord();
        if (next) {
            next->kind = code == kVop ? recordCode(FrameKind::Video)
                                      : (code == kAux ? recordCode(FrameKind::Other)
                                                      : recordCode(FrameKind::Audio));
            next->subtype = recordCode(FrameSubtype::Dependent);
            next->packetStart = next->payload = recordPointer(p);
        }
    }
    if (next) {
        next->packetLength = 0;
        next->payloadLength = 0;
    }
    current_ = next;
}

void Mpeg4EsParser::describeKeyFrame(MediaFrame* r, const uint8_t* x, const uint8_t* p,
                                     const uint8_t* areaEnd)
{
    if (mode_ == kModeChunk) {
        r->width = container_.width;
        r->height = container_.height;
        r->frameRate = container_.frameRate;
        r->hour = container_.hour;
        r->minute = container_.minute;
        r->second = container_.second;
        r->year = container_.year;
        r->month = container_.month;
        r->day = container_.day;
        r->timeOfDay = container_.timeOfDay;
        return;
    }
    if (mode_ == kModeAvi) {
        r->width = template_.width;
        r->height = template_.height;
        r->frameRate = template_.frameRate;
        return;
    }
    for (const uint8_t* q = x; q + 4 <= p; ++q) {
        const uint32_t w = be32(q);
        const uint8_t* b = q + 4;
        if (w == kVol) {
            if (b + 8 <= areaEnd) {
                if (b[1] == 0xC8 && b[2] == 0x88) {
                    const int a = (((b[3] & 0x7F) * 256 + b[4]) * 2) + (b[5] >> 7);
                    const int d = (((b[5] & 0x1F) * 256 + b[6]) * 4) + (b[7] >> 6);
                    if (d != 0)   // a zero divisor gives no rate from this layout
                        r->frameRate = static_cast<int32_t>(static_cast<double>(a) / d);
                } else if (b[0] == 0 && b[1] == 0xC8 && b[2] == 0x08 && b[3] == 0x80) {
                    r->frameRate = (b[4] & 0x0F) * 2 + (b[5] >> 7);
                } else if (b[0] == 0 && b[1] == 0x86) {
                    const int rate = (b[2] & 3) * 16384 + b[3] * 64 + (b[4] >> 2);
                    r->frameRate = rate > 30 ? 25 : rate;
                } else if (b[0] == 0 && b[1] == 0xCA) {
                    r->frameRate = b[5] >> 3;
                }
            }
            int width = r->width, height = r->height, rate = r->frameRate;
            const int available = static_cast<int>(areaEnd - q);
            const int result = VolReader::read(q, kVolWindow, available, &width, &height, &rate);
            r->frameRate = rate;
            if (result == 0) {
                r->width = width;
                r->height = height;
            } else {
                r->width = 352;
                r->height = 288;
            }
        } else if (w == kGov && b + 3 <= areaEnd) {
            r->hour = b[0] >> 3;
            r->minute = (b[0] & 7) * 8 + (b[1] >> 5);
            r->second = (b[1] & 0x0F) * 4 + (b[2] >> 6);
            r->timeOfDay = r->hour * 3600 + r->minute * 60 + r->second;
        }
    }
}

void Mpeg4EsParser::finishFrame(MediaFrame* r)
{
    const uint8_t* p = r->packetStart;
    const int len = r->packetLength;
    switch (r->kind) {
    case recordCode(FrameKind::Other): {
        if (len < 6) {
            r->param2 = 0;
            r->payloadLength = 0;
            break;
        }
        const int sub = p[4];
        const int t = p[5];
        r->subtype = sub;
        if (sub == 1 || sub == 2) {
            if (t != 0 && len >= 12) {
                r->param1 = static_cast<int32_t>(le16(p + 6));
                r->width = static_cast<int32_t>(le16(p + 8)) * 16;
                r->height = static_cast<int32_t>(le16(p + 10)) * 16;
            }
            r->param2 = t;
            r->payload = recordPointer(p + 12);
            r->payloadLength = len >= 12 ? len - 12 : 0;
            if (len < 12)
                r->payload = recordPointer(p);
        } else if (sub == 6) {
            if (t != 0 && len >= 17) {
                r->year = static_cast<int32_t>(le16(p + 6));
                r->month = static_cast<int32_t>(le16(p + 8));
                r->width = static_cast<int32_t>(le16(p + 10));
                r->height = static_cast<int32_t>(le16(p + 12));
                r->hour = p[14];
                r->minute = p[15];
                r->second = p[16];
            }
            r->param2 = t;
            r->payload = recordPointer(p);
            r->payloadLength = len;
        } else {
            r->param2 = 0;
            r->payloadLength = 2;
        }
        break;
    }
    case recordCode(FrameKind::Audio):
        if (mode_ == kModeAvi) {
            r->codec = recordCode(AudioCodec::Avi);
            r->channels = 1;
            r->bitsPerSample = template_.bitsPerSample;
            r->sampleRate = template_.sampleRate;
            const int size = len >= 6 ? static_cast<int>(le16(p + 4)) : 0;
            r->payload = recordPointer(len >= 8 ? p + 8 : p);
            if (size < 32) {
                r->kind = recordCode(FrameKind::Other);
                r->packetLength = 0;
                r->payloadLength = 0;
            } else {
                r->payloadLength = clampLength(size, len - 8);
            }
        } else {
            if (len < 8) {
                r->payload = recordPointer(p);
                r->payloadLength = 0;
                break;
            }
            r->codec = p[4];
            r->channels = 1;
            r->payload = recordPointer(p + 8);
            r->payloadLength = clampLength(static_cast<int>(le16(p + 6)), len - 8);
            setSampleRate(r, p[5]);
        }
        break;
    default:
        r->codec = recordCode(VideoCodec::Mpeg4);
        // In AVI a frame runs up to the next frame's start code, past the header of the chunk
        // that holds it ("00dc" and its size); the decoder would take those bytes for picture
        // data and conceal the rest of the picture.
        if (mode_ == kModeAvi && r->payloadLength >= 12 && r->payload)
            if (isChunkHeader(r->payload + r->payloadLength - 8)) {
                r->payloadLength -= 8;
                r->packetLength = std::max(0, r->packetLength - 8);
            }
        break;
    }
}

}   // namespace kevra
