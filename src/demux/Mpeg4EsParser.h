// Splitter of a raw MPEG-4 Visual elementary stream (format 1, AVI files in mode 2, and the
// inner parser of the chunked container in mode 1). Cuts frames at VOP starts (key frames at
// their sequence headers) and at interleaved audio/auxiliary packets; it has its own input
// loop. Works in a lent work buffer; used by the decoder worker thread only.
#pragma once
#include "demux/FrameParser.h"
#include "demux/MediaFrame.h"

#include <cstddef>
#include <cstdint>

namespace kevra {

class Mpeg4EsParser : public FrameParser {
public:
    // Bytes read backwards from a VOP start code when looking for its sequence headers.
    static constexpr int kKeyFrameSearch = 60;
    // Window handed to the layer header reader, counted from the layer start code.
    static constexpr int kVolWindow = 100;
    // Held plus appended bytes must stay below this.
    static constexpr int kKeepLimit = 0x80000;
    // Context kept in front of new data while no frame is in progress (a split start code,
    // the headers of the next key frame).
    static constexpr int kContextBytes = 64;

    // Modes, fixed at construction.
    static constexpr int kModeStream = 0;   // plain elementary stream: picture from its headers
    static constexpr int kModeChunk = 1;    // inner parser of the chunked container (picture
                                            // fields from the container record)
    static constexpr int kModeAvi = 2;      // AVI: picture and audio fields from tmpl, "01wb"
                                            // audio chunks
    // tmpl may be null (zero-filled template).
    Mpeg4EsParser(uint8_t* workBuffer, size_t capacity, int mode, const MediaFrame* tmpl);
    ~Mpeg4EsParser() override;

    // Never used: this parser has its own input loop (the base's header and frame-end steps
    // are not called either).
    bool isSyncCode(uint32_t code) override;

    // Returns 0 (also for no data, which is ignored).
    int input(const uint8_t* data, int length) override;
    // The frame in progress ends with the input (in AVI, before the index behind the frames).
    int finish() override;
    int reset(int mode) override;

    // Ready records to the free queue. Without keep: the frame in progress and the buffered
    // bytes are dropped and frames are discarded until the next key frame. With keep: the
    // frame in progress is moved to the start of the work buffer.
    void flush(bool keep);
    // Drops the frame in progress and waits for the next key frame, like a flush without
    // keep, but leaves the finished frames queued and their bytes in place (mode 1: the
    // container's consumer has not taken them yet).
    void restart();
    // Mode 1: the chunk record whose payload is given to the next input.
    void setContainerRecord(const MediaFrame& record) { container_ = record; }

    int mode() const { return mode_; }
    bool headerSeen() const { return headerSeen_; }
    const MediaFrame& templateRecord() const { return template_; }

private:
    bool isFrameStart(uint32_t code) const;
    // Closes the frame in progress at the frame start code at area + pos and opens the next.
    void cut(const uint8_t* area, size_t areaLength, size_t pos);
    void describeKeyFrame(MediaFrame* r, const uint8_t* x, const uint8_t* p,
                          const uint8_t* areaEnd);
    void finishFrame(MediaFrame* r);
    bool append(const uint8_t* src, size_t n);
    void compact();
    void dropAll();

    int mode_;
    bool headerSeen_ = false;
    MediaFrame container_{};
    MediaFrame template_{};
    int headerBackOffset_ = 0;
};

}   // namespace kevra
