// A camera stream's link straight onto a device client, for tests that stream without a
// recorder session.
#pragma once
#include "device/DeviceClient.h"
#include "session/StreamLink.h"

namespace kevra::test {

class ClientStreamLink : public StreamLink {
public:
    explicit ClientStreamLink(DeviceClient& client) : client_(client) {}
    void openStream(int channel, int stream, MediaSink* sink) override
    {
        client_.openChannel(channel, stream, sink);
    }
    void stopStream(int channel) override { client_.stopChannel(channel); }

private:
    DeviceClient& client_;
};

}   // namespace kevra::test
