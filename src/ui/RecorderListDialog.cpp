#include "ui/RecorderListDialog.h"

#include "app/AppValues.h"
#include "app/LoginPort.h"
#include "profile/Language.h"
#include "profile/LoginSettings.h"
#include "ui/MessageBoxes.h"
#include "ui/QtText.h"
#include "ui/ScreenFit.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace kevra {

namespace {

void tell(QWidget* parent, const std::u16string& text)
{
    MessageBoxes::error(parent, QtText::from(text));
}

}   // namespace

RecorderListDialog::RecorderListDialog(const std::u16string& settingsPath, QWidget* parent)
    : QDialog(parent), settingsPath_(settingsPath)
{
    setWindowTitle(QtText::lang(u"NVR_LIST"));
    recorders_ = RecorderList::load(settingsPath_);

    // List, fields and commands scroll together on a small screen; nothing is wider than it.
    auto* inner = new QWidget;
    auto* column = new QVBoxLayout(inner);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(2);
    list_ = new QListWidget(inner);
    list_->setMinimumHeight(list_->fontMetrics().height() * 3);
    column->addWidget(list_, 1);

    auto* form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 0);
    form->setVerticalSpacing(2);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    const char16_t* keys[5] = {u"NVR_TITLE", u"D_IP", u"D_PORT", u"U_NAME", u"PASSWORD"};
    for (int i = 0; i < 5; ++i) {
        fields_[i] = new QLineEdit(inner);
        fields_[i]->setMinimumWidth(fields_[i]->fontMetrics().averageCharWidth() * 8);
        form->addRow(QtText::lang(keys[i]), fields_[i]);
    }
    field(Field::Port)
        ->setValidator(
            new QRegularExpressionValidator(QRegularExpression("[0-9]{0,9}"), field(Field::Port)));
    // '=' would end the name's key early in login.ini.
    field(Field::Name)
        ->setValidator(
            new QRegularExpressionValidator(QRegularExpression("[^=]*"), field(Field::Name)));
    field(Field::Password)->setEchoMode(QLineEdit::Password);
    column->addLayout(form);

    // Two by two: four buttons in a row do not fit 240 pixels.
    auto* grid = new QGridLayout;
    grid->setSpacing(2);
    const char16_t* commands[4] = {u"NVR_ADD", u"NVR_EDIT", u"NVR_DEL", u"OK"};
    for (int i = 0; i < 4; ++i) {
        buttons_[i] = new QPushButton(QtText::lang(commands[i]), inner);
        buttons_[i]->setAutoDefault(false);
        grid->addWidget(buttons_[i], i / 2, i % 2);
    }
    column->addLayout(grid);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(inner);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
    connect(command(Command::Add), &QPushButton::clicked, this, [this] { add(); });
    connect(command(Command::Change), &QPushButton::clicked, this, [this] { change(); });
    connect(command(Command::Remove), &QPushButton::clicked, this, [this] { remove(); });
    connect(command(Command::Close), &QPushButton::clicked, this, &QDialog::accept);
    connect(list_, &QListWidget::currentRowChanged, this, [this](int r) { choose(r); });

    fill();
    choose(list_->count() > 0 ? 0 : -1);
}

void RecorderListDialog::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    ScreenFit::toScreen(*this);
}

void RecorderListDialog::fill()
{
    list_->clear();
    for (size_t i = 1; i < recorders_.size(); ++i) {
        const RecorderList::Recorder& r = recorders_[i];
        QString text = QtText::from(RecorderList::displayName(r));
        if (!r.name.empty())
            text += QStringLiteral(" (") + QtText::from(r.ip) + QLatin1Char(':') +
                    QString::number(r.port) + QLatin1Char(')');
        list_->addItem(text);
    }
}

void RecorderListDialog::choose(int row)
{
    const bool chosen = row >= 0 && size_t(row) + 1 < recorders_.size();
    command(Command::Change)->setEnabled(chosen);
    command(Command::Remove)->setEnabled(chosen);
    if (list_->currentRow() != row)
        list_->setCurrentRow(row);
    RecorderList::Recorder r{u"", LoginSettings::kDefaultPort, LoginSettings::kDefaultUser,
                             LoginSettings::kDefaultPassword, u""};
    if (chosen)
        r = recorders_[size_t(row) + 1];
    field(Field::Name)->setText(QtText::from(r.name));
    field(Field::Address)->setText(QtText::from(r.ip));
    field(Field::Port)->setText(QString::number(r.port));
    field(Field::User)->setText(QtText::from(r.user));
    field(Field::Password)->setText(QtText::from(r.password));
}

bool RecorderListDialog::fieldsToRecorder(RecorderList::Recorder& r)
{
    r.name = QtText::to(field(Field::Name)->text().trimmed());
    r.ip = QtText::to(field(Field::Address)->text().trimmed());
    r.user = QtText::to(field(Field::User)->text());
    r.password = QtText::to(field(Field::Password)->text());
    const LoginPort::Checked port =
        LoginPort::check(QtText::to(field(Field::Port)->text()), LoginSettings::kDefaultPort);
    if (!port.ok()) {
        tell(this, Language::text(port.problemKey));
        return false;
    }
    r.port = port.port;
    if (r.ip.empty() || r.user.empty()) {
        tell(this, Language::text(r.ip.empty() ? u"IP_ISNULL" : u"U_NULL"));
        return false;
    }
    return true;
}

bool RecorderListDialog::save(std::vector<RecorderList::Recorder> list, int chosen)
{
    if (!RecorderList::save(settingsPath_, list)) {
        tell(this, Language::text(u"NVR_SAVE_ERR"));
        return false;
    }
    recorders_ = std::move(list);
    changed_ = true;
    fill();
    choose(chosen);
    return true;
}

bool RecorderListDialog::add()
{
    if (recorders_.size() >= size_t(RecorderList::kMaxRecorders)) {
        tell(this, Language::format(u"NVR_MAX", {RecorderList::kMaxRecorders}));
        return false;
    }
    RecorderList::Recorder r;
    if (!fieldsToRecorder(r))
        return false;
    std::vector<RecorderList::Recorder> list = recorders_;
    list.push_back(std::move(r));
    const int row = int(list.size()) - 2;
    return save(std::move(list), row);
}

bool RecorderListDialog::change()
{
    const int row = list_->currentRow();
    RecorderList::Recorder r;
    if (row < 0 || size_t(row) + 1 >= recorders_.size() || !fieldsToRecorder(r))
        return false;
    std::vector<RecorderList::Recorder> list = recorders_;
    list[size_t(row) + 1] = std::move(r);
    return save(std::move(list), row);
}

bool RecorderListDialog::remove()
{
    const int row = list_->currentRow();
    if (row < 0 || size_t(row) + 1 >= recorders_.size())
        return false;
    std::vector<RecorderList::Recorder> list = recorders_;
    list.erase(list.begin() + row + 1);
    const int left = int(list.size()) - 1;
    return save(std::move(list), std::min(row, left - 1));
}

}   // namespace kevra
