// The video area of the one-camera view: black, shows the display surface's latest picture and
// reports clicks, double clicks, and a press held still for kHoldMs or a context-menu request
// (right button, menu key) as a request for its menu; draws a notice (a picture that stopped, a
// connection being recovered) over the picture, asked for at every paint. User-interface thread
// only.
#pragma once
#include <QPoint>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace kevra {

class DigitalZoom;
class DisplaySurface;

class VideoArea : public QWidget {
    Q_OBJECT
public:
    explicit VideoArea(QWidget* parent);
    void setSurface(DisplaySurface* surface) { surface_ = surface; }
    // Gives the notice drawn over the picture at each paint (empty: none). Lines end with '\n'.
    void setNoticeSource(std::function<QString()> source) { notice_ = std::move(source); }
    // Gives the red recording mark drawn in the picture's top right corner (empty: none).
    void setMarkSource(std::function<QString()> source) { mark_ = std::move(source); }
    // Gives the stream figures drawn in the picture's bottom left corner (empty: none).
    void setStatsSource(std::function<QString()> source) { stats_ = std::move(source); }
    // The digital zoom of the picture (null: none) and whether the picture is shown turned.
    // The wheel and a pinch zoom at the pointer, a drag pans a zoomed picture (and is no
    // click), and the factor shows in the picture's bottom right corner.
    void setZoom(DigitalZoom* zoom, std::function<bool()> turned)
    {
        zoom_ = zoom;
        turned_ = std::move(turned);
    }
    // The notice drawn by the last paint (tests).
    const QString& paintedNotice() const { return painted_; }

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
    void wheelEvent(QWheelEvent* e) override;
    bool event(QEvent* e) override;

private:
    bool isTurned() const { return turned_ && turned_(); }
    void zoomAt(double by, const QPointF& at);
    void paintNotice(QPainter& p, const QString& text, const QRect& area);
    void paintStats(QPainter& p, const QRect& area);

    DisplaySurface* surface_ = nullptr;
    QTimer hold_;
    QPoint pressAt_;    // global position of the press being held
    QPoint dragFrom_;   // last global position of a drag that pans the zoomed picture
    bool dragging_ = false;
    DigitalZoom* zoom_ = nullptr;
    std::function<bool()> turned_;
    QRect pictureRect_;   // where the last paint put the picture
    bool held_ = false;   // the held press opened the menu: its release is no click
    bool afterDoubleClick_ = false;
    std::function<QString()> notice_;
    std::function<QString()> mark_;
    std::function<QString()> stats_;
    QString painted_;
};

}   // namespace kevra
