#include "ui/VideoArea.h"

#include "ui/DisplaySurface.h"

#include <QMouseEvent>
#include <QPainter>

namespace kevra {

VideoArea::VideoArea(QWidget* parent) : QWidget(parent)
{
    setProperty("controlId", 1011);
    setAttribute(Qt::WA_OpaquePaintEvent);
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
    const bool wasDouble = afterDoubleClick_;
    afterDoubleClick_ = false;
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && !wasDouble)
        emit clicked();
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
