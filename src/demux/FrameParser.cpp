#include "demux/FrameParser.h"

#include <cstring>

namespace kevra {

FrameParser::FrameParser(uint8_t* workBuffer, size_t capacity)
    : base_(workBuffer), capacity_(workBuffer ? capacity : 0), cursor_(workBuffer),
      dataStart_(workBuffer)
{
}

FrameParser::~FrameParser()
{
    if (current_) {
        pool_.release(current_);
        current_ = nullptr;
    }
}

bool FrameParser::isSyncCode(uint32_t)
{
    return false;
}

int FrameParser::parseHeader()
{
    return 1;
}

int FrameParser::checkFrameEnd()
{
    return 1;
}

MediaFrame* FrameParser::beginFrame()
{
    current_ = pool_.take();
    return current_;
}

int FrameParser::checkNextSync(const uint32_t* codes, int count, int compareBytes)
{
    clearSync(0, 0);
    for (int k = 1; k <= 4; ++k) {
        if (available_ <= 0)
            return 1;
        shiftSync(*cursor_++);
        --available_;
        if (k > compareBytes)
            continue;
        const int shift = 8 * (4 - k);
        bool match = false;
        for (int i = 0; i < count && !match; ++i)
            match = (sync_ == (codes[i] >> shift));
        if (!match) {
            // Compare only the bytes read so far: the word holds k of them.
            return 0;
        }
    }
    return 1;
}

void FrameParser::setDateTime(MediaFrame* r, uint32_t packed)
{
    r->second = packed & 0x3F;
    r->minute = (packed >> 6) & 0x3F;
    r->hour = (packed >> 12) & 0x1F;
    r->day = (packed >> 17) & 0x1F;
    r->month = (packed >> 22) & 0x0F;
    r->year = 2000 + static_cast<int32_t>(packed >> 26);
}

int FrameParser::sampleRateFromCode(int code)
{
    switch (code) {
    case 1: return 4000;
    case 2: return 8000;
    case 3: return 11025;
    case 4: return 16000;
    case 5: return 20000;
    case 6: return 22050;
    case 7: return 32000;
    case 8: return 44100;
    case 9: return 48000;
    default: return 8000;
    }
}

void FrameParser::setSampleRate(MediaFrame* r, int code)
{
    r->sampleRate = sampleRateFromCode(code);
    r->bitsPerSample = (r->codec == recordCode(AudioCodec::EightBit7) ||
                        r->codec == recordCode(AudioCodec::EightBit30))
                           ? 8
                           : 16;
}

MediaFrame* FrameParser::nextFrame()
{
    MediaFrame* r = pool_.popReady();
    if (!r)
        return nullptr;
    pool_.release(r);
    lastOut_ = r;
    return r;
}

MediaFrame* FrameParser::nextKeyFrame()
{
    // Only a whole video key frame can start decoding: audio records do not set subtype,
    // and a broken key frame (payloadLength 0) carries nothing to decode.
    while (MediaFrame* r = pool_.popReady()) {
        pool_.release(r);
        if (r->kind == recordCode(FrameKind::Video) &&
            r->subtype == recordCode(FrameSubtype::Key) && r->payloadLength > 0) {
            lastOut_ = r;
            return r;
        }
    }
    return nullptr;
}

int FrameParser::readyCount()
{
    return pool_.readyCount();
}

int FrameParser::reset(int mode)
{
    if (mode == 2)
        return 0;
    cursor_ = base_;
    dataStart_ = base_;
    available_ = 0;
    held_ = 0;
    heldOffset_ = 0;
    needed_ = 0;
    usedEnd_ = 0;
    clearSync(kEmptySync, 0);
    pool_.releaseAllReady();
    formatWord_ = 0;
    if (current_) {
        pool_.release(current_);
        current_ = nullptr;
    }
    return 0;
}

void FrameParser::dropBuffered()
{
    cursor_ = base_;
    dataStart_ = base_;
    available_ = 0;
    held_ = 0;
    heldOffset_ = 0;
    needed_ = 0;
    clearSync(kEmptySync, 0);
    if (current_) {
        pool_.release(current_);
        current_ = nullptr;
    }
}

void FrameParser::keepBytes(const uint8_t* src, int n)
{
    held_ = 0;
    heldOffset_ = 0;
    const int syncCount = (sync_ == kEmptySync) ? 0 : syncBytes_;
    const size_t total = static_cast<size_t>(syncCount) + static_cast<size_t>(n > 0 ? n : 0);
    if (total == 0)
        return;
    if (!base_ || usedEnd_ > capacity_ || total > capacity_ - usedEnd_ ||
        total > size_t(kInputLimit) + 4)
        return;   // cannot be kept without overrunning: dropped
    uint8_t* dst = base_ + usedEnd_;
    for (int i = syncCount - 1; i >= 0; --i)
        *dst++ = static_cast<uint8_t>(sync_ >> (8 * i));
    if (n > 0)
        std::memmove(dst, src, static_cast<size_t>(n));
    held_ = static_cast<int>(total);
    heldOffset_ = static_cast<int>(usedEnd_);
}

bool FrameParser::keepPartialFrame()
{
    MediaFrame* r = current_;
    const uint8_t* end = cursor_ + available_;
    const uint8_t* start = r->packetStart;
    // The packet must begin inside the data being read and no later than the cursor.
    if (!base_ || start < dataStart_ || start > cursor_)
        return false;
    const size_t n = static_cast<size_t>(end - start);
    if (usedEnd_ > capacity_ || n > capacity_ - usedEnd_ || n > size_t(kInputLimit))
        return false;
    const uint8_t* payload = r->payload;
    if (payload < start || payload > end)
        payload = cursor_;   // subclass left it elsewhere: keep it inside the copy
    uint8_t* dst = base_ + usedEnd_;
    std::memmove(dst, start, n);
    r->payload = dst + (payload - start);
    r->packetStart = dst;
    held_ = static_cast<int>(n);
    heldOffset_ = static_cast<int>(usedEnd_);
    return true;
}

int FrameParser::input(const uint8_t* data, int length)
{
    if (!data || length <= 0)
        return -1;
    if (!base_) {
        pool_.releaseAllReady();
        return 0;
    }
    if (static_cast<int64_t>(held_) + length > kInputLimit) {
        // Too much buffered: drop everything, including records not taken yet (the bytes they
        // point to belong to calls that are over).
        pool_.releaseAllReady();
        dropBuffered();
        return 0;
    }

    // Held bytes to the start of the buffer; the frame in progress moves with them.
    if (held_ > 0 && heldOffset_ != 0) {
        uint8_t* from = base_ + heldOffset_;
        std::memmove(base_, from, static_cast<size_t>(held_));
        if (current_) {
            const ptrdiff_t shift = from - base_;
            if (current_->packetStart >= from && current_->packetStart <= from + held_)
                current_->packetStart -= shift;
            if (current_->payload >= from && current_->payload <= from + held_)
                current_->payload -= shift;
        }
    }
    heldOffset_ = 0;
    pool_.releaseAllReady();
    clearSync(kEmptySync, 0);
    usedEnd_ = 0;

    if (needed_ > 0) {
        if (!current_) {
            held_ = 0;
            needed_ = 0;
            return 0;
        }
        if (length < needed_) {
            std::memcpy(base_ + held_, data, static_cast<size_t>(length));
            held_ += length;
            needed_ -= length;
            return 0;
        }
        // The frame completes in the buffer; go on reading in the block after it.
        std::memcpy(base_ + held_, data, static_cast<size_t>(needed_));
        usedEnd_ = static_cast<size_t>(held_) + static_cast<size_t>(needed_);
        dataStart_ = data;
        cursor_ = data + needed_;
        available_ = length - needed_;
        if (!checkFrameEnd()) {
            current_->payloadLength = 0;
            cursor_ = data;
            available_ = length;
            clearSync(kEmptySync, 0);
        }
        needed_ = 0;
        queueReady(current_);
        current_ = nullptr;
    } else if (held_ > 0) {
        std::memcpy(base_ + held_, data, static_cast<size_t>(length));
        dataStart_ = base_;
        cursor_ = base_;
        available_ = held_ + length;
        usedEnd_ = static_cast<size_t>(available_);
    } else {
        if (current_) {   // a frame with nothing left to collect: finish it empty
            current_->payloadLength = 0;
            queueReady(current_);
            current_ = nullptr;
        }
        dataStart_ = data;
        cursor_ = data;
        available_ = length;
    }
    held_ = 0;
    scanLoop();
    return 0;
}

int FrameParser::finish()
{
    if (current_ || needed_ > 0) {
        // A frame still waiting for payload bytes: the end cut it off.
        dropBuffered();
        return 0;
    }
    if (!base_ || held_ <= 0)
        return 0;
    // The held bytes (the last sync word and what followed it) are read where they are.
    dataStart_ = cursor_ = base_ + heldOffset_;
    available_ = held_;
    usedEnd_ = static_cast<size_t>(heldOffset_) + static_cast<size_t>(held_);
    held_ = 0;
    clearSync(kEmptySync, 0);
    atEnd_ = true;
    scanLoop();
    atEnd_ = false;
    if (current_) {
        releaseRecord(current_);
        current_ = nullptr;
    }
    return 0;
}

void FrameParser::scanLoop()
{
    for (;;) {
        // Short of a header and the next sync word: wait for more, unless nothing more comes.
        if (available_ < (atEnd_ ? 1 : 16)) {
            keepBytes(cursor_, available_);
            break;
        }
        bool found = isSyncCode(sync_);
        while (!found && available_ > 0) {
            shiftSync(*cursor_++);
            --available_;
            found = isSyncCode(sync_);
        }
        if (!found) {
            keepBytes(cursor_, 0);
            break;
        }
        const uint8_t* atCode = cursor_;
        if (!parseHeader()) {
            if (current_) {   // a header that was refused must not hold a record
                pool_.release(current_);
                current_ = nullptr;
            }
            keepBytes(cursor_, available_);
            break;
        }
        if (needed_ < 0)
            needed_ = 0;
        if (!current_) {
            // No record could be taken: pass over the frame's bytes.
            const int skip = needed_ < available_ ? needed_ : available_;
            cursor_ += skip;
            available_ -= skip;
            needed_ = 0;
            clearSync(kEmptySync, 0);
            if (cursor_ == atCode && available_ > 0) {
                ++cursor_;
                --available_;
            }
            continue;
        }
        if (needed_ > available_) {
            if (atEnd_)
                break;   // cut off by the end: finish() drops it
            if (needed_ < kLargeFrame && keepPartialFrame()) {
                needed_ -= available_;
                return;   // the frame goes on in the next block
            }
            current_->payloadLength = 0;
            queueReady(current_);
            current_ = nullptr;
            held_ = 0;
            heldOffset_ = 0;
            break;   // the rest of the data is dropped
        }
        const int n = needed_;
        cursor_ += n;
        available_ -= n;
        if (!checkFrameEnd()) {
            current_->payloadLength = 0;
            cursor_ -= n;
            available_ += n;
            clearSync(kEmptySync, 0);
        }
        queueReady(current_);
        current_ = nullptr;
        needed_ = 0;
        if (cursor_ <= atCode) {   // never loop in place, whatever a subclass did
            const uint8_t* end = cursor_ + available_;
            if (atCode < end) {
                cursor_ = atCode + 1;
                available_ = static_cast<int>(end - cursor_);
                clearSync(kEmptySync, 0);
            }
        }
    }
    needed_ = 0;
}

}   // namespace kevra
