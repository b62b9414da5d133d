#include "app/TourController.h"

#include "profile/Language.h"

namespace kevra {

bool TourController::start(Kind kind, int layout, int cameraCount, int current, int dwellS,
                           uint64_t nowMs)
{
    stop();
    if (kind == Kind::None || cameraCount < 2)
        return false;
    layout_ = kind == Kind::Camera ? 1 : (layout == 9 ? 9 : 4);
    cameras_ = cameraCount;
    const int pages = (cameraCount + layout_ - 1) / layout_;
    const int first = current < 0 ? 0 : current / layout_;
    if (!scheduler_.start(pages, first, dwellS, nowMs))
        return false;
    kind_ = kind;
    return true;
}

void TourController::stop()
{
    scheduler_.stop();
    kind_ = Kind::None;
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
    for (int ch = index * layout_; ch < cameras_ && ch < (index + 1) * layout_; ++ch)
        channels.push_back(ch);
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
