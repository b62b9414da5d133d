// Parser of the chunked container (format 5): 0x000001F2 video chunks of 1024 bytes with a
// chunk counter, and 0x000001F0 audio packets. Owns a 640 KB buffer for its own input loop and
// an inner MPEG-4 splitter (mode 1) that reassembles the chunks in the demultiplexer's buffer.
// Used by the decoder worker thread only.
#pragma once
#include "demux/FrameParser.h"
#include "demux/Mpeg4EsParser.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kevra {

// Holds the container's own buffer so that it exists before the parser base is built.
struct ChunkParserBuffer {
    explicit ChunkParserBuffer(size_t size);
    std::unique_ptr<uint8_t[]> ownBuffer;
    size_t ownSize;
};

class ChunkParser : private ChunkParserBuffer, public FrameParser {
public:
    static constexpr size_t kOwnBufferSize = 0xA0000;
    static constexpr int kChunkPayload = 1024;

    // demuxBuffer (lent) is the inner splitter's work buffer.
    ChunkParser(uint8_t* demuxBuffer, size_t capacity);
    ~ChunkParser() override;

    bool isSyncCode(uint32_t code) override;
    int parseHeader() override;
    int checkFrameEnd() override;
    // The generic loop over the container packets, then the chunk reassembly. Returns 0, or
    // -1 for no data. The inner splitter's frame in progress is moved to the start of its
    // buffer here, at the next block, so that every frame handed out stays intact until then.
    int input(const uint8_t* data, int length) override;
    // The last chunk, then the inner parser's frame in progress.
    int finish() override;
    // Frames of the inner splitter (video and, in stream order, audio).
    MediaFrame* nextFrame() override;
    MediaFrame* nextKeyFrame() override;

    Mpeg4EsParser& inner() { return *inner_; }
    uint32_t chunkCounter() const { return formatWord_; }

private:
    void reassemble(MediaFrame* record);

    std::unique_ptr<Mpeg4EsParser> inner_;
};

}   // namespace kevra
