// The remembered multi-camera view in views.ini beside login.ini, section "view": the recorder
// it belongs to ("address:port", the first of the viewer's list), the layout and the camera of
// every tile; a tile showing a camera of another recorder of the list names that recorder too
// ("Source3=address:port"; no such key: the first recorder, as files without them meant), and
// the grid tile shown alone, if one is ("Zoomed=2"; no such key: the whole grid). Only
// the first recorder last used is remembered; any other starts with the one-tile default. Loaded after a
// login and saved whenever the view changes, both on the user-interface thread.
#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace kevra {

struct ViewSettings {
    static constexpr int kMaxTiles = 16;
    static constexpr int kNone = -1;
    // Channel numbers above this are not a camera of any recorder.
    static constexpr int kMaxChannel = 9999;

    int layout = 1;
    std::array<int, kMaxTiles> tiles{kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone,
                                     kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone};
    // The recorder of each tile's camera, as recorderName() names it; empty: the first.
    std::array<std::u16string, kMaxTiles> sources{};
    // The grid tile shown alone (double click), kNone for the whole grid.
    int zoomed = kNone;

    static constexpr const char16_t* kFileName = u"views.ini";
    static constexpr const char16_t* kSection = u"view";
    static constexpr const char16_t* kRecorderKey = u"Recorder";
    static constexpr const char16_t* kLayoutKey = u"Layout";
    static constexpr const char16_t* kTileKey = u"Tile";       // Tile0 .. Tile15
    static constexpr const char16_t* kSourceKey = u"Source";   // Source0 .. Source15
    static constexpr const char16_t* kZoomedKey = u"Zoomed";

    bool operator==(const ViewSettings&) const = default;

    // views.ini in the given folder (the bare name when it is empty). Read and written through
    // SettingsFolder like login.ini.
    static std::u16string pathIn(const std::u16string& applicationDirectory);
    // How a recorder is named in the file; empty (nothing is remembered) when the address holds
    // a character that could break the file's lines or keys.
    static std::u16string recorderName(const std::u16string& address, int32_t port);
    // A name recorderName() could have given: "address:port", at most a host name's length.
    static bool isRecorderName(const std::u16string& name);

    // The view remembered for this recorder. The one-tile default when the file is missing,
    // belongs to another recorder, or holds anything that is not a layout (1, 4, 9, 16) and one
    // channel number (-1 for none, else 0 .. kMaxChannel) for every tile of that layout, each
    // camera (source and channel) at most once, each source a name recorderName() could give.
    // Tiles beyond the layout are kNone. A Zoomed key that names no tile of a grid with a
    // camera leaves the whole grid shown.
    static ViewSettings load(const std::u16string& path, const std::u16string& recorder);
    // Writes the recorder, the layout, all sixteen tiles and the tiles' sources (empty for a tile
    // of the first recorder) and the tile shown alone (no Zoomed key for none) in one
    // replacement of the file.
    // 1 when written; 0 for an empty recorder name, a layout that is not one, or a failed write.
    static int save(const std::u16string& path, const std::u16string& recorder,
                    const ViewSettings& view);
};

}   // namespace kevra
