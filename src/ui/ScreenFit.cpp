#include "ui/ScreenFit.h"

#include <QScreen>
#include <QScrollArea>
#include <QWidget>

#include <algorithm>

namespace kevra {

namespace {

// A scroll area's own size hint stops at a few dozen lines; the window wishes for the whole of
// its contents, so that it scrolls only where the screen is too small to show them.
QSize wishedSize(const QWidget& w)
{
    QSize size = w.sizeHint().expandedTo(w.minimumSizeHint());
    for (const QScrollArea* scroll : w.findChildren<QScrollArea*>()) {
        if (!scroll->widget() || !scroll->widgetResizable())
            continue;
        const int frame = 2 * scroll->frameWidth();
        const QSize whole = scroll->widget()->sizeHint() + QSize(frame, frame);
        const QSize hint = scroll->sizeHint();
        size += QSize(std::max(0, whole.width() - hint.width()),
                      std::max(0, whole.height() - hint.height()));
    }
    return size;
}

}   // namespace

void ScreenFit::apply(QWidget& w, const QRect& area)
{
    const QSize size = wishedSize(w).boundedTo(area.size());
    w.resize(size);
    QRect g(QPoint(0, 0), w.size());
    const QWidget* over = w.parentWidget() ? w.parentWidget()->window() : nullptr;
    g.moveCenter(over && over->isVisible() ? over->geometry().center() : area.center());
    g.moveLeft(
        std::clamp(g.left(), area.left(), std::max(area.left(), area.right() - g.width() + 1)));
    g.moveTop(
        std::clamp(g.top(), area.top(), std::max(area.top(), area.bottom() - g.height() + 1)));
    w.move(g.topLeft());
}

namespace {
QRect testScreen;
}   // namespace

QRect ScreenFit::area(const QWidget& w, bool whole)
{
    if (!testScreen.isEmpty())
        return testScreen;
    QScreen* s = w.screen();
    return !s ? QRect() : whole ? s->geometry() : s->availableGeometry();
}

void ScreenFit::setScreenForTests(const QRect& screen)
{
    testScreen = screen;
}

void ScreenFit::toScreen(QWidget& w)
{
    const QRect a = area(w);
    if (!a.isEmpty())
        apply(w, a);
}

}   // namespace kevra
