// The camera tour's settings, kept with the remembered view in views.ini, section "tour": the
// time each camera or page stays on the screen (Dwell, seconds) and the grid a whole-grid tour
// pages through (Grid, 4 or 9). Read and written on the user-interface thread.
#pragma once
#include <string>

namespace kevra {

struct TourSettings {
    static constexpr int kDefaultDwellS = 10;
    static constexpr int kMinDwellS = 3;
    static constexpr int kMaxDwellS = 3600;
    // The dwell kept for a value read or asked for: itself within kMinDwellS .. kMaxDwellS,
    // the default otherwise. The walls' tours follow the same rule.
    static constexpr int keptDwell(int seconds)
    {
        return seconds < kMinDwellS || seconds > kMaxDwellS ? kDefaultDwellS : seconds;
    }

    int dwellS = kDefaultDwellS;
    int grid = 4;

    static constexpr const char16_t* kSection = u"tour";
    static constexpr const char16_t* kDwellKey = u"Dwell";
    static constexpr const char16_t* kGridKey = u"Grid";

    bool operator==(const TourSettings&) const = default;

    // Missing or out-of-range values (a dwell outside kMinDwellS .. kMaxDwellS, a grid other
    // than 4 or 9) give their defaults.
    static TourSettings load(const std::u16string& viewsPath);
    // 1 when written.
    static int save(const std::u16string& viewsPath, const TourSettings& s);
};

}   // namespace kevra
