// The video area control (id 1011): black, shows the display surface's latest picture and
// reports clicks. User-interface thread only.
#pragma once
#include <QWidget>

namespace kevra {

class DisplaySurface;

class VideoArea : public QWidget {
    Q_OBJECT
public:
    explicit VideoArea(QWidget* parent);
    void setSurface(DisplaySurface* surface) { surface_ = surface; }

signals:
    void clicked();
    // A double click; the release that ends it is no click.
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    DisplaySurface* surface_ = nullptr;
    bool afterDoubleClick_ = false;
};

} // namespace kevra
