// Drawing target of the live picture bound to the video area: keeps the latest picture in
// the screen's pixel format and paints it stretched to the destination rectangle.
// create()/present()/clear() run on the frame-timer or user-interface thread; the picture is
// guarded by the surface's own mutex; paint() runs on the user-interface thread.
#pragma once
#include "app/PictureSurface.h"

#include <QImage>
#include <QRect>

#include <mutex>

class QPainter;
class QWidget;

namespace kevra {

class DigitalZoom;

class DisplaySurface : public PictureSurface {
public:
    // forcedDepth 16, 24 or 32 replaces the screen's depth (tests); 0 asks the screen.
    DisplaySurface(QWidget* target, int forcedDepth = 0);

    int create(int width, int height) override;
    int present(const uint8_t* pixels, const Rect& destination, bool bottomUp) override;
    // Forgets the shown picture (the area turns black) and repaints.
    void clear();
    // A copy of the latest picture as presented (upright, rows top first, in the display's
    // format; turned a quarter clockwise when it was presented turned); null when none is shown.
    QImage picture() const;
    // Paints the latest picture into the target widget; returns where it went in the widget
    // (empty when there is no picture). A zoom (null: none) shows its part of the whole kept
    // picture, which is kept turned a quarter clockwise when turned is set.
    QRect paint(QPainter& painter, QWidget* widget, const DigitalZoom* zoom = nullptr,
                bool turned = false);

    int width() const;
    int height() const;
    int frameBytes() const;
    int presentedCount() const;
    // Bits per pixel for a screen depth: 16 on 16-bit screens, 32 otherwise; forced depths
    // 16, 24 and 32 are taken as they are.
    static int depthFor(int screenDepth, int forcedDepth);

private:
    void requestRepaint();

    QWidget* target_;
    const int forcedDepth_;
    int screenDepth_ = 32;
    mutable std::mutex mutex_;
    QImage image_;   // picture surface in the display's format
    int bitsPerPixel_ = 0;
    int frameBytes_ = 0;
    QRect destination_;   // screen coordinates
    bool hasPicture_ = false;
    int presented_ = 0;
};

}   // namespace kevra
