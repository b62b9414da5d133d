#include "app/ClientLiveViewDevice.h"

#include "common/Clock.h"
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
    lastMediaMs_ = 0;
    openedMs_ = Clock::nowMs();
    client_.openChannel(channel, stream, this);
}

void ClientLiveViewDevice::stopChannel()
{
    if (channel_ != -1) {
        client_.stopChannel(channel_);   // returns with no push under way and none to come
        channel_ = -1;
    }
    openedMs_ = 0;
    decoder_.stop();
}

void ClientLiveViewDevice::onMediaBytes(int, const uint8_t* bytes, int length)
{
    lastMediaMs_ = Clock::nowMs();
    decoder_.push(bytes, length);
}

void ClientLiveViewDevice::setDisplayDepth(int bitsPerPixel)
{
    decoder_.setDisplayDepth(bitsPerPixel);
}

const uint8_t* ClientLiveViewDevice::pictureQuery(int& buffering, int& width, int& height)
{
    return decoder_.pictureQuery(buffering, width, height);
}

int ClientLiveViewDevice::convertedCount() const
{
    return decoder_.convertedCount();
}

void ClientLiveViewDevice::lowerConvertedCount()
{
    decoder_.lowerConvertedCount();
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
