#include "OutFrame.h"

#include <chrono>

namespace kevra::gateway {

uint64_t OutFrame::steadyNowNs()
{
    return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

const char* codecName(OutCodec codec)
{
    switch (codec) {
    case OutCodec::H264: return "H.264";
    case OutCodec::Mpeg4: return "MPEG-4";
    default: return "none";
    }
}

}   // namespace kevra::gateway
