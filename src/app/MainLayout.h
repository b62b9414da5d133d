// Main window geometry from font metrics: bar, title band, status line, video rectangles,
// camera tree, the two PTZ panels and the layout control. Pure arithmetic (truncating
// division); any thread.
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
        int barHeight = 0;     // B
        int titleHeight = 0;   // T
        int panelHeight = 0;   // P
        int arrowSize = 0;     // H
        int labelWidth = 0;    // K
        int barTop = 0;
        Rect videoBar[5];   // login, camera, full screen, about, exit
        Rect backButton;
        Rect treeExitButton;
        Rect normalVideo;
        Rect fullScreenVideo;
        Rect statusLine;   // the whole status row
        // The layout control sits at the right end of the status row, 2 x (g + 4) wide and
        // g + 4 high: the bar's five slots and the two panel groups already use the full width
        // of a 240-pixel screen, the status row's text needs only its left part. The status
        // text gets the rest of the row. Every other rectangle is the same as without it.
        Rect layoutButton;
        Rect statusText;
        Rect tree;
        int panelTop = 0;
        Rect directionLabel, directionLeft, directionRight;
        Rect lensLabel, lensLeft, lensRight;
    };

    static Result compute(const Input& in);
};

}   // namespace kevra
