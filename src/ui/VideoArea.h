// The video area control (id 1011): black, shows the display surface's latest picture and
// reports clicks; draws a notice (a picture that stopped, a connection being recovered) over
// the picture, asked for at every paint. User-interface thread only.
#pragma once
#include <QWidget>

#include <functional>

namespace kevra {

class DisplaySurface;

class VideoArea : public QWidget {
    Q_OBJECT
public:
    explicit VideoArea(QWidget* parent);
    void setSurface(DisplaySurface* surface) { surface_ = surface; }
    // Gives the notice drawn over the picture at each paint (empty: none). Lines end with '\n'.
    void setNoticeSource(std::function<QString()> source) { notice_ = std::move(source); }
    // The notice drawn by the last paint (tests).
    const QString& paintedNotice() const { return painted_; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void paintNotice(QPainter& p, const QString& text, const QRect& area);

    DisplaySurface* surface_ = nullptr;
    std::function<QString()> notice_;
    QString painted_;
};

} // namespace kevra
