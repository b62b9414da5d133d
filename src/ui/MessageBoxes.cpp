#include "ui/MessageBoxes.h"

#include <QMessageBox>

namespace kevra {

namespace {
MessageBoxes::Handler& handler()
{
    static MessageBoxes::Handler h;
    return h;
}
}

void MessageBoxes::setHandler(Handler h)
{
    handler() = std::move(h);
}

void MessageBoxes::show(QWidget* parent, const QString& text, const QString& caption, Icon icon)
{
    if (handler()) {
        handler()(parent, text, caption, icon);
        return;
    }
    QMessageBox box(icon == Error ? QMessageBox::Critical : QMessageBox::Information, caption,
                    text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace kevra
