#include "app/TileController.h"

#include "app/ViewerLog.h"

namespace kevra {

TileController::TileController(int channel, std::unique_ptr<LiveViewDevice> device)
    : channel_(channel), device_(std::move(device))
{
}

TileController::~TileController()
{
    stop();
}

void TileController::open(int bitsPerPixel)
{
    device_->setPixelFormat(pixelFormatForDepth(bitsPerPixel));
    buffering_ = 1;
    missed_ = 0;
    anyPicture_ = false;
    state_ = State::Opening;
    device_->openChannel(channel_, 1);
}

void TileController::onOpenResult(int result)
{
    if (state_.load() != State::Opening)
        return;
    if (result != 0) {
        device_->stopChannel();
        state_ = State::OpenError;
        return;
    }
    state_ = State::Buffering;
}

void TileController::stop()
{
    if (state_.load() == State::Stopped)
        return;
    device_->stopChannel();
    state_ = State::Stopped;
}

bool TileController::polling() const
{
    const State s = state_.load();
    return s == State::Buffering || s == State::Playing || s == State::CodecError;
}

bool TileController::poll(Picture& picture, bool& changed)
{
    changed = false;
    const bool taken = device_->takePicture(picture);
    buffering_ = taken ? 0 : device_->buffering(buffering_);
    const bool shown = taken && picture.width > 0 && picture.height > 0;
    if (taken && !shown)
        device_->giveBack(picture);
    // The decoder says "buffering" whenever its frame list runs dry, which between two
    // pictures of a live stream is most of the time; a playing tile says so only after
    // kGraceTicks polls without a picture.
    State now = state_.load();
    if (shown || buffering_ == 0) {
        missed_ = 0;
        now = State::Playing;
    } else if (now != State::Playing || ++missed_ > kGraceTicks) {
        now = State::Buffering;
    }
    anyPicture_ = anyPicture_ || shown;
    if (device_->cannotShow(anyPicture_)) {
        if (now != State::CodecError && state_.load() != State::CodecError)
            ViewerLog::event(device_->cannotShowText(channel_));
        now = State::CodecError;
    }
    if (now != state_.load()) {
        state_ = now;
        changed = true;
    }
    return shown;
}

void TileController::pictureShown(const Picture& picture)
{
    device_->giveBack(picture);
}

const char16_t* TileController::stateKey(State s)
{
    switch (s) {
    case State::Opening: return u"OPENING_TILE";
    case State::Buffering: return u"BUFFERING_TILE";
    case State::Playing: return u"PLAYING_TILE";
    case State::OpenError: return u"OPEN_ERR_TILE";
    case State::CodecError: return u"CODEC_ERR";
    case State::Stopped: break;
    }
    return u"STOP_TILE";
}

}   // namespace kevra
