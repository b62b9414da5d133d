#include "ui/StatsBox.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>

#include <algorithm>

namespace kevra {

namespace {

// Draws text in its box with the box's top left (or, above, its bottom left) at corner, moved as
// far as needed to stay inside bounds; a box larger than the bounds keeps its top left there.
QRect drawBox(QPainter& p, const QString& text, const QPoint& corner, bool above,
              const QRect& bounds)
{
    if (text.isEmpty())
        return QRect();
    p.save();
    QFont f = p.font();
    f.setPixelSize(StatsBox::kTextPixels);
    p.setFont(f);
    const int pad = 3;
    const QRect textRect =
        QFontMetrics(f).boundingRect(QRect(0, 0, 10000, 10000), Qt::AlignLeft, text);
    const QSize size(textRect.width() + 2 * pad, textRect.height() + 2 * pad);
    QRect box(above ? QPoint(corner.x(), corner.y() - size.height() + 1) : corner, size);
    box.moveLeft(std::max(bounds.left(), std::min(box.left(), bounds.right() + 1 - box.width())));
    box.moveTop(std::max(bounds.top(), std::min(box.top(), bounds.bottom() + 1 - box.height())));
    p.fillRect(box, QColor(0, 0, 0, 190));
    p.setPen(QColor(140, 230, 255));
    p.drawText(box.adjusted(pad, pad, -pad, -pad), Qt::AlignLeft | Qt::AlignTop, text);
    p.restore();
    return box;
}

}   // namespace

QRect StatsBox::paint(QPainter& p, const QString& text, const QPoint& anchor, const QRect& bounds)
{
    return drawBox(p, text, anchor, false, bounds);
}

QRect StatsBox::paintAbove(QPainter& p, const QString& text, const QPoint& bottomLeft,
                           const QRect& bounds)
{
    return drawBox(p, text, bottomLeft, true, bounds);
}

}   // namespace kevra
