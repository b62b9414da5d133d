#include "demux/ProgramStreamParser.h"

#include <new>

namespace kevra {

ProgramStreamParser::ProgramStreamParser(uint8_t* workBuffer, size_t capacity)
    : FrameParser(workBuffer, capacity), merge_(new (std::nothrow) uint8_t[kMergeBufferSize])
{
}

ProgramStreamParser::~ProgramStreamParser() = default;

bool ProgramStreamParser::isSyncCode(uint32_t code)
{
    return code == 0x000001BA || code == 0x000001E0;
}

int ProgramStreamParser::parseHeader()
{
    return 0;
}

int ProgramStreamParser::checkFrameEnd()
{
    return 1;
}

int ProgramStreamParser::reset(int mode)
{
    return FrameParser::reset(mode);
}

bool ProgramStreamParser::h264SizeFromCode(int, int*, int*)
{
    return false;
}

} // namespace kevra
