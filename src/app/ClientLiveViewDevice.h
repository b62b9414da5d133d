// The live view's link to the recorder and decoder: the device client's openChannel and its
// decoder worker's picture queries. Owned by the main window; threads as in LiveViewDevice.
#pragma once
#include "app/LiveViewDevice.h"

namespace kevra {

class DeviceClient;

class ClientLiveViewDevice : public LiveViewDevice {
public:
    explicit ClientLiveViewDevice(DeviceClient& client) : client_(client) {}

    void openChannel(int channel, int stream) override;
    void setDisplayDepth(int bitsPerPixel) override;
    const uint8_t* pictureQuery(int& buffering, int& width, int& height) override;
    int convertedCount() const override;
    void lowerConvertedCount() override;
    int frameRate() const override;
    int undecodableCodec() const override;

private:
    DeviceClient& client_;
};

} // namespace kevra
