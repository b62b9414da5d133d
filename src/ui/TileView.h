// The multi-camera view's tile area: draws every shown tile (its picture fitted inside the tile,
// the camera's name, the tile's state text, a note line such as a stall text, each on a dark
// backdrop and shortened to the tile's width, and the selection frame) and reports clicks and double clicks on tiles. Pictures arrive on the frame-timer
// thread (presentTile) and are kept per tile at the size they are drawn; tiles and layout are
// guarded by mutex_. Everything else runs on the user-interface thread.
#pragma once
#include "app/GridLayout.h"
#include "app/TileSurface.h"

#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <mutex>

namespace kevra {

class DigitalZoom;

class TileView : public QWidget, public TileSurface {
    Q_OBJECT
public:
    // What a tile says besides its picture.
    struct Label {
        QString name;        // the camera's name (empty tile: nothing)
        QString state;       // opening, buffering, playing, ...
        QString note;        // extra line, e.g. how long no picture came; empty for none
        QString recording;   // red, top right, while the camera records ("● REC 0:07")
        QString stats;       // stream figures, one row a line, below the name; empty for none
    };
    using Describe = std::function<Label(int position)>;

    explicit TileView(QWidget* parent);

    void setDescribe(Describe describe) { describe_ = std::move(describe); }
    // Number of shown tiles (1, 4, 9 or 16; a wall's 6 or 8 too, WallLayout) and the framed
    // position (-1: none). Pictures of
    // tiles that moved are forgotten by the controller, not here.
    void setTiles(int count, int selected);
    int tileCount() const;
    int selected() const { return selected_; }
    // Tile position under a point of this widget, or -1.
    int tileAt(const QPoint& p) const;
    QRect tileRect(int position) const;
    // Pictures drawn into the tile since it was last cleared.
    int presentedCount(int position) const;
    // The tile at this position also keeps its latest picture whole, at its own size, for
    // saving (-1: none). keptPicture() is a copy of it, null when none came yet.
    void keepPicture(int position);
    QImage keptPicture() const;
    // The camera name as the last paint drew it: shortened with "…" when the tile is too narrow.
    QString paintedName(int position) const;

    // The digital zoom of the kept (framed) tile, drawn from its whole kept picture; the
    // wheel or a pinch zooms it at the pointer (the fingers' centre) and a drag pans it.
    // Null: none.
    void setZoom(DigitalZoom* zoom) { zoom_ = zoom; }

    // TileSurface.
    void presentTile(int position, const uint8_t* pixels, int width, int height, int bitsPerPixel,
                     bool bottomUp) override;
    void tileStateChanged(int position) override;
    void clearTile(int position) override;
    // A moved camera's last picture is fitted to its new tile and shown until its next one.
    void rearrangeTiles(int count, const std::array<int, 16>& from) override;

signals:
    void tileClicked(int position);
    void tileDoubleClicked(int position);
    // A press became a drag that pans the zoomed tile: it is no click.
    void dragStarted();
    // The tile's menu is asked for at this point of the screen (right button, menu key).
    void menuRequested(const QPoint& globalPos);

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    bool event(QEvent* e) override;

private:
    struct Tile {
        QImage image;   // the picture at the size it is drawn
        QRect target;   // where it is drawn, widget coordinates
        bool shown = false;
        int presented = 0;
    };
    void requestRepaint();
    // Zooms the kept tile by `by` around a point of this widget; false when the point is not
    // on the kept tile.
    bool zoomKeptAt(double by, const QPoint& at);

    mutable std::mutex mutex_;
    std::array<Tile, GridLayout::kMaxTiles> tiles_;
    int count_ = 1;
    int width_ = 0;
    int height_ = 0;
    int kept_ = -1;
    QImage keptImage_;
    // User-interface thread.
    int selected_ = -1;
    Describe describe_;
    std::array<QString, GridLayout::kMaxTiles> paintedNames_;
    DigitalZoom* zoom_ = nullptr;
    QPoint pressAt_;
    QPoint dragFrom_;
    bool dragging_ = false;
    bool pressOnKept_ = false;
    bool pinching_ = false;
    bool pinchOnKept_ = false;   // the pinch under way started on the kept tile
};

}   // namespace kevra
