#include "ui/BitmapButton.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>

namespace kevra {

BitmapButton::BitmapButton(int commandId, QWidget* parent)
    : QPushButton(parent), commandId_(commandId)
{
    setFocusPolicy(Qt::NoFocus);
    releaseTimer_.setInterval(kReleaseCheckMs);
    connect(&releaseTimer_, &QTimer::timeout, this, &BitmapButton::checkPointer);
}

QPixmap BitmapButton::loadScaled(int id, const QSize& size)
{
    QPixmap source(QStringLiteral(":/bitmaps/%1").arg(id));
    if (source.isNull() || size.isEmpty())
        return QPixmap();
    return source.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

void BitmapButton::loadImages(int normalId, int pressedId)
{
    normal_ = QPixmap();
    pressedImage_ = QPixmap();
    normal_ = loadScaled(normalId, size());
    if (pressedId != 0)
        pressedImage_ = loadScaled(pressedId, size());
    update();
}

void BitmapButton::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        pressed_ = true;
        lastGlobal_ = e->globalPosition().toPoint();
        haveLastGlobal_ = true;
        releaseTimer_.start();
    }
    QPushButton::mousePressEvent(e);
}

void BitmapButton::mouseMoveEvent(QMouseEvent* e)
{
    lastGlobal_ = e->globalPosition().toPoint();
    haveLastGlobal_ = true;
    QPushButton::mouseMoveEvent(e);
}

void BitmapButton::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        pressed_ = false;
        releaseTimer_.stop();
        update();
    }
    QPushButton::mouseReleaseEvent(e);   // clicks only when released over the button
}

void BitmapButton::checkPointer()
{
    const QPoint pos = haveLastGlobal_ ? lastGlobal_ : QCursor::pos();
    const QRect r(mapToGlobal(QPoint(0, 0)), size());
    // Inside includes the right and bottom edges.
    const bool inside = pos.x() >= r.left() && pos.x() <= r.left() + r.width() &&
                        pos.y() >= r.top() && pos.y() <= r.top() + r.height();
    if (!inside) {
        releaseTimer_.stop();
        pressed_ = false;
        update();
    }
}

void BitmapButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int W = width(), H = height();
    QRect caption(0, 0, W, H);
    const QPixmap& face = pressed_ ? pressedImage_ : normal_;
    if (pressed_)
        caption =
            QRect(QPoint(2, 2), QPoint(W - 1, H - 1));   // (2, 2, W, H): moved at top-left only
    if (!face.isNull())
        p.drawPixmap(0, 0, face);
    else
        p.fillRect(rect(), Qt::black);
    p.setPen(captionColour_);
    p.drawText(caption, Qt::AlignCenter, text());
}

}   // namespace kevra
