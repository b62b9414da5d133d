// The first recorder's streams: opened and stopped straight on its device client. Holds only a
// reference to the client, which must outlive it; user-interface thread, as StreamLink.
#pragma once
#include "app/StreamLink.h"
#include "device/DeviceClient.h"

namespace kevra {

class DeviceStreamLink : public StreamLink {
public:
    explicit DeviceStreamLink(DeviceClient& client) : client_(client) {}
    void openStream(int channel, int stream, MediaSink* sink) override
    {
        client_.openChannel(channel, stream, sink);
    }
    void stopStream(int channel) override { client_.stopChannel(channel); }

private:
    DeviceClient& client_;
};

}   // namespace kevra
