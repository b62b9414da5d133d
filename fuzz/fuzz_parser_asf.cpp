// Fuzzes the ASF parser with a packet size and video stream number taken from the input
// (bytes 1-2: packet size, byte 3: video stream), as the probe would read them from a header.
#include "demux/AsfParser.h"
#include "fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    // Bit 7 of byte 3 scales the size up, as a header may announce any 31-bit packet size.
    int packetSize = data[1] | (data[2] << 8);
    if (data[3] & 0x80)
        packetSize <<= 15;
    const int videoStream = data[3] & 0x7F;
    int sizes[8];
    int count = 0;
    const size_t pos = fuzzdrv::readSizes(data, size, 4, sizes, count);
    kevra::AsfParser parser(fuzzdrv::workBuffer(), kevra::FrameParser::kWorkBufferSize, packetSize,
                            videoStream);
    fuzzdrv::run(parser, data, size, pos, sizes, count);
    return 0;
}
