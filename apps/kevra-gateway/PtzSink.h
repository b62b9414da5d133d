// Where the ONVIF side sends a camera's PTZ steps: the recorder link of that camera's recorder
// (one recorder PTZ command per call; code as the viewer's panels send it). Any thread; an
// implementation queues the command and returns at once.
#pragma once

namespace kevra::gateway {

class PtzSink {
public:
    virtual ~PtzSink() = default;
    virtual void ptz(int channel, int code) = 0;
};

}   // namespace kevra::gateway
