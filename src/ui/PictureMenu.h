// The picture's own menu, opened by holding a finger on the picture or a tile (or the right
// button): the commands the bar has no room for on a 240-pixel screen (save the picture, record,
// stream figures, low latency, settings). Runs modally over the main window; user-interface
// thread only.
#pragma once
#include <QPoint>

namespace kevra {

class MainWindow;

class PictureMenu {
public:
    static void exec(MainWindow& window, const QPoint& globalPos);
};

}   // namespace kevra
