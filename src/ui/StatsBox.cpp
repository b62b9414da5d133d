#include "ui/StatsBox.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>

#include <algorithm>

namespace kevra {

namespace {

QFont boxFont(const QPainter& p)
{
    QFont f = p.font();
    f.setPixelSize(StatsBox::kTextPixels);
    return f;
}

QSize boxSize(const QFontMetrics& fm, const QString& text, int pad)
{
    const QRect r = fm.boundingRect(QRect(0, 0, 10000, 10000), Qt::AlignLeft, text);
    return QSize(r.width() + 2 * pad, r.height() + 2 * pad);
}

QRect draw(QPainter& p, const QString& text, QRect box, const QRect& bounds, int pad)
{
    // Inside the bounds where it fits; a box larger than the bounds keeps its top left there.
    box.moveLeft(std::max(bounds.left(), std::min(box.left(), bounds.right() + 1 - box.width())));
    box.moveTop(std::max(bounds.top(), std::min(box.top(), bounds.bottom() + 1 - box.height())));
    p.fillRect(box, QColor(0, 0, 0, 190));
    p.setPen(QColor(140, 230, 255));
    p.drawText(box.adjusted(pad, pad, -pad, -pad), Qt::AlignLeft | Qt::AlignTop, text);
    return box;
}

}   // namespace

QRect StatsBox::paint(QPainter& p, const QString& text, const QPoint& anchor, const QRect& bounds)
{
    if (text.isEmpty())
        return QRect();
    p.save();
    p.setFont(boxFont(p));
    const QFontMetrics fm(p.font());
    const int pad = 3;
    const QRect box = draw(p, text, QRect(anchor, boxSize(fm, text, pad)), bounds, pad);
    p.restore();
    return box;
}

QRect StatsBox::paintAbove(QPainter& p, const QString& text, const QPoint& bottomLeft,
                           const QRect& bounds)
{
    if (text.isEmpty())
        return QRect();
    p.save();
    p.setFont(boxFont(p));
    const QFontMetrics fm(p.font());
    const int pad = 3;
    const QSize size = boxSize(fm, text, pad);
    const QRect box =
        draw(p, text, QRect(QPoint(bottomLeft.x(), bottomLeft.y() - size.height() + 1), size),
             bounds, pad);
    p.restore();
    return box;
}

}   // namespace kevra
