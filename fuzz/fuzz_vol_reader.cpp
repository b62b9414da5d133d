// Fuzzes the MPEG-4 layer header reader. Byte 0 sets the byte limit (the parsers use 100);
// the rest, copied to an allocation of exactly its size, is the data.
#include "demux/VolReader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int limit = data[0] == 255 ? 1 << 20 : data[0] * 4;
    std::vector<uint8_t> bytes(data + 1, data + size);
    int width = -7, height = -7, rate = -7;
    const int r = kevra::VolReader::read(bytes.empty() ? nullptr : bytes.data(), limit,
                                         static_cast<int>(bytes.size()), &width, &height, &rate);
    if (r != 0 && r != -1)
        __builtin_trap();
    if (r == 0 && (width < 0 || height < 0))
        __builtin_trap();
    // A shorter availability than the bytes present must never read further.
    if (!bytes.empty()) {
        std::vector<uint8_t> half(bytes.begin(), bytes.begin() + bytes.size() / 2);
        kevra::VolReader::read(half.empty() ? nullptr : half.data(), limit,
                               static_cast<int>(half.size()), &width, &height, &rate);
    }
    return 0;
}
