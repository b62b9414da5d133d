#include "OutFrame.h"

namespace kevra::gateway {

const char* codecName(OutCodec codec)
{
    switch (codec) {
    case OutCodec::H264: return "H.264";
    case OutCodec::Mpeg4: return "MPEG-4";
    default: return "none";
    }
}

}   // namespace kevra::gateway
