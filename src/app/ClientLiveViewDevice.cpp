#include "app/ClientLiveViewDevice.h"

#include "app/RecordingController.h"
#include "common/Clock.h"

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
    if (recordings_)
        recordings_->streamRestarted(
            CameraId{recorder_, channel});   // before the new stream's first byte
    link_.openStream(channel, stream, this);
}

void ClientLiveViewDevice::stopChannel()
{
    if (channel_ != -1) {
        link_.stopStream(channel_);   // returns with no push under way and none to come
        if (recordings_)
            recordings_->streamStopped(CameraId{recorder_, channel_});
        channel_ = -1;
    }
    openedMs_ = 0;
    decoder_.stop();
}

void ClientLiveViewDevice::onMediaBytes(int channel, const uint8_t* bytes, int length)
{
    lastMediaMs_ = Clock::nowMs();
    if (recordings_)
        recordings_->feed(CameraId{recorder_, channel}, bytes, length);
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

std::string ClientLiveViewDevice::undecodableReason() const
{
    const DecoderWorker::UnsupportedReason r = decoder_.unsupported();
    using Kind = DecoderWorker::Unsupported;
    std::string text;
    switch (r.kind) {
    case Kind::None: return {};
    case Kind::AudioOnly: text = "audio only, no video"; break;
    case Kind::VideoCodec: text = "a video codec this viewer has no decoder for"; break;
    case Kind::PictureFormat: text = "a picture format the viewer does not convert"; break;
    case Kind::NoPicture: text = "the decoder makes no picture of it"; break;
    case Kind::NoVideo: text = "no video this viewer can start at"; break;
    }
    if (!r.detail.empty())
        text += " (" + r.detail + ")";
    else if (r.codec >= 0)
        text += " (codec " + std::to_string(r.codec) + ")";
    return text;
}

}   // namespace kevra
