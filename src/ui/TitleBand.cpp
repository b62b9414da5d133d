#include "ui/TitleBand.h"

#include <QApplication>
#include <QFontMetrics>

#include "app/AppValues.h"
#include "ui/QtText.h"

namespace kevra {

void TitleBand::paint(QPainter& p, const QPixmap& band, int width, int height, const QColor& text)
{
    if (!band.isNull())
        p.drawPixmap(0, 0, band);
    QFont title = QApplication::font();
    title.setPixelSize(qMax(1, height * 3 / 4));
    title.setWeight(QFont::Medium);
    QFont version = QApplication::font();
    version.setPixelSize(qMax(1, height * 2 / 3));
    version.setWeight(QFont::Light);
    p.setPen(text);
    const QString product = QtText::from(AppValues::productTitle());
    QRect r(5, 0, width - 5, height);
    p.setFont(title);
    p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, product);
    r.setLeft(r.left() + QFontMetrics(title).horizontalAdvance(product));
    p.setFont(version);
    p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, QtText::from(AppValues::versionText()));
}

}   // namespace kevra
