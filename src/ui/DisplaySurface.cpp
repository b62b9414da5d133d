#include "ui/DisplaySurface.h"

#include "app/DigitalZoom.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <cstring>

namespace kevra {

DisplaySurface::DisplaySurface(QWidget* target, int forcedDepth)
    : target_(target), forcedDepth_(forcedDepth)
{
    // Read on the user-interface thread; the screen's depth does not change during the run.
    QScreen* s = QGuiApplication::primaryScreen();
    screenDepth_ = s ? s->depth() : 32;
}

int DisplaySurface::depthFor(int screenDepth, int forcedDepth)
{
    if (forcedDepth == 16 || forcedDepth == 24 || forcedDepth == 32)
        return forcedDepth;
    return screenDepth == 16 ? 16 : 32;
}

int DisplaySurface::create(int width, int height)
{
    std::lock_guard<std::mutex> lock(mutex_);
    image_ = QImage();
    hasPicture_ = false;
    frameBytes_ = 0;
    if (!target_ || width <= 0 || height <= 0)
        return 0;
    const int bpp = depthFor(screenDepth_, forcedDepth_);
    const int64_t bytes = int64_t(width) * height * (bpp / 8);
    if (bytes > (int64_t(1) << 31) - 1)
        return 0;
    QImage::Format f = bpp == 16   ? QImage::Format_RGB16
                       : bpp == 24 ? QImage::Format_BGR888
                                   : QImage::Format_RGB32;
    image_ = QImage(width, height, f);
    if (image_.isNull())
        return 0;
    image_.fill(Qt::black);
    bitsPerPixel_ = bpp;
    frameBytes_ = int(bytes);
    return bpp;
}

int DisplaySurface::present(const uint8_t* pixels, const Rect& destination, bool bottomUp)
{
    if (!pixels)
        return -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (image_.isNull())
            return -1;
        const int h = image_.height();
        const size_t row = size_t(image_.width()) * (bitsPerPixel_ / 8);
        for (int y = 0; y < h; ++y) {
            const int src = bottomUp ? h - 1 - y : y;
            std::memcpy(image_.scanLine(y), pixels + size_t(src) * row, row);
        }
        destination_ = QRect(QPoint(destination.left, destination.top),
                             QSize(destination.width(), destination.height()));
        hasPicture_ = true;
        ++presented_;
    }
    requestRepaint();
    return 0;
}

QImage DisplaySurface::picture() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!hasPicture_ || image_.isNull())
        return QImage();
    return image_.copy();   // a deep copy: the next present writes into image_ again
}

void DisplaySurface::clear()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hasPicture_ = false;
    }
    requestRepaint();
}

void DisplaySurface::requestRepaint()
{
    // Queued: never waits on the user-interface thread.
    if (target_)
        QMetaObject::invokeMethod(target_, "update", Qt::QueuedConnection);
}

QRect DisplaySurface::paint(QPainter& painter, QWidget* widget, const DigitalZoom* zoom,
                            bool turned)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!hasPicture_ || image_.isNull() || destination_.isEmpty())
        return QRect();
    QRect target(widget->mapFromGlobal(destination_.topLeft()), destination_.size());
    if (zoom && zoom->zoomed()) {
        // The part is cut from the whole decoded picture, never from a reduced copy.
        const int w = turned ? image_.height() : image_.width();
        const int h = turned ? image_.width() : image_.height();
        Rect r = zoom->source(w, h);
        if (turned)
            r = DigitalZoom::turned(r, w, h);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(target, image_, QRect(r.left, r.top, r.width(), r.height()));
    } else {
        painter.drawImage(target, image_);
    }
    return target;
}

int DisplaySurface::width() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return image_.width();
}

int DisplaySurface::height() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return image_.height();
}

int DisplaySurface::frameBytes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return frameBytes_;
}

int DisplaySurface::presentedCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return presented_;
}

}   // namespace kevra
