#include "device/MediaChannel.h"

#include "device/DeviceSession.h"
#include "device/MediaSink.h"

namespace kevra {

MediaChannel::MediaChannel(DeviceSession& session, int index)
    : MessageConnection(index), session_(session)
{
}

MediaChannel::~MediaChannel()
{
    MediaChannel::close();
}

void MediaChannel::close()
{
    link().close();
}

void MediaChannel::onPayload(int command, const uint8_t* bytes, int length)
{
    if (command != cmd::MEDIA_DATA || !streaming_ || length <= 0)
        return;
    if (MediaSink* media = session_.media())
        media->onMediaBytes(index(), bytes, length);
}

}   // namespace kevra
