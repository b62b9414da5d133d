#include "ui/VideoArea.h"

#include "ui/DisplaySurface.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>

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
    if (surface_)
        surface_->paint(p, this);
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

} // namespace kevra
