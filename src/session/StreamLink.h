// Where a camera stream's channel is opened and stopped: its recorder's session
// (RecorderSession). Called on the session's owner thread (the viewer's stream devices: the
// user-interface thread); once stopStream has returned, no call into the sink is under way and
// none follows.
#pragma once

namespace kevra {

class MediaSink;

class StreamLink {
public:
    virtual ~StreamLink() = default;
    // Streams the channel (the recorder's stream number) to sink, which must outlive
    // stopStream(channel).
    virtual void openStream(int channel, int stream, MediaSink* sink) = 0;
    virtual void stopStream(int channel) = 0;
};

}   // namespace kevra
