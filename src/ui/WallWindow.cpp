#include "ui/WallWindow.h"

#include "app/CameraId.h"
#include "ui/TileView.h"

#include <QDataStream>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QScreen>

namespace kevra {

namespace {
// What a QTreeWidget's drag carries: row, column and the item's roles, per item dragged.
const QString kItemList = QStringLiteral("application/x-qabstractitemmodeldatalist");
}   // namespace

WallWindow::WallWindow(QScreen* screen, int number, CameraOf cameraOf)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), number_(number),
      cameraOf_(std::move(cameraOf))
{
    setObjectName(number > 0 ? QStringLiteral("wall%1").arg(number) : QStringLiteral("spot"));
    setScreen(screen);
    setGeometry(screen->geometry());
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setCursor(Qt::BlankCursor);
    tiles_ = new TileView(this);
    tiles_->setGeometry(rect());
    setAcceptDrops(number > 0);
}

void WallWindow::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    tiles_->setGeometry(rect());
}

CameraId WallWindow::dragged(const QMimeData* mime) const
{
    if (!mime || !mime->hasFormat(kItemList) || !cameraOf_)
        return {};
    QByteArray bytes = mime->data(kItemList);
    QDataStream in(&bytes, QIODevice::ReadOnly);
    int row = 0, column = 0;
    QMap<int, QVariant> roles;
    in >> row >> column >> roles;   // the first item only
    if (in.status() != QDataStream::Ok)
        return {};
    return cameraOf_(roles);
}

void WallWindow::dragEnterEvent(QDragEnterEvent* e)
{
    if (dragged(e->mimeData()).valid())
        e->acceptProposedAction();
}

void WallWindow::dragMoveEvent(QDragMoveEvent* e)
{
    if (tiles_->tileAt(tiles_->mapFrom(this, e->position().toPoint())) >= 0)
        e->acceptProposedAction();
    else
        e->ignore();
}

void WallWindow::dropEvent(QDropEvent* e)
{
    const CameraId c = dragged(e->mimeData());
    const int tile = tiles_->tileAt(tiles_->mapFrom(this, e->position().toPoint()));
    if (!c.valid() || tile < 0)
        return;
    e->acceptProposedAction();
    emit cameraDropped(number_, tile, c.recorder, c.channel);
}

}   // namespace kevra
