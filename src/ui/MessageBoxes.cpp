#include "ui/MessageBoxes.h"

#include "app/AppValues.h"
#include "ui/QtText.h"

#include <QMessageBox>
#include <QPushButton>

namespace kevra {

MessageBoxes::Handler MessageBoxes::handler_;

void MessageBoxes::setHandler(Handler h)
{
    handler_ = std::move(h);
}

void MessageBoxes::show(QWidget* parent, const QString& text, const QString& caption, Icon icon)
{
    if (handler_) {
        handler_(parent, text, caption, icon);
        return;
    }
    QMessageBox box(icon == Error ? QMessageBox::Critical : QMessageBox::Information, caption, text,
                    QMessageBox::Ok, parent);
    // The button speaks the program's language, not the platform's.
    const QString ok = QtText::lang(u"OK");
    if (!ok.isEmpty())
        box.button(QMessageBox::Ok)->setText(ok);
    box.exec();
}

void MessageBoxes::about(QWidget* parent)
{
    const QString text = QtText::from(AppValues::productTitle()) + "\n" + QtText::lang(u"VERSION") +
                         QtText::from(AppValues::versionText()) + "\n" + QtText::lang(u"BUILD") +
                         QStringLiteral(" : 2010-10-22\n");
    show(parent, text, QtText::lang(u"ABOUT"), Information);
}

void MessageBoxes::error(QWidget* parent, const QString& text)
{
    show(parent, text, QtText::from(AppValues::productTitle()), Error);
}

}   // namespace kevra
