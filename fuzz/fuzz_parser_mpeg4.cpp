// Fuzzes the MPEG-4 elementary stream splitter in its three modes (plain, chunk-container inner,
// AVI). Byte 1 chooses the mode (value mod 3); in mode 1 a container record with the picture
// fields is set before every block, in mode 2 an AVI template with audio fields is used.
#include "demux/Mpeg4EsParser.h"
#include "fuzz_driver.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int mode = data[1] % 3;
    int sizes[8];
    int count = 0;
    size_t pos = fuzzdrv::readSizes(data, size, 2, sizes, count);

    kevra::MediaFrame tmpl{};
    tmpl.frameRate = 25;
    tmpl.width = 352;
    tmpl.height = 288;
    tmpl.bitsPerSample = 16;
    tmpl.sampleRate = 8000;
    tmpl.channels = 1;
    kevra::Mpeg4EsParser parser(fuzzdrv::workBuffer(), kevra::FrameParser::kWorkBufferSize, mode,
                                mode == 2 ? &tmpl : nullptr);
    if (mode != 1) {
        fuzzdrv::run(parser, data, size, pos, sizes, count);
        return 0;
    }
    // Mode 1: each block arrives as the payload of a container record.
    int block = 0;
    while (pos < size) {
        size_t n = sizes[block % count];
        if (n == 0 || n > size - pos)
            n = size - pos;
        std::vector<uint8_t> copy(data + pos, data + pos + n);
        pos += n;
        kevra::MediaFrame container{};
        container.kind = 1;
        container.width = 704;
        container.height = 576;
        container.frameRate = 25;
        container.param1 = block;
        container.packetStart = copy.data();
        container.payload = copy.data();
        container.packetLength = static_cast<int32_t>(copy.size());
        container.payloadLength = static_cast<int32_t>(copy.size());
        parser.setContainerRecord(container);
        parser.input(copy.data(), static_cast<int>(copy.size()));
        fuzzdrv::drain(parser, data[0] & 8);
        if ((data[0] & 16) && (block & 3) == 3)
            parser.flush((block & 4) != 0);
        ++block;
    }
    fuzzdrv::drain(parser, false);
    return 0;
}
