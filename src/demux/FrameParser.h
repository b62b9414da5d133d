// Base of every stream-format parser: the record pool, the generic input loop that cuts a
// stream at the format's sync codes, and the queue operations. A parser works in a work buffer
// lent by its owner (the StreamDemuxer or a container parser). Used by the decoder thread only.
#pragma once
#include "demux/FramePool.h"
#include "demux/MediaFrame.h"

#include <cstddef>
#include <cstdint>

namespace kevra {

class FrameParser {
public:
    // Held bytes plus a new block above this: everything buffered is dropped.
    static constexpr int kInputLimit = 0x80000;
    // A frame this large that is not complete in the data at hand is given up.
    static constexpr int kLargeFrame = 0x40000;
    // Work buffer size for a parser that uses the generic loop. The loop places the bytes it
    // keeps for the next call behind the bytes that records of the current call point into;
    // those can fill up to kInputLimit, and the kept bytes (a partial frame or a tail) come from
    // the same data, so twice the input limit plus a few sync bytes always suffices.
    static constexpr size_t kWorkBufferSize = 2 * static_cast<size_t>(kInputLimit) + 64;
    static constexpr uint32_t kEmptySync = 0xFFFFFFFFu;

    // workBuffer is lent, not owned; capacity is its size in bytes (kWorkBufferSize for the
    // generic loop; a buffer that is too small makes the loop drop data, never overrun).
    FrameParser(uint8_t* workBuffer, size_t capacity);
    virtual ~FrameParser();
    FrameParser(const FrameParser&) = delete;
    FrameParser& operator=(const FrameParser&) = delete;

    // True if the big-endian word is a sync code of this format. Base: false.
    virtual bool isSyncCode(uint32_t code);
    // The cursor stands just after a sync code held in sync_. Take a record with beginFrame(),
    // fill it, set needed_ and the record's payloadLength, packetStart, payload, packetLength,
    // advance the cursor past the header and return 1. Return 0 (cursor unchanged, no record
    // taken) when the header is incomplete or invalid; the loop keeps the bytes and retries.
    // Base: 1.
    virtual int parseHeader();
    // The cursor stands just after a complete payload of current_: confirm that a sync code
    // follows (usually with checkNextSync) and finish the record. 0 rejects the frame. Base: 1.
    virtual int checkFrameEnd();
    // Takes one block; 0, or -1 for no data. Base: the generic input loop.
    virtual int input(const uint8_t* data, int length);
    // The end of the input (the end of a file): no block follows to confirm where the last
    // frame ends, so the bytes held back for that are read now and a complete last frame is
    // queued behind the records not taken yet (no byte they point to moves); a frame cut off
    // by the end is dropped. A live stream never calls it. Returns 0.
    virtual int finish();
    // Front of the ready queue (moved to the free queue), or nullptr. Valid until next input.
    virtual MediaFrame* nextFrame();
    // Pops records until a usable video key frame (kind 1, subtype 0, payloadLength > 0);
    // returns it or nullptr when the queue runs empty.
    virtual MediaFrame* nextKeyFrame();
    virtual int readyCount();
    // Mode 2: nothing. Other modes: drop buffered bytes, the frame in progress and the ready
    // records; format word 0. Returns 0.
    virtual int reset(int mode);

    // Access for container parsers that queue records into an inner parser.
    FramePool& pool() { return pool_; }
    MediaFrame* lastFrame() const { return lastOut_; }
    int heldBytes() const { return held_; }
    int neededBytes() const { return needed_; }

protected:
    // ---- helpers for subclasses -------------------------------------------------------
    // Takes a record from the pool (nullptr only when memory runs out).
    MediaFrame* takeRecord() { return pool_.take(); }
    // Takes a record and makes it the frame in progress (current_). nullptr when out of memory.
    MediaFrame* beginFrame();
    // Appends a finished record to the ready queue.
    void queueReady(MediaFrame* record) { pool_.pushReady(record); }
    // Returns a record to the free queue.
    void releaseRecord(MediaFrame* record) { pool_.release(record); }
    // Shifts one byte into the sync word.
    void shiftSync(uint8_t b)
    {
        sync_ = (sync_ << 8) | b;
        if (syncBytes_ < 4)
            ++syncBytes_;
    }
    void clearSync(uint32_t value, int realBytes)
    {
        sync_ = value;
        syncBytes_ = realBytes;
    }
    // End-of-frame prefix test: clears the sync word, shifts up to four bytes in from the
    // cursor (consuming them); after k bytes the word must equal one of the codes shifted right
    // by 8*(4-k). Only the first compareBytes bytes are compared; later ones are taken as they
    // are. Returns 0 on a mismatch, 1 on a full match or when the bytes run out first.
    int checkNextSync(const uint32_t* codes, int count, int compareBytes = 4);
    // Writable view of a stream byte pointer, for the record fields. Records that point into
    // the caller's block are read-only for every consumer.
    static uint8_t* recordPointer(const uint8_t* p) { return const_cast<uint8_t*>(p); }

    static uint32_t le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
    static uint32_t le24(const uint8_t* p) { return p[0] | (p[1] << 8) | (uint32_t(p[2]) << 16); }
    static uint32_t le32(const uint8_t* p)
    {
        return p[0] | (p[1] << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    }
    static uint32_t be32(const uint8_t* p)
    {
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (p[2] << 8) | p[3];
    }
    // Packed date-time: second bits 0-5, minute 6-11, hour 12-16, day 17-21, month 22-25,
    // year 2000 + bits 26-31. timeOfDay is left alone.
    static void setDateTime(MediaFrame* r, uint32_t packed);
    // Audio sample-rate code -> sampleRate; bitsPerSample 8 for codec 7 or 30, else 16.
    // Set r->codec first.
    static void setSampleRate(MediaFrame* r, int code);
    static int sampleRateFromCode(int code);

    // ---- state (base part) -------------------------------------------------------------
    FramePool pool_;
    MediaFrame* current_ = nullptr;   // header parsed, payload being collected; or nullptr
    MediaFrame* lastOut_ = nullptr;   // result of the latest nextFrame / nextKeyFrame
    uint8_t* base_;                   // work buffer (lent)
    size_t capacity_;                 // its size in bytes
    const uint8_t* cursor_;           // read position: in the caller's block or in base_
    const uint8_t* dataStart_;        // start of the data the cursor is reading now
    uint32_t sync_ = kEmptySync;      // last bytes read, big-endian, newest byte lowest
    int syncBytes_ = 0;               // how many of sync_'s low bytes are stream bytes (0-4)
    int needed_ = 0;                  // payload bytes still missing for current_
    int held_ = 0;                    // bytes kept in the work buffer from earlier calls
    int heldOffset_ = 0;              // where the held bytes sit (moved to 0 by the next input)
    int available_ = 0;               // unread bytes at the cursor
    uint32_t formatWord_ = 0;         // per format: continuity counter or sequence byte
    size_t usedEnd_ = 0;              // bytes of base_ that records of this call may point into
    bool atEnd_ = false;              // finish() is reading the last held bytes

private:
    void dropBuffered();
    void scanLoop();
    // Places the last syncBytes_ bytes of the sync word and then n bytes from src behind the
    // bytes in use, as the held bytes for the next call. Drops them if they would not fit.
    void keepBytes(const uint8_t* src, int n);
    // Copies the frame in progress (header and the payload bytes at hand) behind the bytes in
    // use; false when it cannot be kept.
    bool keepPartialFrame();
};

}   // namespace kevra
