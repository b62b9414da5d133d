// Paints the title band shared by the main window and the login dialog: the band bitmap with
// the product title and, right after it in a smaller, lighter font, the version.
// User-interface thread only (called from paint handlers).
#pragma once
#include <QColor>
#include <QPainter>
#include <QPixmap>

namespace kevra {

class TitleBand {
public:
    // band: the band bitmap already stretched to width x height (may be null).
    static void paint(QPainter& p, const QPixmap& band, int width, int height, const QColor& text);
};

}   // namespace kevra
