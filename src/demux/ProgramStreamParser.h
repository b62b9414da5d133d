// Parser of MPEG-2 program streams (format 7): one record per pack, from the pack header to
// the end of its first video (0xE0) or audio (0xC0) PES payload; MPEG-4 frames split over
// maximum-size PES packets are merged in a 600 KB buffer of its own. Decoder worker thread only.
#pragma once
#include "demux/FrameParser.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kevra {

class ProgramStreamParser : public FrameParser {
public:
    static constexpr size_t kMergeBufferSize = 0x96000;
    static constexpr int kMaxPesLength = 0xFFFC;

    ProgramStreamParser(uint8_t* workBuffer, size_t capacity);
    ~ProgramStreamParser() override;

    bool isSyncCode(uint32_t code) override;
    int parseHeader() override;
    int checkFrameEnd() override;
    // The generic loop; merged frames of the previous call are released first.
    int input(const uint8_t* data, int length) override;
    int reset(int mode) override;

    // 0 MPEG-4, 1 H.264, -1 not decided yet.
    int codecKind() const { return codecDecided_ ? codecKind_ : -1; }
    bool merging() const { return merging_; }
    int mergedLength() const { return mergedLength_; }

    // Picture size of the H.264 size code in byte 80 of a pack with system header; false for
    // an unknown code.
    static bool h264SizeFromCode(int code, int* width, int* height);

private:
    int parseContinuation();
    int parsePack();
    // 0 MPEG-4, 1 H.264, -1 nothing found in the bytes given.
    static int findCodec(const uint8_t* payload, int length);
    // Codec fields of a pack's video record; bytes 80/81 are read only below limit.
    void applyVideoCodec(MediaFrame* r, const uint8_t* limit);
    void scanMpeg4KeyFrame(MediaFrame* r);
    int finishPiece(MediaFrame* r);
    void startMerge(MediaFrame* r, int packetLength);
    static void hide(MediaFrame* r);
    void stopMerging();

    enum class Current { None, Pack, PackVideo, Piece, Invalid };

    std::unique_ptr<uint8_t[]> merge_;
    int mergedLength_ = 0;
    int mergeStart_ = 0;      // where the frame being merged begins in the merge buffer
    int mergeInUseEnd_ = 0;   // end of merged frames handed out since the last input
    Current currentType_ = Current::None;
    bool pendingCodec_ = false;   // codec still to be decided on this record's whole payload
    bool continued_ = false;
    bool merging_ = false;
    bool codecDecided_ = false;
    int codecKind_ = 0;
    int savedWidth_ = 0;
    int savedHeight_ = 0;
    int savedFrameRate_ = 0;
    int savedSubtype_ = 0;
};

}   // namespace kevra
