#include "app/StreamController.h"

#include "app/ViewerLog.h"
#include "common/Clock.h"

#include <iterator>

namespace kevra {

StreamController::StreamController(CameraId camera, std::unique_ptr<LiveViewDevice> device)
    : camera_(camera), device_(std::move(device))
{
}

StreamController::~StreamController()
{
    stop();
}

void StreamController::open(PixelFormat format)
{
    device_->setPixelFormat(format);
    buffering_ = 1;
    missed_ = 0;
    anyPicture_ = false;
    closeStats();
    holding_ = false;
    state_ = State::Opening;
    device_->openChannel(camera_.channel, streamNumber_);   // stops the stream open so far first
}

bool StreamController::switchStream(int number, PixelFormat format)
{
    if (number == streamNumber_)
        return false;
    streamNumber_ = number;
    const State was = state_.load();
    if (was == State::Stopped || was == State::OpenError)
        return false;
    // Only a stream that showed a picture has one to hold.
    const bool hold = anyPicture_ && (was == State::Playing || was == State::Buffering);
    open(format);
    holding_ = hold;
    return true;
}

bool StreamController::onOpenResult(int result)
{
    if (state_.load() != State::Opening)
        return false;
    if (result != 0) {
        holding_ = false;   // nothing will replace the held picture: say so
        device_->stopChannel();
        stall_.stop();
        state_ = State::OpenError;
        return true;
    }
    if (!stall_.playing())
        stall_.start();
    state_ = State::Buffering;
    return true;
}

void StreamController::closeStats()
{
    const StreamStats::Figures f = figures();
    if (f.pictures > 0)
        ViewerLog::event(StreamStats::logLine(camera_.channel, f, camera_.recorder));
    stats_.reset();
}

StreamStats::Figures StreamController::figures() const
{
    return stats_.figures(Clock::nowUs());
}

void StreamController::suspend()
{
    if (state_.load() == State::Stopped)
        return;
    closeStats();
    device_->stopChannel();
    holding_ = false;
    state_ = State::Stopped;
}

void StreamController::stop()
{
    stall_.stop();
    if (state_.load() == State::Stopped)
        return;
    closeStats();
    ViewerLog::channelStopped(camera_.channel, camera_.recorder);
    device_->stopChannel();
    holding_ = false;
    state_ = State::Stopped;
}

bool StreamController::polling() const
{
    const State s = state_.load();
    return s == State::Buffering || s == State::Playing || s == State::CodecError;
}

int StreamController::stalledSeconds() const
{
    const State s = state_.load();
    return s == State::CodecError || s == State::OpenError ? 0 : stall_.stalledSeconds();
}

bool StreamController::poll(Picture& picture, bool& changed)
{
    changed = false;
    const bool taken = device_->takePicture(picture);
    const bool shown = taken && picture.width > 0 && picture.height > 0;
    stats_.sample(device_->counters(), device_->codec(), Clock::nowUs());
    if (taken && !shown)
        device_->giveBack(picture);
    // Playing as soon as a picture comes (or the decoder holds a second of frames); buffering
    // only after a few frames' worth of polls without one, so the state does not flicker
    // between two pictures of a live stream.
    if (shown)
        buffering_ = 0;
    else if (lowLatency_.load())
        buffering_ = 1;
    else
        buffering_ = device_->buffering(buffering_);
    State now = state_.load();
    if (shown || buffering_ == 0) {
        missed_ = 0;
        now = State::Playing;
    } else if (now != State::Playing || ++missed_ > kGraceFrames * pollsPerFrame_) {
        now = State::Buffering;
    }
    if (shown) {
        anyPicture_ = true;
        holding_ = false;
        stall_.picture();
    }
    // A stream no decoder can show says so instead of buffering for ever; a decodable stream
    // afterwards (a new key frame) brings the buffering or playing state back.
    if (device_->cannotShow(anyPicture_)) {
        if (state_.load() != State::CodecError)
            ViewerLog::event(device_->cannotShowText(camera_.channel));
        now = State::CodecError;
    }
    if (now != state_.load()) {
        state_ = now;
        changed = true;
    }
    return shown;
}

void StreamController::pictureDrawn(const Picture& picture, uint64_t drawnUs)
{
    stats_.pictureShown(picture, drawnUs);
    device_->giveBack(picture);
}

void StreamController::pictureSkipped(const Picture& picture)
{
    device_->giveBack(picture);
}

namespace {

// Language keys of each state's text, in State's order.
struct StateKeys {
    const char16_t* tile;     // on a tile of the grid or a wall
    const char16_t* single;   // in the single view's status
};

constexpr StateKeys kStateKeys[] = {
    {u"OPENING_TILE", u"OPENING_V"},     // Opening
    {u"BUFFERING_TILE", u"BUFFERING"},   // Buffering
    {u"PLAYING_TILE", u"PLAYING"},       // Playing
    {u"OPEN_ERR_TILE", u"OPEN_ERR"},     // OpenError
    {u"CODEC_ERR", u"CODEC_ERR"},        // CodecError
    {u"STOP_TILE", u"STOP"},             // Stopped
};
static_assert(std::size(kStateKeys) == size_t(StreamController::State::Stopped) + 1);

}   // namespace

const char16_t* StreamController::tileKey(State s)
{
    return kStateKeys[size_t(s)].tile;
}

const char16_t* StreamController::singleKey(State s)
{
    return kStateKeys[size_t(s)].single;
}

}   // namespace kevra
