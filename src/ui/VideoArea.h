// The video area control (id 1011): black, shows the display surface's latest picture and
// reports clicks, and a press held still for kHoldMs or a context-menu request (right button,
// menu key) as a request for its menu. User-interface thread only.
#pragma once
#include <QPoint>
#include <QTimer>
#include <QWidget>

namespace kevra {

class DisplaySurface;

class VideoArea : public QWidget {
    Q_OBJECT
public:
    explicit VideoArea(QWidget* parent);
    void setSurface(DisplaySurface* surface) { surface_ = surface; }

    static constexpr int kHoldMs = 700;

signals:
    void clicked();
    // The menu is asked for at this point of the screen (a press held, or a context request).
    void menuRequested(const QPoint& globalPos);
    // A double click; the release that ends it is no click.
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    DisplaySurface* surface_ = nullptr;
    QTimer hold_;
    QPoint pressAt_;       // global position of the press being held
    bool held_ = false;    // the held press opened the menu: its release is no click
    bool afterDoubleClick_ = false;
};

} // namespace kevra
