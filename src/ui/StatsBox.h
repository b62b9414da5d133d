// Paints the stream figures (one "label value" row per line) in a dark box over a picture:
// small, fixed-size text so six rows fit a 240 x 320 screen. User-interface thread.
#pragma once
#include <QPainter>
#include <QRect>
#include <QString>

namespace kevra {

class StatsBox {
public:
    // Pixel height of the text; a box of six rows is about 6 x 13 + 8 pixels high.
    static constexpr int kTextPixels = 11;

    // Draws text (rows separated by '\n') with its box's top left at anchor, moved up and left
    // as far as needed to stay inside bounds. Returns the box drawn (empty when no text).
    static QRect paint(QPainter& p, const QString& text, const QPoint& anchor, const QRect& bounds);
    // Places the box with its bottom left at the corner instead.
    static QRect paintAbove(QPainter& p, const QString& text, const QPoint& bottomLeft,
                            const QRect& bounds);
};

}   // namespace kevra
