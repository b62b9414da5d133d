// Fuzzes the chunked container parser (its own buffer plus the inner MPEG-4 splitter working
// in the lent demultiplexer buffer).
#include "demux/ChunkParser.h"
#include "fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    int sizes[8];
    int count = 0;
    const size_t pos = fuzzdrv::readSizes(data, size, 1, sizes, count);
    kevra::ChunkParser parser(fuzzdrv::workBuffer(), kevra::FrameParser::kWorkBufferSize);
    fuzzdrv::run(parser, data, size, pos, sizes, count);
    return 0;
}
