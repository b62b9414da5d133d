#include "ui/StatusRow.h"

#include <QDir>
#include <QFontMetrics>

#include <algorithm>

namespace kevra {

StatusRow::StatusRow(QWidget* parent) : QLabel(parent), tour_(new QLabel(this))
{
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(24, 24, 24));
    p.setColor(QPalette::WindowText, QColor(200, 200, 200));
    setPalette(p);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    tour_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    p.setColor(QPalette::WindowText, QColor(255, 220, 90));
    tour_->setPalette(p);
    tour_->setAutoFillBackground(true);
    tour_->hide();
    passing_.setSingleShot(true);
    connect(&passing_, &QTimer::timeout, this, [this] {
        setText(state_);
        setToolTip(QString());
    });
}

void StatusRow::showState(const QString& text)
{
    state_ = text;
    passing_.stop();
    setToolTip(QString());
    if (this->text() != state_)
        setText(state_);
}

void StatusRow::showPassing(const QString& text)
{
    setText(text);
    passing_.start(kPassingMs);
}

void StatusRow::showFile(const QString& prefix, const QString& path)
{
    const QString where = QDir::toNativeSeparators(path);
    // On a narrow screen the file name matters more than the folder's start.
    QString shortWhere = where;
    const QString home = QDir::toNativeSeparators(QDir::homePath());
    if (shortWhere.startsWith(home + QDir::separator()))
        shortWhere = QLatin1Char('~') + shortWhere.mid(home.size());
    const QFontMetrics metrics(font());
    const int room =
        std::max(width() - metrics.horizontalAdvance(prefix) - 4, metrics.averageCharWidth() * 12);
    showPassing(prefix + metrics.elidedText(shortWhere, Qt::ElideMiddle, room));
    setToolTip(where);
}

void StatusRow::showTour(const QString& text)
{
    if (text == tour_->text() && tour_->isVisible() == !text.isEmpty())
        return;
    tour_->setText(text);
    const int w = tour_->fontMetrics().horizontalAdvance(text) + 8;
    tour_->setGeometry(std::max(0, width() - w), 0, std::min(w, width()), height());
    tour_->setVisible(!text.isEmpty());
}

}   // namespace kevra
