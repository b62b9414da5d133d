#include "ui/HelpOverlay.h"

#include "app/KeyTable.h"
#include "ui/QtText.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>

namespace kevra {

HelpOverlay::HelpOverlay(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    hide();
}

void HelpOverlay::open()
{
    lines_.clear();
    for (const KeyTable::Section& s : KeyTable::sections()) {
        lines_ << QLatin1Char('[') + QtText::lang(s.titleKey) + QLatin1Char(']');
        for (const KeyTable::Binding* b : s.bindings)
            lines_ << QtText::from(KeyTable::keysText(*b)) + QLatin1Char('\t') +
                          QtText::lang(b->textKey);
    }
    first_ = 0;
    if (parentWidget())
        setGeometry(parentWidget()->rect());
    show();
    raise();
    setFocus(Qt::OtherFocusReason);
    update();
}

void HelpOverlay::close()
{
    if (isHidden())
        return;
    hide();
    emit closed();
}

int HelpOverlay::visibleLines() const
{
    const int lineHeight = QFontMetrics(font()).height();
    return std::max(1, (height() - 2 * lineHeight) / std::max(1, lineHeight));
}

void HelpOverlay::scrollBy(int n)
{
    const int last = std::max(0, int(lines_.size()) - visibleLines());
    first_ = std::clamp(first_ + n, 0, last);
    update();
}

void HelpOverlay::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0, 225));
    const QFontMetrics fm(font());
    const int lh = fm.height(), margin = std::max(4, fm.averageCharWidth());
    // The keys' column is as wide as its widest entry, but leaves the description room.
    int keyWidth = 0;
    for (const QString& l : lines_)
        if (!l.startsWith(QLatin1Char('[')))
            keyWidth = std::max(keyWidth, fm.horizontalAdvance(l.section(QLatin1Char('\t'), 0, 0)));
    keyWidth = std::min(keyWidth, (width() - 3 * margin) * 9 / 20);
    const int textLeft = margin + keyWidth + margin;
    const int textWidth = std::max(1, width() - textLeft - margin);

    p.setPen(QColor(255, 255, 255));
    QString title = QtText::lang(u"KH_TITLE_T");
    if (lines_.size() > visibleLines())
        title += QStringLiteral("  %1/%2").arg(first_ + 1).arg(lines_.size());
    p.drawText(QRect(margin, 0, width() - 2 * margin, lh), Qt::AlignLeft | Qt::AlignVCenter,
               fm.elidedText(title, Qt::ElideRight, width() - 2 * margin));
    int y = lh + lh / 2;
    for (int i = first_; i < lines_.size() && y + lh <= height(); ++i, y += lh) {
        const QString& l = lines_[i];
        if (l.startsWith(QLatin1Char('['))) {
            p.setPen(QColor(255, 210, 90));
            p.drawText(QRect(margin, y, width() - 2 * margin, lh), Qt::AlignLeft | Qt::AlignVCenter,
                       fm.elidedText(l.mid(1, l.size() - 2), Qt::ElideRight, width() - 2 * margin));
            continue;
        }
        p.setPen(QColor(150, 220, 255));
        p.drawText(QRect(margin, y, keyWidth, lh), Qt::AlignRight | Qt::AlignVCenter,
                   fm.elidedText(l.section(QLatin1Char('\t'), 0, 0), Qt::ElideRight, keyWidth));
        p.setPen(QColor(230, 230, 230));
        p.drawText(QRect(textLeft, y, textWidth, lh), Qt::AlignLeft | Qt::AlignVCenter,
                   fm.elidedText(l.section(QLatin1Char('\t'), 1), Qt::ElideRight, textWidth));
    }
}

void HelpOverlay::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Up: scrollBy(-1); break;
    case Qt::Key_Down: scrollBy(1); break;
    case Qt::Key_PageUp: scrollBy(-visibleLines()); break;
    case Qt::Key_PageDown:
    case Qt::Key_Space: scrollBy(visibleLines()); break;
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Meta: break;   // the first half of a chord such as Shift+?
    default: close(); break;
    }
    e->accept();
}

void HelpOverlay::mousePressEvent(QMouseEvent* e)
{
    e->accept();
    close();
}

void HelpOverlay::wheelEvent(QWheelEvent* e)
{
    scrollBy(e->angleDelta().y() > 0 ? -3 : 3);
    e->accept();
}

}   // namespace kevra
