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
    resizeEvent(nullptr);   // the rows for these lines
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

namespace {

// text as rows no wider than width, broken at spaces; a word wider than width (a sentence
// without spaces, as in Chinese) is broken between its characters.
QStringList wrap(const QString& text, const QFontMetrics& fm, int width)
{
    QStringList out;
    QString row;
    for (QString word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        while (word.size() > 1 && fm.horizontalAdvance(word) > width) {
            qsizetype n = 1;
            while (n < word.size() && fm.horizontalAdvance(word.left(n + 1)) <= width)
                ++n;
            if (!row.isEmpty())
                out << row;
            row.clear();
            out << word.left(n);
            word = word.mid(n);
        }
        const QString longer = row.isEmpty() ? word : row + QLatin1Char(' ') + word;
        if (!row.isEmpty() && fm.horizontalAdvance(longer) > width) {
            out << row;
            row = word;
        } else {
            row = longer;
        }
    }
    if (!row.isEmpty() || out.isEmpty())
        out << row;
    return out;
}

}   // namespace

HelpOverlay::Columns HelpOverlay::columns(const QStringList& lines, const QFontMetrics& fm,
                                          int width)
{
    const int gap = std::max(4, fm.averageCharWidth());
    int keyWidth = 0;
    for (const QString& l : lines)
        if (!l.startsWith(QLatin1Char('[')))
            keyWidth = std::max(keyWidth, fm.horizontalAdvance(l.section(QLatin1Char('\t'), 0, 0)));
    keyWidth = std::max(1, std::min(keyWidth, (width - gap) * 9 / 20));
    return Columns{keyWidth, std::max(1, width - gap - keyWidth)};
}

std::vector<HelpOverlay::Row> HelpOverlay::rows(const QStringList& lines, const QFontMetrics& fm,
                                                const Columns& c, int width)
{
    std::vector<Row> out;
    for (const QString& l : lines) {
        if (l.startsWith(QLatin1Char('['))) {
            for (const QString& r : wrap(l.mid(1, l.size() - 2), fm, std::max(1, width)))
                out.push_back(Row{true, QString(), r});
            continue;
        }
        const QStringList keys = wrap(l.section(QLatin1Char('\t'), 0, 0), fm, c.keyWidth);
        const QStringList text = wrap(l.section(QLatin1Char('\t'), 1), fm, c.textWidth);
        for (qsizetype i = 0; i < std::max(keys.size(), text.size()); ++i)
            out.push_back(Row{false, keys.value(i), text.value(i)});
    }
    return out;
}

int HelpOverlay::margin() const
{
    return std::max(4, QFontMetrics(font()).averageCharWidth());
}

int HelpOverlay::visibleLines() const
{
    const int lineHeight = QFontMetrics(font()).height();
    return std::max(1, (height() - 2 * lineHeight) / std::max(1, lineHeight));
}

void HelpOverlay::scrollBy(int n)
{
    const int last = std::max(0, int(rows_.size()) - visibleLines());
    first_ = std::clamp(first_ + n, 0, last);
    update();
}

void HelpOverlay::resizeEvent(QResizeEvent*)
{
    const QFontMetrics fm(font());
    const int inner = width() - 2 * margin();
    rows_ = rows(lines_, fm, columns(lines_, fm, inner), inner);
    scrollBy(0);
}

void HelpOverlay::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0, 225));
    const QFontMetrics fm(font());
    const int lh = fm.height(), m = margin(), inner = width() - 2 * m;
    const Columns c = columns(lines_, fm, inner);
    const int textLeft = width() - m - c.textWidth;

    p.setPen(QColor(255, 255, 255));
    QString title = QtText::lang(u"KH_TITLE_T");
    if (int(rows_.size()) > visibleLines())
        title += QStringLiteral("  %1/%2").arg(first_ + 1).arg(rows_.size());
    p.drawText(QRect(m, 0, inner, lh), Qt::AlignLeft | Qt::AlignVCenter,
               fm.elidedText(title, Qt::ElideRight, inner));
    int y = lh + lh / 2;
    for (size_t i = size_t(first_); i < rows_.size() && y + lh <= height(); ++i, y += lh) {
        const Row& r = rows_[i];
        if (r.heading) {
            p.setPen(QColor(255, 210, 90));
            p.drawText(QRect(m, y, inner, lh), Qt::AlignLeft | Qt::AlignVCenter, r.text);
            continue;
        }
        p.setPen(QColor(150, 220, 255));
        p.drawText(QRect(m, y, c.keyWidth, lh), Qt::AlignRight | Qt::AlignVCenter, r.keys);
        p.setPen(QColor(230, 230, 230));
        p.drawText(QRect(textLeft, y, c.textWidth, lh), Qt::AlignLeft | Qt::AlignVCenter, r.text);
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
