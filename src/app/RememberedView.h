// The view remembered for the recorder the user logged in to by hand (views.ini beside its
// login.ini): the layout, each tile's camera (a camera of another recorder of the list names
// that recorder) and the tile shown alone. Restored after each login by hand, saved whenever
// the user changes the view. Plain state; user-interface thread.
#pragma once
#include "app/TileGrid.h"
#include "profile/RecorderList.h"

#include <string>
#include <vector>

namespace kevra {

class RememberedView {
public:
    // The recorder logged in to by hand (address:port) and the path of its login.ini.
    void setRecorder(const std::u16string& settingsPath, const std::u16string& address, int port);
    // views.ini ("" before the first login by hand).
    const std::u16string& path() const { return path_; }

    // Puts the remembered view into the grid; recorders is login.ini's list, by which a tile's
    // recorder is found (a recorder no longer listed leaves its tile empty).
    void restore(TileGrid& grid, const std::vector<RecorderList::Recorder>& recorders) const;
    // Remembers the grid as it is now (nothing before the first login by hand).
    void save(const TileGrid& grid, const std::vector<RecorderList::Recorder>& recorders) const;

    // How views.ini and walls.ini name a tile's recorder: no name for the login dialog's (the
    // file is its), "address:port" for another of login.ini's list. sourceOf gives "" for a
    // recorder not listed; recorderOf gives -1 for a name no recorder of the list has.
    static std::u16string sourceOf(int recorder,
                                   const std::vector<RecorderList::Recorder>& recorders);
    static int recorderOf(const std::u16string& source,
                          const std::vector<RecorderList::Recorder>& recorders);

private:
    std::u16string path_;
    std::u16string recorder_;   // how views.ini names the recorder logged in to
};

}   // namespace kevra
