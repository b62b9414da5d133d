// The walls and the spot monitor of the viewer: what each wall shows (its layout, the camera of
// each tile, its tour) and which surface draws it while its screen is there. A wall whose
// screen is missing keeps its cameras and shows nothing: its streams stop until a surface is
// attached again. The spot shows one camera, the main window's framed one, alone. The
// coordinator merges shown() into what Playback runs, so every camera has one stream whatever
// number of walls show it. Pure state on the millisecond clock; user-interface thread.
#pragma once
#include "app/CameraId.h"
#include "app/Playback.h"
#include "app/TourScheduler.h"
#include "profile/TourSettings.h"
#include "profile/WallSettings.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kevra {

class TileSurface;

class WallSet {
public:
    static constexpr int kMaxTiles = WallSettings::kMaxTiles;

    struct Wall {
        int number = 1;   // wall1 .. wall8 in views.ini, and the number keys send to
        int screen = 0;
        int layout = 1;   // tile count: 1, 4, 6 (1+5), 8 (1+7), 9, 16
        std::array<CameraId, kMaxTiles> tiles{};
        TileSurface* surface = nullptr;   // null while its screen is missing
        TourScheduler tour;
        int dwellS = TourSettings::kDefaultDwellS;
        std::vector<CameraId> tourCameras;   // what the tour pages through, in tree order
        std::vector<CameraId> preparing;     // the tour's next page, opened ahead
        bool tourToResume = false;           // views.ini says it ran: startTour() once listed
    };

    // How cameras and the file's source names map: the name of a recorder ("" for the list's
    // first), and the recorder a name gives (-1: not in the list).
    using NameOf = std::function<std::u16string(int recorder)>;
    using RecorderOf = std::function<int(const std::u16string& name)>;

    // Takes the walls and the spot screen read from views.ini; tiles of recorders not in the
    // list stay empty. A tour that was running waits for startTour() (tourToResume). A wall on
    // the same screen as before keeps its surface, and so does the spot.
    void load(const std::vector<WallSettings>& walls, int spotScreen, const RecorderOf& recorderOf);
    // The wall as views.ini keeps it.
    WallSettings settings(int number, const NameOf& nameOf) const;

    const std::vector<Wall>& walls() const { return walls_; }
    // Null when there is no such wall.
    const Wall* wall(int number) const;
    const Wall* wallOn(int screen) const;
    int spotScreen() const { return spotScreen_; }

    // Which screen is which wall: screens[k] is wall (k+1)'s screen, -1 for none. A wall that
    // keeps its number keeps its cameras; a wall gone forgets them. The spot on a wall's screen
    // is no spot. Surfaces are detached first (the caller makes them again).
    void assignScreens(const std::vector<int>& screens, int spotScreen);

    // A surface drawing the wall or the spot now (its screen came), or none (it went).
    void attach(int number, TileSurface* surface);
    void attachSpot(TileSurface* surface) { spotSurface_ = surface; }
    TileSurface* spotSurface() const { return spotSurface_; }
    // The camera the spot follows (the main window's framed camera; none: black).
    void follow(CameraId camera) { spotCamera_ = camera; }
    CameraId spotCamera() const { return spotCamera_; }

    // Filling. False when nothing changed (no such wall or tile, an invalid layout).
    // A camera already on another tile of the wall trades places with the tile's camera.
    bool place(int number, int tile, CameraId camera);
    // The camera goes to the wall's large tile (tile 0).
    bool send(int number, CameraId camera) { return place(number, 0, camera); }
    bool setLayout(int number, int layout);
    // The cameras of a recorder whose list changed: tiles of recorders no longer there empty.
    void forgetRecorder(int recorder);

    // The wall's tour through `cameras` (tree order), a page of its layout at a time; a manual
    // change stops it. False when fewer than two pages.
    bool startTour(int number, const std::vector<CameraId>& cameras, int dwellS, uint64_t nowMs);
    void stopTour(int number);
    bool touring(int number) const;
    // Steps the running tours; true when a wall's tiles or the cameras opened ahead changed.
    // ready(camera): its stream shows pictures.
    bool poll(uint64_t nowMs, const std::function<bool(CameraId)>& ready);

    // Every attached wall and the attached spot, for Playback::show, and the cameras the tours
    // open ahead of their turn.
    std::vector<Playback::Shown::Wall> shown() const;
    std::vector<CameraId> preparing() const;

private:
    Wall* find(int number);
    std::vector<CameraId> page(const Wall& w, int index) const;

    std::vector<Wall> walls_;
    int spotScreen_ = -1;
    TileSurface* spotSurface_ = nullptr;
    CameraId spotCamera_;
};

}   // namespace kevra
