#include "profile/TourSettings.h"

#include "profile/ProfileFile.h"
#include "profile/SettingsFolder.h"

namespace kevra {

namespace {

std::u16string number(int value)
{
    const std::string n = std::to_string(value);
    return std::u16string(n.begin(), n.end());
}

}   // namespace

TourSettings TourSettings::load(const std::u16string& viewsPath)
{
    const std::u16string path = SettingsFolder::readPath(viewsPath);
    TourSettings s;
    const int dwell = ProfileFile::ReadInt(kSection, kDwellKey, kDefaultDwellS, path);
    s.dwellS = keptDwell(dwell);
    const int grid = ProfileFile::ReadInt(kSection, kGridKey, 4, path);
    s.grid = grid == 9 ? 9 : 4;
    return s;
}

int TourSettings::save(const std::u16string& viewsPath, const TourSettings& s)
{
    if (!SettingsFolder::prepareWrite(viewsPath))
        return 0;
    const TourSettings kept = [&] {
        TourSettings k;
        k.dwellS = keptDwell(s.dwellS);
        k.grid = s.grid == 9 ? 9 : 4;
        return k;
    }();
    return ProfileFile::WriteStrings(
        kSection, {{kDwellKey, number(kept.dwellS)}, {kGridKey, number(kept.grid)}}, viewsPath);
}

}   // namespace kevra
