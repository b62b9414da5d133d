// The direction and lens panels above the command bar, each a label between two triangle
// buttons: a triangle sends the PTZ command of its panel's mode (up/down or left/right; zoom,
// iris or focus), the label steps the mode. The buttons are children of the main window, which
// places them; user-interface thread only.
#pragma once
#include "app/MainLayout.h"
#include "common/PtzCode.h"

#include <array>
#include <functional>

class QWidget;

namespace kevra {

class BitmapButton;

class PtzButtons {
public:
    // The buttons' command ids, in this order.
    enum Part { DirectionLeft, DirectionRight, LensLeft, LensRight, DirectionLabel, LensLabel };

    // ids: the command id of each part (in Part order), for the window's command(); send: where
    // a triangle's command goes.
    PtzButtons(QWidget* parent, const std::array<int, 6>& ids, std::function<void(int id)> command,
               std::function<void(PtzCode)> send);

    // Runs the part's command; false when id is none of the panels'.
    bool command(int id);
    void place(const MainLayout::Result& r);
    void setVisible(bool visible);
    BitmapButton* button(int id) const;
    int directionMode() const { return directionMode_; }
    int lensMode() const { return lensMode_; }

private:
    std::array<BitmapButton*, 6> buttons_{};
    std::function<void(PtzCode)> send_;
    int directionMode_ = 0;
    int lensMode_ = 0;
};

}   // namespace kevra
