#include "ui/VideoArea.h"

#include "ui/DisplaySurface.h"
#include "ui/StatsBox.h"

#include "app/DigitalZoom.h"

#include <QContextMenuEvent>
#include <QGestureEvent>
#include <QPinchGesture>
#include <QWheelEvent>
#include <QMouseEvent>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace kevra {

VideoArea::VideoArea(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    hold_.setSingleShot(true);
    hold_.setInterval(kHoldMs);
    grabGesture(Qt::PinchGesture);
    connect(&hold_, &QTimer::timeout, this, [this] {
        held_ = true;
        emit menuRequested(pressAt_);
    });
}

void VideoArea::mousePressEvent(QMouseEvent* e)
{
    held_ = false;
    dragging_ = false;
    if (e->button() == Qt::LeftButton) {
        pressAt_ = e->globalPosition().toPoint();
        dragFrom_ = pressAt_;
        hold_.start();
    }
    QWidget::mousePressEvent(e);
}

void VideoArea::mouseMoveEvent(QMouseEvent* e)
{
    // A press that wanders off is no hold (a finger slides, not holds).
    const QPoint at = e->globalPosition().toPoint();
    if (hold_.isActive() && (at - pressAt_).manhattanLength() > 12)
        hold_.stop();
    // On a zoomed picture a drag pans; past a few pixels it is no click either.
    if ((e->buttons() & Qt::LeftButton) && zoom_ && zoom_->zoomed() && !held_) {
        if (!dragging_ && (at - pressAt_).manhattanLength() > 12)
            dragging_ = true;
        if (dragging_ && !pictureRect_.isEmpty()) {
            const QPoint d = at - dragFrom_;
            zoom_->pan(double(d.x()) / pictureRect_.width(), double(d.y()) / pictureRect_.height(),
                       isTurned());
            update();
        }
        if (dragging_)
            dragFrom_ = at;
    }
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
    const QRect picture = surface_ ? surface_->paint(p, this, zoom_, isTurned()) : QRect();
    pictureRect_ = picture;
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
    if (zoom_ && zoom_->zoomed() && !picture.isEmpty()) {
        const QString factor = QString::fromStdU16String(zoom_->label());
        const QFontMetrics fm(font());
        const int pad = fm.height() / 3 + 2;
        // Bottom right: the recording mark has the top right, the stream figures the bottom left.
        const int w = fm.horizontalAdvance(factor) + 2 * pad;
        const QRect box(area.right() - w - pad, area.bottom() - fm.height() - 3 * pad, w,
                        fm.height() + 2 * pad);
        p.fillRect(box, QColor(0, 0, 0, 170));
        p.setPen(QColor(255, 255, 255));
        p.drawText(box, Qt::AlignCenter, factor);
    }
    paintStats(p, area);
}

void VideoArea::zoomAt(double by, const QPointF& at)
{
    if (!zoom_)
        return;
    const QRect r = pictureRect_.isEmpty() ? rect() : pictureRect_;
    zoom_->zoomBy(by, (at.x() - r.left()) / std::max(1, r.width()),
                  (at.y() - r.top()) / std::max(1, r.height()), isTurned());
    update();
}

void VideoArea::wheelEvent(QWheelEvent* e)
{
    const int steps = e->angleDelta().y() / 120;
    if (steps != 0 && zoom_)
        zoomAt(std::pow(DigitalZoom::kStep, steps), e->position());
    e->accept();
}

bool VideoArea::event(QEvent* e)
{
    if (e->type() == QEvent::Gesture && zoom_) {
        auto* g = static_cast<QGestureEvent*>(e);
        if (auto* pinch = static_cast<QPinchGesture*>(g->gesture(Qt::PinchGesture))) {
            if (pinch->changeFlags() & QPinchGesture::ScaleFactorChanged)
                zoomAt(pinch->scaleFactor(), mapFromGlobal(pinch->centerPoint().toPoint()));
            hold_.stop();
            dragging_ = true;   // the fingers' release is no click
            return true;
        }
    }
    return QWidget::event(e);
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
    if (e->button() == Qt::LeftButton && !held_ && !wasDouble && !dragging_ &&
        rect().contains(e->position().toPoint()))
        emit clicked();
    held_ = false;
    dragging_ = false;
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
