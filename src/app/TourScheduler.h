// A tour's timing: which page (one camera for the single view or the framed tile, or a page of
// cameras for a whole grid) is shown, when the next one is opened and when it takes the screen.
// The next page is opened kPrepareMs before its turn and takes the screen only once its first
// picture is there (or kReadyWaitMs after its turn, so a dead camera does not stop the tour), so
// no black picture is shown between two cameras. A manual choice pauses the tour; toggling it
// starts it again from the page shown. Pure state on the millisecond clock; user-interface
// thread.
#pragma once
#include "profile/TourSettings.h"

#include <cstdint>
#include <vector>

namespace kevra {

class TourScheduler {
public:
    static constexpr uint64_t kPrepareMs = 2000;
    static constexpr uint64_t kReadyWaitMs = 5000;

    enum class State { Off, Running, Paused };
    enum class Action { None, Prepare, Show };
    struct Step {
        Action action = Action::None;
        int page = -1;
    };

    // Starts touring `pages` pages from page `current`, which is on the screen now; dwell in
    // seconds (kept within TourSettings' kMinDwellS .. kMaxDwellS). Fewer than two pages:
    // nothing to tour.
    bool start(int pages, int current, int dwellS, uint64_t nowMs);
    void stop();
    // A manual choice: the tour holds; resume() goes on from the page then shown.
    void pause();
    void resume(uint64_t nowMs);
    // What to do now: Prepare (open the next page's streams, once per turn) or Show (put the
    // prepared page on the screen; it is the current page from then on). nextReady: the
    // prepared page has its first picture.
    Step tick(uint64_t nowMs, bool nextReady);

    State state() const { return state_; }
    int current() const { return current_; }
    int next() const { return pages_ > 0 ? (current_ + 1) % pages_ : -1; }
    int pages() const { return pages_; }
    int dwellS() const { return dwellS_; }
    bool prepared() const { return prepared_; }
    // Whole seconds until the next page's turn (0 once it is due).
    int secondsLeft(uint64_t nowMs) const;

    static int clampDwell(int seconds);

private:
    State state_ = State::Off;
    int pages_ = 0;
    int current_ = 0;
    int dwellS_ = TourSettings::kDefaultDwellS;
    uint64_t dueMs_ = 0;   // the next page's turn
    bool prepared_ = false;
};

}   // namespace kevra
