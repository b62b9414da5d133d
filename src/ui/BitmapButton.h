// Push button drawn from two bitmaps (normal and pressed face, scaled to its size) with a
// centred caption; shows the pressed face from press to release and lets go of it about a
// second after the pointer slides off. User-interface thread only.
#pragma once
#include <QColor>
#include <QPixmap>
#include <QPoint>
#include <QPushButton>
#include <QTimer>

namespace kevra {

class BitmapButton : public QPushButton {
    Q_OBJECT
public:
    BitmapButton(int commandId, QWidget* parent);

    int commandId() const { return commandId_; }
    void setCaptionColour(const QColor& colour) { captionColour_ = colour; }
    // Loads bitmap resources (":/bitmaps/<id>") scaled to the button's current size; a
    // pressed id of 0 leaves the pressed face empty. Call after every resize.
    void loadImages(int normalId, int pressedId);

    bool isPressedFace() const { return pressed_; }
    bool hasNormalImage() const { return !normal_.isNull(); }
    bool hasPressedImage() const { return !pressedImage_.isNull(); }
    // Period of the slide-off check (1000 ms).
    static constexpr int kReleaseCheckMs = 1000;

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void checkPointer();
    static QPixmap loadScaled(int id, const QSize& size);

    int commandId_;
    QPixmap normal_;
    QPixmap pressedImage_;
    bool pressed_ = false;
    QColor captionColour_{0, 0, 0};
    QTimer releaseTimer_;
    QPoint lastGlobal_;
    bool haveLastGlobal_ = false;
};

}   // namespace kevra
