// Fuzzes the ProgramStreamParser on its own: blocks of arbitrary sizes, every record read whole.
#include "demux/ProgramStreamParser.h"
#include "fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    int sizes[8];
    int count = 0;
    const size_t pos = fuzzdrv::readSizes(data, size, 1, sizes, count);
    kevra::ProgramStreamParser parser(fuzzdrv::workBuffer(), kevra::FrameParser::kWorkBufferSize);
    fuzzdrv::run(parser, data, size, pos, sizes, count);
    return 0;
}
