#include "app/ClientLiveViewDevice.h"

#include "device/DeviceClient.h"

namespace kevra {

ClientLiveViewDevice::~ClientLiveViewDevice()
{
    stopChannel();
}

void ClientLiveViewDevice::openChannel(int channel, int stream)
{
    stopChannel();
    decoder_.start();
    channel_ = channel;
    client_.openChannel(channel, stream, this);
}

void ClientLiveViewDevice::stopChannel()
{
    if (channel_ != -1) {
        client_.stopChannel(channel_);   // returns with no push under way and none to come
        channel_ = -1;
    }
    decoder_.stop();
}

void ClientLiveViewDevice::onMediaBytes(int, const uint8_t* bytes, int length)
{
    decoder_.push(bytes, length);
}

void ClientLiveViewDevice::setPixelFormat(PixelFormat format)
{
    decoder_.setPixelFormat(format);
}

bool ClientLiveViewDevice::takePicture(Picture& picture)
{
    return decoder_.takePicture(picture);
}

void ClientLiveViewDevice::giveBack(const Picture& picture)
{
    decoder_.giveBack(picture);
}

int ClientLiveViewDevice::buffering(int previous)
{
    return decoder_.buffering(previous);
}

int ClientLiveViewDevice::frameRate() const
{
    return decoder_.frameRate();
}

int ClientLiveViewDevice::undecodableCodec() const
{
    return decoder_.undecodableCodec();
}

}   // namespace kevra
