#include "app/TourController.h"

#include "profile/Language.h"

#include <algorithm>

namespace kevra {

bool TourController::start(Kind kind, int layout, int cameraCount, int current, int dwellS,
                           uint64_t nowMs)
{
    stop();
    if (kind == Kind::None || kind == Kind::Tile || cameraCount < 2)
        return false;
    layout_ = kind == Kind::Camera ? 1 : (layout == 9 ? 9 : 4);
    for (int ch = 0; ch < cameraCount; ++ch)
        cameras_.push_back(ch);
    const int pages = (cameraCount + layout_ - 1) / layout_;
    const int first = current < 0 ? 0 : current / layout_;
    if (!scheduler_.start(pages, first, dwellS, nowMs)) {
        stop();
        return false;
    }
    kind_ = kind;
    return true;
}

bool TourController::startTile(int tile, const std::vector<int>& cameras, int current, int dwellS,
                               uint64_t nowMs)
{
    stop();
    if (tile < 0)
        return false;
    layout_ = 1;
    cameras_ = cameras;
    const auto at = std::find(cameras_.begin(), cameras_.end(), current);
    const int first = at == cameras_.end() ? 0 : int(at - cameras_.begin());
    if (!scheduler_.start(int(cameras_.size()), first, dwellS, nowMs)) {
        stop();
        return false;
    }
    kind_ = Kind::Tile;
    tile_ = tile;
    return true;
}

void TourController::stop()
{
    scheduler_.stop();
    kind_ = Kind::None;
    tile_ = -1;
    cameras_.clear();
    preparing_.clear();
}

void TourController::pause()
{
    scheduler_.pause();
    preparing_.clear();
}

void TourController::resume(uint64_t nowMs)
{
    scheduler_.resume(nowMs);
}

std::vector<int> TourController::page(int index) const
{
    std::vector<int> channels;
    const int count = int(cameras_.size());
    for (int i = index * layout_; i >= 0 && i < count && i < (index + 1) * layout_; ++i)
        channels.push_back(cameras_[size_t(i)]);
    return channels;
}

TourController::Update TourController::poll(uint64_t nowMs, const std::function<bool(int)>& ready)
{
    Update u;
    bool nextReady = !preparing_.empty();
    for (int ch : preparing_)
        nextReady = nextReady && ready(ch);
    const TourScheduler::Step step = scheduler_.tick(nowMs, nextReady);
    if (step.action == TourScheduler::Action::Prepare) {
        preparing_ = page(step.page);
        u.prepare = true;
    } else if (step.action == TourScheduler::Action::Show) {
        preparing_.clear();
        u.show = true;
    }
    return u;
}

std::u16string TourController::text(uint64_t nowMs) const
{
    if (kind_ == Kind::None)
        return {};
    if (paused())
        return Language::text(u"TOUR_PAUSED_T");
    return Language::format(u"TOUR_ON_T", {scheduler_.secondsLeft(nowMs)});
}

}   // namespace kevra
