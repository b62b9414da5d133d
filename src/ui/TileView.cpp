#include "ui/TileView.h"

#include "app/WallLayout.h"

#include "app/DigitalZoom.h"

#include "app/PictureLayout.h"
#include "ui/StatsBox.h"
#include "video/PictureScaler.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QContextMenuEvent>
#include <QPainter>
#include <QGestureEvent>
#include <QPinchGesture>
#include <QWheelEvent>

#include <cmath>

#include <cstring>

namespace kevra {

namespace {
const QColor kFrameColour(250, 200, 40);
const QColor kTextColour(235, 235, 235);
const QColor kEmptyTile(16, 16, 16);
// Behind each text line: readable over a bright picture, the picture still seen through it.
const QColor kTextBackdrop(0, 0, 0, 160);
const QColor kRecordingColour(255, 40, 40);

Rect whole(int w, int h)
{
    return Rect{0, 0, w, h};
}
QRect toQ(const Rect& r)
{
    return QRect(r.left, r.top, r.width(), r.height());
}
}   // namespace

TileView::TileView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    grabGesture(Qt::PinchGesture);
}

void TileView::setTiles(int count, int selected)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int now = WallLayout::isLayout(count) ? count : 1;
        // Tiles of another layout are laid out again with their next picture; the same layout
        // (a tile framed, full screen, a lost session) keeps the pictures shown.
        if (now != count_)
            for (Tile& t : tiles_)
                t.target = QRect();
        count_ = now;
    }
    selected_ = selected;
    update();
}

int TileView::tileCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

QRect TileView::tileRect(int position) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return toQ(WallLayout::tile(whole(width_, height_), count_, position));
}

int TileView::tileAt(const QPoint& p) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return WallLayout::hit(whole(width_, height_), count_, p.x(), p.y());
}

int TileView::presentedCount(int position) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return position >= 0 && position < GridLayout::kMaxTiles ? tiles_[size_t(position)].presented
                                                             : 0;
}

void TileView::resizeEvent(QResizeEvent* e)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        width_ = width();
        height_ = height();
        for (Tile& t : tiles_)
            t.target = QRect();
    }
    QWidget::resizeEvent(e);
}

void TileView::presentTile(int position, const uint8_t* pixels, int width, int height,
                           int bitsPerPixel, bool bottomUp)
{
    if (!pixels || position < 0 || position >= GridLayout::kMaxTiles)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const Rect content = WallLayout::content(whole(width_, height_), count_, position);
        if (position >= count_ || content.width() <= 0 || content.height() <= 0)
            return;
        PictureLayout::Placement fit;
        PictureLayout::fit(width, height, content.width(), content.height(), fit);
        if (fit.drawWidth <= 0 || fit.drawHeight <= 0)
            return;
        const QImage::Format format = bitsPerPixel == 16   ? QImage::Format_RGB16
                                      : bitsPerPixel == 24 ? QImage::Format_BGR888
                                                           : QImage::Format_RGB32;
        Tile& t = tiles_[size_t(position)];
        if (t.image.width() != fit.drawWidth || t.image.height() != fit.drawHeight ||
            t.image.format() != format) {
            t.image = QImage(fit.drawWidth, fit.drawHeight, format);
            if (t.image.isNull())
                return;
        }
        // The only pass over the full picture: scaled straight into the tile's own picture.
        PictureScaler::scale(pixels, width, height, bitsPerPixel / 8, bottomUp, t.image.bits(),
                             t.image.width(), t.image.height(), int(t.image.bytesPerLine()));
        t.target =
            QRect(content.left + fit.drawX, content.top + fit.drawY, fit.drawWidth, fit.drawHeight);
        t.shown = true;
        ++t.presented;
        if (position == kept_) {
            if (keptImage_.width() != width || keptImage_.height() != height ||
                keptImage_.format() != format)
                keptImage_ = QImage(width, height, format);
            const int rowBytes = width * (bitsPerPixel / 8);
            for (int y = 0; y < height && !keptImage_.isNull(); ++y) {
                const int from = bottomUp ? height - 1 - y : y;
                std::memcpy(keptImage_.scanLine(y), pixels + size_t(from) * size_t(rowBytes),
                            size_t(rowBytes));
            }
        }
    }
    requestRepaint();
}

void TileView::tileStateChanged(int)
{
    requestRepaint();
}

void TileView::keepPicture(int position)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (position != kept_)
        keptImage_ = QImage();
    kept_ = position;
}

QImage TileView::keptPicture() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return keptImage_.copy();
}

void TileView::rearrangeTiles(int count, const std::array<int, 16>& from)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::array<Tile, GridLayout::kMaxTiles> before = tiles_;
        count_ = WallLayout::isLayout(count) ? count : 1;
        for (int p = 0; p < GridLayout::kMaxTiles; ++p) {
            Tile& t = tiles_[size_t(p)];
            const int q = p < count_ ? from[size_t(p)] : -1;
            if (q < 0 || q >= GridLayout::kMaxTiles || !before[size_t(q)].shown ||
                before[size_t(q)].image.isNull()) {
                t = Tile{};
                if (p == kept_)
                    keptImage_ = QImage();
                continue;
            }
            const Tile& old = before[size_t(q)];
            const Rect content = WallLayout::content(whole(width_, height_), count_, p);
            PictureLayout::Placement fit;
            PictureLayout::fit(old.image.width(), old.image.height(), content.width(),
                               content.height(), fit);
            if (fit.drawWidth <= 0 || fit.drawHeight <= 0) {
                t = Tile{};
                continue;
            }
            // Until the camera's next picture: the last one, fitted to the tile it moved to.
            t.image = old.image.size() == QSize(fit.drawWidth, fit.drawHeight)
                          ? old.image
                          : old.image.scaled(fit.drawWidth, fit.drawHeight, Qt::IgnoreAspectRatio,
                                             Qt::SmoothTransformation);
            t.target = QRect(content.left + fit.drawX, content.top + fit.drawY, fit.drawWidth,
                             fit.drawHeight);
            t.shown = true;
            t.presented = q == p ? old.presented : 0;
            if (p == kept_ && q != p)
                keptImage_ = QImage();
        }
    }
    requestRepaint();
}

void TileView::clearTile(int position)
{
    if (position < 0 || position >= GridLayout::kMaxTiles)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (position == kept_)
            keptImage_ = QImage();
        tiles_[size_t(position)].shown = false;
        tiles_[size_t(position)].presented = 0;
    }
    requestRepaint();
}

QString TileView::paintedName(int position) const
{
    return position >= 0 && position < GridLayout::kMaxTiles ? paintedNames_[size_t(position)]
                                                             : QString();
}

void TileView::requestRepaint()
{
    // Queued: never waits on the user-interface thread.
    QMetaObject::invokeMethod(this, "update", Qt::QueuedConnection);
}

void TileView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    const int count = tileCount();
    QFont small = font();
    small.setPixelSize(count >= 16 ? 10 : 12);
    p.setFont(small);
    const int lineHeight = QFontMetrics(small).height();
    paintedNames_.fill(QString());
    QString stats;
    QPoint statsAt;
    for (int i = 0; i < count; ++i) {
        const QRect tile = tileRect(i);
        if (tile.isEmpty())
            continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const Tile& t = tiles_[size_t(i)];
            if (t.shown && !t.target.isEmpty() && i == kept_ && zoom_ && zoom_->zoomed() &&
                !keptImage_.isNull()) {
                // The enlarged part comes from the whole picture, not the tile's reduced one.
                const Rect r = zoom_->source(keptImage_.width(), keptImage_.height());
                p.setRenderHint(QPainter::SmoothPixmapTransform, true);
                p.drawImage(t.target, keptImage_, QRect(r.left, r.top, r.width(), r.height()));
                const QString factor = QString::fromStdU16String(zoom_->label());
                const QFontMetrics fm(p.font());
                const QRect box(t.target.right() - fm.horizontalAdvance(factor) - 6,
                                t.target.bottom() - fm.height() - 2,
                                fm.horizontalAdvance(factor) + 4, fm.height());
                p.fillRect(box, kTextBackdrop);
                p.setPen(kTextColour);
                p.drawText(box, Qt::AlignCenter, factor);
            } else if (t.shown && !t.target.isEmpty()) {
                p.drawImage(t.target.topLeft(), t.image);
            } else {
                p.fillRect(tile, kEmptyTile);
            }
        }
        const Label label = describe_ ? describe_(i) : Label{};
        const QRect text = tile.adjusted(GridLayout::kFrame + 3, GridLayout::kFrame + 1,
                                         -GridLayout::kFrame - 3, -GridLayout::kFrame - 1);
        const QFontMetrics metrics(small);
        auto line = [&](const QString& s, int row, bool fromBottom) {
            if (s.isEmpty() || text.width() <= 0)
                return QString();
            const QString shown = metrics.elidedText(s, Qt::ElideRight, text.width());
            const int y =
                fromBottom ? text.bottom() - (row + 1) * lineHeight : text.top() + row * lineHeight;
            const QRect r(text.left(), y, text.width(), lineHeight);
            // The backdrop reaches a little past the text on both sides, never past the tile.
            const QRect backdrop =
                QRect(r.left() - 2, r.top(), metrics.horizontalAdvance(shown) + 4, lineHeight)
                    .intersected(tile);
            p.fillRect(backdrop, kTextBackdrop);
            p.setPen(kTextColour);
            p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, shown);
            return shown;
        };
        paintedNames_[size_t(i)] = line(label.name, 0, false);
        line(label.state, 0, true);
        line(label.note, 1, true);
        if (!label.recording.isEmpty() && text.width() > 0) {
            const QString shown = metrics.elidedText(label.recording, Qt::ElideRight, text.width());
            const int w = metrics.horizontalAdvance(shown);
            const QRect r(text.right() - w + 1, text.top(), w, lineHeight);
            p.fillRect(r.adjusted(-2, 0, 2, 0).intersected(tile), kTextBackdrop);
            p.setPen(kRecordingColour);
            p.drawText(r, Qt::AlignRight | Qt::AlignVCenter, shown);
        }
        if (!label.stats.isEmpty()) {
            stats = label.stats;
            statsAt = QPoint(text.left(), text.top() + lineHeight + 2);
        }
        if (count > 1 && i == selected_) {
            p.setPen(Qt::NoPen);
            const int f = GridLayout::kFrame;
            p.fillRect(QRect(tile.left(), tile.top(), tile.width(), f), kFrameColour);
            p.fillRect(QRect(tile.left(), tile.bottom() - f + 1, tile.width(), f), kFrameColour);
            p.fillRect(QRect(tile.left(), tile.top(), f, tile.height()), kFrameColour);
            p.fillRect(QRect(tile.right() - f + 1, tile.top(), f, tile.height()), kFrameColour);
        }
    }
    // Over everything, below the name: a small tile's box reaches over its neighbours to stay
    // readable.
    StatsBox::paint(p, stats, statsAt, rect());
}

void TileView::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint at = e->globalPosition().toPoint();
    if ((e->buttons() & Qt::LeftButton) && pressOnKept_ && zoom_ && zoom_->zoomed()) {
        if (!dragging_ && (at - pressAt_).manhattanLength() > 12) {
            dragging_ = true;
            emit dragStarted();
        }
        QRect target;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (kept_ >= 0)
                target = tiles_[size_t(kept_)].target;
        }
        if (dragging_ && !target.isEmpty()) {
            const QPoint d = at - dragFrom_;
            zoom_->pan(double(d.x()) / target.width(), double(d.y()) / target.height());
            dragFrom_ = at;
            update();
        }
    }
    QWidget::mouseMoveEvent(e);
}

bool TileView::zoomKeptAt(double by, const QPoint& at)
{
    const int under = tileAt(at);
    QRect target;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (kept_ >= 0 && under == kept_)
            target = tiles_[size_t(kept_)].target;
    }
    if (!zoom_ || target.isEmpty())
        return false;
    zoom_->zoomBy(by, double(at.x() - target.left()) / target.width(),
                  double(at.y() - target.top()) / target.height());
    update();
    return true;
}

void TileView::wheelEvent(QWheelEvent* e)
{
    const int steps = e->angleDelta().y() / 120;
    if (steps != 0)
        zoomKeptAt(std::pow(DigitalZoom::kStep, steps), e->position().toPoint());
    e->accept();
}

bool TileView::event(QEvent* e)
{
    if (e->type() == QEvent::Gesture && zoom_) {
        auto* g = static_cast<QGestureEvent*>(e);
        if (auto* pinch = static_cast<QPinchGesture*>(g->gesture(Qt::PinchGesture))) {
            const QPoint at = mapFromGlobal(pinch->centerPoint().toPoint());
            if (!pinching_) {   // the pinch's first event
                pinching_ = true;
                const int under = tileAt(at);
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    pinchOnKept_ = under >= 0 && under == kept_;
                }
                emit dragStarted();   // the fingers' press is no click that goes full screen
            }
            // Only a pinch that began on the framed tile zooms it (while its centre stays there).
            if (pinchOnKept_ && (pinch->changeFlags() & QPinchGesture::ScaleFactorChanged))
                zoomKeptAt(pinch->scaleFactor(), at);
            if (pinch->state() == Qt::GestureFinished || pinch->state() == Qt::GestureCanceled)
                pinching_ = false;
            return true;
        }
    }
    return QWidget::event(e);
}

void TileView::mousePressEvent(QMouseEvent* e)
{
    dragging_ = false;
    pressAt_ = dragFrom_ = e->globalPosition().toPoint();
    const int under = tileAt(e->position().toPoint());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pressOnKept_ = kept_ >= 0 && under == kept_;
    }
    if (e->button() == Qt::LeftButton) {
        const int t = tileAt(e->position().toPoint());
        if (t >= 0)
            emit tileClicked(t);
    }
    QWidget::mousePressEvent(e);
}

void TileView::contextMenuEvent(QContextMenuEvent* e)
{
    emit menuRequested(e->globalPos());
}

void TileView::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        const int t = tileAt(e->position().toPoint());
        if (t >= 0)
            emit tileDoubleClicked(t);
        e->accept();   // not handed on as a second press: that would be a click as well
        return;
    }
    QWidget::mouseDoubleClickEvent(e);
}

}   // namespace kevra
