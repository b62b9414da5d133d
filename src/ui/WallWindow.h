// One wall (or the spot monitor) on a screen of its own: a frameless window covering the whole
// screen, no controls, its tiles drawn by a TileView exactly as the main window's grid draws
// them. A camera dragged from the main window's camera tree may be dropped on a tile. Made,
// shown and destroyed by WallScreens on the user-interface thread; pictures reach its TileView
// from the frame timer as they reach the grid's.
#pragma once
#include <QMap>
#include <QVariant>
#include <QWidget>

#include <functional>

class QMimeData;
class QScreen;

namespace kevra {

struct CameraId;
class TileView;

class WallWindow : public QWidget {
    Q_OBJECT
public:
    // cameraOf turns the item roles a drag from the tree carries into its camera (none: not a
    // camera).
    using CameraOf = std::function<CameraId(const QMap<int, QVariant>& roles)>;

    WallWindow(QScreen* screen, int number, CameraOf cameraOf);

    // The wall's number (0: the spot monitor) and its tiles' surface.
    int number() const { return number_; }
    TileView* tiles() const { return tiles_; }

signals:
    // A camera (recorder, channel) was dropped on a tile of wall `number`.
    void cameraDropped(int number, int tile, int recorder, int channel);

protected:
    void resizeEvent(QResizeEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    // The camera a drag carries, or none.
    CameraId dragged(const QMimeData* mime) const;

    int number_ = 0;
    TileView* tiles_ = nullptr;
    CameraOf cameraOf_;
};

}   // namespace kevra
