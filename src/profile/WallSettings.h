// The walls and the spot monitor in views.ini: one section per wall, "wall1", "wall2", ... (at
// most kMaxWalls), each with the screen it stands on (Screen=, the screen's number as the
// windowing system lists them, 0 the first), its layout (Layout= 1, 4, 9, 16, 1+5 or 1+7), its
// tiles as the "view" section keeps them (TileK= channel or -1, SourceK= the recorder's
// "address:port" for a camera of a recorder other than the list's first; tile 0 the large one)
// and its tour (Tour=1 while it runs, Dwell= seconds); and the section "spot" with the screen
// that follows the main window's framed camera (Screen=). Installers may write these by hand:
// what is read is bounded and checked key by key. As everywhere in the profile engine, a key
// missing from a section is looked for in the sections after it, so every section is written
// whole (an empty Source for the first recorder's cameras, Screen= empty for a removed wall,
// Screen=-1 for no spot) and a hand-written one should name every key it means. Read and
// written on the user-interface thread, through the profile engine like the rest of views.ini.
#pragma once
#include "profile/TourSettings.h"

#include <array>
#include <string>
#include <vector>

namespace kevra {

struct WallSettings {
    static constexpr int kMaxWalls = 8;
    static constexpr int kMaxTiles = 16;
    static constexpr int kMaxScreen = 63;
    static constexpr int kNone = -1;
    static constexpr int kMaxChannel = 9999;

    int number = 1;   // wall1 .. wall8
    int screen = 0;
    int layout = 1;   // the tile count: 1, 4, 6 (1+5), 8 (1+7), 9, 16
    std::array<int, kMaxTiles> tiles{kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
                                     kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone};
    // The recorder of each tile's camera ("address:port"); empty: the list's first.
    std::array<std::u16string, kMaxTiles> sources{};
    bool tour = false;
    int dwellS = TourSettings::kDefaultDwellS;

    static constexpr const char16_t* kSectionPrefix = u"wall";
    static constexpr const char16_t* kSpotSection = u"spot";
    static constexpr const char16_t* kScreenKey = u"Screen";
    static constexpr const char16_t* kLayoutKey = u"Layout";
    static constexpr const char16_t* kTileKey = u"Tile";
    static constexpr const char16_t* kSourceKey = u"Source";
    static constexpr const char16_t* kTourKey = u"Tour";
    static constexpr const char16_t* kDwellKey = u"Dwell";

    bool operator==(const WallSettings&) const = default;

    // The layout's name as the file and the menus spell it ("1", "4", "9", "16", "1+5", "1+7");
    // empty for a count that is not a layout. layoutOf() is its inverse: 0 for anything else.
    static std::u16string layoutName(int tiles);
    static int layoutOf(const std::u16string& name);

    // Every wall of the file, by number. A section without a readable Screen (0 .. kMaxScreen)
    // is no wall, nor is one on the screen of a wall with a lower number. An unknown Layout
    // gives 1; a tile that is not a channel number (-1 .. kMaxChannel), or whose Source is not
    // an "address:port" name, is empty; tiles beyond the layout are empty; a Dwell outside
    // kMinDwellS .. kMaxDwellS gives the default. Surrounding spaces are allowed.
    static std::vector<WallSettings> loadAll(const std::u16string& viewsPath);
    // Writes the wall's whole section in one replacement (tiles beyond the layout as -1, empty
    // Source keys for the first recorder's cameras). 1 when written; 0 for a number, screen or layout out of range
    // or a failed write.
    static int save(const std::u16string& viewsPath, const WallSettings& wall);
    // Wall `wallNumber` is no more (its Screen empty). 1 when written.
    static int remove(const std::u16string& viewsPath, int wallNumber);

    // The spot monitor's screen; -1 when there is none (no section, or no readable Screen).
    static int loadSpotScreen(const std::u16string& viewsPath);
    // -1 removes the spot. 1 when written.
    static int saveSpotScreen(const std::u16string& viewsPath, int screen);
};

}   // namespace kevra
