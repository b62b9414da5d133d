// Main window geometry from font metrics: bar, title band, status line, video rectangles,
// camera tree and the two PTZ panels. Pure arithmetic (truncating division); any thread.
#pragma once
#include "app/Rect.h"

namespace kevra {

class MainLayout {
public:
    struct Input {
        int width = 0;              // client width cx
        int height = 0;             // client height cy
        int barFontHeight = 0;      // default font height of the bar buttons
        int labelTextWidth = 0;     // "LEFT_RIGHT" measured in that font: w
        int labelTextHeight = 0;    //                                     g
        int windowFontHeight = 0;   // default font height of the main window
        int screenWidth = 0;
        int screenHeight = 0;
    };
    struct Result {
        int barHeight = 0;      // B
        int titleHeight = 0;    // T
        int panelHeight = 0;    // P
        int arrowSize = 0;      // H
        int labelWidth = 0;     // K
        int barTop = 0;
        Rect videoBar[5];       // login, camera, full screen, about, exit
        Rect backButton;
        Rect treeExitButton;
        Rect normalVideo;
        Rect fullScreenVideo;
        Rect statusLine;
        Rect tree;
        int panelTop = 0;
        Rect directionLabel, directionLeft, directionRight;
        Rect lensLabel, lensLeft, lensRight;
    };

    static Result compute(const Input& in);
};

} // namespace kevra
