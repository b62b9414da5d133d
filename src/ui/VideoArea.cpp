#include "ui/VideoArea.h"

#include "ui/DisplaySurface.h"
#include "ui/StatsBox.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace kevra {

VideoArea::VideoArea(QWidget* parent) : QWidget(parent)
{
    setProperty("controlId", 1011);
    setAttribute(Qt::WA_OpaquePaintEvent);
    hold_.setSingleShot(true);
    hold_.setInterval(kHoldMs);
    connect(&hold_, &QTimer::timeout, this, [this] {
        held_ = true;
        emit menuRequested(pressAt_);
    });
}

void VideoArea::mousePressEvent(QMouseEvent* e)
{
    held_ = false;
    if (e->button() == Qt::LeftButton) {
        pressAt_ = e->globalPosition().toPoint();
        hold_.start();
    }
    QWidget::mousePressEvent(e);
}

void VideoArea::mouseMoveEvent(QMouseEvent* e)
{
    // A press that wanders off is no hold (a finger slides, not holds).
    if (hold_.isActive() && (e->globalPosition().toPoint() - pressAt_).manhattanLength() > 12)
        hold_.stop();
    QWidget::mouseMoveEvent(e);
}

void VideoArea::contextMenuEvent(QContextMenuEvent* e)
{
    emit menuRequested(e->globalPos());
}

void VideoArea::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    const QRect picture = surface_ ? surface_->paint(p, this) : QRect();
    painted_ = notice_ ? notice_() : QString();
    const QRect area = picture.intersected(rect()).isEmpty() ? rect() : picture.intersected(rect());
    if (!painted_.isEmpty())
        paintNotice(p, painted_, area);
    const QString mark = mark_ ? mark_() : QString();
    if (!mark.isEmpty()) {
        const QFontMetrics fm(font());
        const int pad = fm.height() / 3 + 2;
        const QRect box(area.right() - fm.horizontalAdvance(mark) - 3 * pad, area.top() + pad,
                        fm.horizontalAdvance(mark) + 2 * pad, fm.height() + 2 * pad);
        p.fillRect(box, QColor(0, 0, 0, 170));
        p.setPen(QColor(255, 40, 40));
        p.drawText(box, Qt::AlignCenter, mark);
    }
    paintStats(p, area);
}

void VideoArea::paintStats(QPainter& p, const QRect& area)
{
    const QString stats = stats_ ? stats_() : QString();
    StatsBox::paintAbove(p, stats, QPoint(area.left() + 4, area.bottom() - 4), rect());
}

void VideoArea::paintNotice(QPainter& p, const QString& text, const QRect& area)
{
    // Light text on a dark box in the top left corner of the picture, readable over any picture.
    const QFontMetrics fm(font());
    const int pad = fm.height() / 3 + 2;
    const QRect bounds = fm.boundingRect(QRect(0, 0, std::max(area.width() - 4 * pad, 1), height()),
                                         Qt::AlignLeft | Qt::TextWordWrap, text);
    const QRect box(area.left() + pad, area.top() + pad, bounds.width() + 2 * pad,
                    bounds.height() + 2 * pad);
    p.fillRect(box, QColor(0, 0, 0, 170));
    p.setPen(QColor(255, 220, 90));
    p.drawText(box.adjusted(pad, pad, -pad, -pad), Qt::AlignLeft | Qt::TextWordWrap, text);
}

void VideoArea::mouseReleaseEvent(QMouseEvent* e)
{
    hold_.stop();
    const bool wasDouble = afterDoubleClick_;
    afterDoubleClick_ = false;
    if (e->button() == Qt::LeftButton && !held_ && !wasDouble &&
        rect().contains(e->position().toPoint()))
        emit clicked();
    held_ = false;
    QWidget::mouseReleaseEvent(e);
}

void VideoArea::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        afterDoubleClick_ = true;
        emit doubleClicked();
    }
    QWidget::mouseDoubleClickEvent(e);
}

}   // namespace kevra
