// What the gateway has seen of a camera's stream: codec, picture size and frame rate. Plain
// values, copied between threads.
#pragma once
#include "OutFrame.h"

namespace kevra::gateway {

struct VideoFacts {
    OutCodec codec = OutCodec::None;   // None: not seen yet
    int width = 0;
    int height = 0;
    int fps = 0;
};

}   // namespace kevra::gateway
