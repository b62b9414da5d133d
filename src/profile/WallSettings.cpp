#include "profile/WallSettings.h"

#include "profile/DecimalText.h"
#include "profile/ProfileFile.h"
#include "profile/SettingsFolder.h"
#include "profile/ViewSettings.h"

#include <string>
#include <utility>

namespace kevra {

namespace {

std::u16string ascii(const std::string& s)
{
    return std::u16string(s.begin(), s.end());
}

std::u16string decimal(int value)
{
    return ascii(std::to_string(value));
}

std::u16string section(int wall)
{
    return WallSettings::kSectionPrefix + decimal(wall);
}

std::u16string trimmed(const std::u16string& text)
{
    size_t a = 0, b = text.size();
    while (a < b && (text[a] == u' ' || text[a] == u'\t'))
        ++a;
    while (b > a && (text[b - 1] == u' ' || text[b - 1] == u'\t'))
        --b;
    return text.substr(a, b - a);
}

// A key's value that is a number within [low, high]; false when missing or anything else.
bool readNumber(const std::u16string& sec, const std::u16string& key, int low, int high,
                const std::u16string& path, int& out)
{
    int v = 0;
    if (!parseDecimal(trimmed(ProfileFile::ReadString(sec, key, u"", path)), v) || v < low ||
        v > high)
        return false;
    out = v;
    return true;
}

}   // namespace

std::u16string WallSettings::layoutName(int tiles)
{
    switch (tiles) {
    case 1: return u"1";
    case 4: return u"4";
    case 6: return u"1+5";
    case 8: return u"1+7";
    case 9: return u"9";
    case 16: return u"16";
    default: return u"";
    }
}

int WallSettings::layoutOf(const std::u16string& name)
{
    for (int tiles : {1, 4, 6, 8, 9, 16})
        if (name == layoutName(tiles))
            return tiles;
    return 0;
}

std::vector<WallSettings> WallSettings::loadAll(const std::u16string& viewsPath)
{
    const std::u16string path = SettingsFolder::readPath(viewsPath);
    std::vector<WallSettings> walls;
    for (int n = 1; n <= kMaxWalls; ++n) {
        const std::u16string sec = section(n);
        WallSettings w;
        w.number = n;
        if (!readNumber(sec, kScreenKey, 0, kMaxScreen, path, w.screen))
            continue;
        bool taken = false;
        for (const WallSettings& other : walls)
            taken = taken || other.screen == w.screen;
        if (taken)
            continue;
        const int layout = layoutOf(trimmed(ProfileFile::ReadString(sec, kLayoutKey, u"", path)));
        w.layout = layout > 0 ? layout : 1;
        for (int i = 0; i < w.layout; ++i) {
            int ch = kNone;
            if (!readNumber(sec, kTileKey + decimal(i), kNone, kMaxChannel, path, ch))
                continue;
            const std::u16string source =
                trimmed(ProfileFile::ReadString(sec, kSourceKey + decimal(i), u"", path));
            if (!source.empty() && !ViewSettings::isRecorderName(source))
                continue;
            w.tiles[size_t(i)] = ch;
            if (ch != kNone)
                w.sources[size_t(i)] = source;
        }
        int tour = 0;
        w.tour = readNumber(sec, kTourKey, 0, 1, path, tour) && tour == 1;
        readNumber(sec, kDwellKey, TourSettings::kMinDwellS, TourSettings::kMaxDwellS, path,
                   w.dwellS);
        walls.push_back(std::move(w));
    }
    return walls;
}

int WallSettings::save(const std::u16string& viewsPath, const WallSettings& wall)
{
    if (wall.number < 1 || wall.number > kMaxWalls || wall.screen < 0 || wall.screen > kMaxScreen ||
        layoutName(wall.layout).empty() || !SettingsFolder::prepareWrite(viewsPath))
        return 0;
    std::vector<std::pair<std::u16string, std::u16string>> values;
    values.emplace_back(kScreenKey, decimal(wall.screen));
    values.emplace_back(kLayoutKey, layoutName(wall.layout));
    for (int i = 0; i < kMaxTiles; ++i) {
        int ch = i < wall.layout ? wall.tiles[size_t(i)] : kNone;
        if (ch < kNone || ch > kMaxChannel)
            ch = kNone;
        values.emplace_back(kTileKey + decimal(i), decimal(ch));
        const std::u16string& source = wall.sources[size_t(i)];
        const bool other = ch != kNone && ViewSettings::isRecorderName(source);
        values.emplace_back(kSourceKey + decimal(i), other ? source : std::u16string());
    }
    values.emplace_back(kTourKey, wall.tour ? u"1" : u"0");
    values.emplace_back(kDwellKey, decimal(TourSettings::keptDwell(wall.dwellS)));
    return ProfileFile::UpdateSection(section(wall.number), values, {}, viewsPath);
}

int WallSettings::remove(const std::u16string& viewsPath, int wallNumber)
{
    if (wallNumber < 1 || wallNumber > kMaxWalls || !SettingsFolder::prepareWrite(viewsPath))
        return 0;
    // The keys stay (empty screen: no wall), so no later write looks past this section.
    return ProfileFile::UpdateSection(section(wallNumber), {{kScreenKey, u""}}, {}, viewsPath);
}

int WallSettings::loadSpotScreen(const std::u16string& viewsPath)
{
    int screen = -1;
    readNumber(kSpotSection, kScreenKey, 0, kMaxScreen, SettingsFolder::readPath(viewsPath),
               screen);
    return screen;
}

int WallSettings::saveSpotScreen(const std::u16string& viewsPath, int screen)
{
    if (screen > kMaxScreen || !SettingsFolder::prepareWrite(viewsPath))
        return 0;
    if (screen < 0)
        return ProfileFile::UpdateSection(kSpotSection, {}, {kScreenKey}, viewsPath);
    return ProfileFile::UpdateSection(kSpotSection, {{kScreenKey, decimal(screen)}}, {}, viewsPath);
}

}   // namespace kevra
