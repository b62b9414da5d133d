// What the viewer's texts say: the status row (the state of what is shown, a message such as a
// saved file held for a while, a recovery being told), each tile's label and stall note, the
// notice over the single view's picture and the stream figures (I). Its queries change nothing;
// poll() brings the status row and the stall notes up to date. User-interface thread.
#pragma once
#include "app/CameraId.h"
#include "app/Playback.h"
#include "app/TileGrid.h"
#include "app/ViewerView.h"

#include <array>
#include <cstdint>
#include <string>

namespace kevra {

class StatusTexts {
public:
    // How long a message (a file saved, nothing to tour) stays in the status row before the
    // row says again what is shown.
    static constexpr uint64_t kMessageMs = 5000;

    // What a tile says besides its picture.
    struct TileLabel {
        std::u16string name, state, note;
        std::u16string recording;   // the red mark while the tile's camera records
        std::u16string stats;       // the framed tile's stream figures while they are shown
    };
    // What the texts need from the coordinator.
    class Host {
    public:
        virtual ~Host() = default;
        virtual std::u16string cameraName(CameraId camera) const = 0;
        // The state of the camera's recorder while it is away; empty while it is there.
        virtual std::u16string recorderAway(CameraId camera) const = 0;
        // A recovery being told (it takes the status row); empty when none.
        virtual std::u16string recoveryNote() const = 0;
        virtual std::u16string recordingMark(CameraId camera) const = 0;
        virtual std::u16string tourText() const = 0;
    };

    StatusTexts(Playback& playback, const TileGrid& grid, ViewerView& view, const Host& host)
        : playback_(playback), grid_(grid), view_(view), host_(host)
    {
    }

    // The lasting text of the status row: the state of the single view's stream or of the
    // framed tile.
    void setStatus(const std::u16string& text);
    const std::u16string& status() const { return status_; }
    // A message in the status row for kMessageMs (a later one replaces it).
    void tell(const std::u16string& text);
    // What the status row shows now: a recovery, else a message, else the status.
    std::u16string row() const;
    // Shows row() when it changed (after a recovery text came or went).
    void showRow();

    TileLabel tileLabel(int position) const;
    std::u16string videoNotice() const;
    // I: the stream figures over the single view and the framed tile (or the tile shown alone).
    void toggleStats();
    bool statsShown() const { return statsShown_; }
    // The single view's figures, one "label value" row a line; empty while hidden or in a grid.
    std::u16string singleStats() const;

    // A few times a second: a message that has had its time goes, the status row follows the
    // framed tile, stall notes and figures are drawn again when they change.
    void poll();
    // The status row follows the framed tile's state now (after the grid changed).
    void followFramedTile();

private:
    bool gridShown() const { return grid_.layout() > 1; }
    static std::u16string statsText(const StreamController* stream);
    void markStalledTiles();

    Playback& playback_;
    const TileGrid& grid_;
    ViewerView& view_;
    const Host& host_;
    std::u16string status_;
    std::u16string message_;
    uint64_t messageUntilMs_ = 0;
    std::u16string shownRow_;   // what the status row was last given
    bool rowGiven_ = false;
    std::u16string shownNotice_;
    bool statsShown_ = false;
    uint64_t statsDrawnMs_ = 0;   // when the figures were last drawn again
    std::array<std::u16string, TileGrid::kMaxTiles> tileNotes_;
};

}   // namespace kevra
