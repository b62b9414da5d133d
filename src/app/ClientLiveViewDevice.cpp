#include "app/ClientLiveViewDevice.h"

#include "device/DeviceClient.h"
#include "video/DecoderWorker.h"

namespace kevra {

void ClientLiveViewDevice::openChannel(int channel, int stream)
{
    client_.openChannel(channel, stream);
}

void ClientLiveViewDevice::setDisplayDepth(int bitsPerPixel)
{
    client_.decoder().setDisplayDepth(bitsPerPixel);
}

const uint8_t* ClientLiveViewDevice::pictureQuery(int& buffering, int& width, int& height)
{
    return client_.decoder().pictureQuery(buffering, width, height);
}

int ClientLiveViewDevice::convertedCount() const
{
    return client_.decoder().convertedCount();
}

void ClientLiveViewDevice::lowerConvertedCount()
{
    client_.decoder().lowerConvertedCount();
}

int ClientLiveViewDevice::frameRate() const
{
    return client_.decoder().frameRate();
}

int ClientLiveViewDevice::undecodableCodec() const
{
    return client_.decoder().undecodableCodec();
}

} // namespace kevra
