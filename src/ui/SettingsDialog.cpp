#include "ui/SettingsDialog.h"

#include "app/ViewerLog.h"
#include "ui/MessageBoxes.h"
#include "ui/QtText.h"
#include "ui/ScreenFit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

namespace kevra {

namespace {

// A label that wraps its words onto further lines rather than widening the dialog.
QLabel* wrapping(const QString& text)
{
    auto* l = new QLabel(text);
    l->setWordWrap(true);
    return l;
}

// A check box whose text wraps: the box, then a wrapping label that a click on it toggles.
class WrappingCheck : public QWidget {
public:
    WrappingCheck(QCheckBox* box, const QString& text) : box_(box)
    {
        auto* h = new QHBoxLayout(this);
        h->setContentsMargins(0, 0, 0, 0);
        h->addWidget(box, 0, Qt::AlignTop);
        QLabel* l = wrapping(text);
        l->setBuddy(box);
        h->addWidget(l, 1);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
            box_->toggle();
    }

private:
    QCheckBox* box_;
};

}   // namespace

SettingsDialog::SettingsDialog(const ViewerSettings& v, const TourSettings& t, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QtText::lang(u"SET_TITLE_T"));
    // Each label above its field, wrapped to the width: nothing is cut off on a narrow screen.
    auto* form = new QFormLayout;
    form->setRowWrapPolicy(QFormLayout::WrapAllRows);

    reconnect_ = new QCheckBox;
    reconnect_->setChecked(v.autoReconnect);
    form->addRow(new WrappingCheck(reconnect_, QtText::lang(u"SET_RECONNECT_T")));
    lowLatency_ = new QCheckBox;
    lowLatency_->setChecked(v.lowLatency);
    form->addRow(new WrappingCheck(lowLatency_, QtText::lang(u"LOW_LAT")));

    auto streamBox = [](int value) {
        auto* b = new QSpinBox;
        b->setRange(0, ViewerSettings::kMaxStream);
        b->setValue(value);
        return b;
    };
    tileStream_ = streamBox(v.tileStream);
    singleStream_ = streamBox(v.singleStream);
    form->addRow(wrapping(QtText::lang(u"SET_TILE_STREAM_T")), tileStream_);
    form->addRow(wrapping(QtText::lang(u"SET_ONE_STREAM_T")), singleStream_);

    form->addRow(wrapping(QtText::lang(u"SET_PICTURES_T")), folderRow(pictures_, v.pictureFolder));
    form->addRow(wrapping(QtText::lang(u"SET_CLIPS_T")), folderRow(clips_, v.clipFolder));

    language_ = new QComboBox;
    language_->addItem(QtText::lang(u"SET_LANG_SYSTEM_T"), QString());
    language_->addItem(QStringLiteral("English"), QtText::from(ViewerSettings::kEnglish));
    language_->addItem(QString::fromUtf8("中文"), QtText::from(ViewerSettings::kChinese));
    language_->setCurrentIndex(std::max(0, language_->findData(QtText::from(v.language))));
    form->addRow(wrapping(QtText::lang(u"SET_LANGUAGE_T")), language_);

    dwell_ = new QSpinBox;
    dwell_->setRange(TourSettings::kMinDwellS, TourSettings::kMaxDwellS);
    dwell_->setSuffix(QStringLiteral(" s"));
    dwell_->setValue(t.dwellS);
    form->addRow(wrapping(QtText::lang(u"SET_DWELL_T")), dwell_);
    tourGrid_ = new QComboBox;
    tourGrid_->addItem(QStringLiteral("2 x 2"), 4);
    tourGrid_->addItem(QStringLiteral("3 x 3"), 9);
    tourGrid_->setCurrentIndex(t.grid == 9 ? 1 : 0);
    form->addRow(wrapping(QtText::lang(u"SET_TOUR_GRID_T")), tourGrid_);

    form_ = form;
    screensAt_ = form->rowCount();

    form->addRow(wrapping(QtText::lang(u"SET_NOTE_T")));

    // The fields scroll on a small screen; the buttons stay in sight.
    auto* inner = new QWidget;
    inner->setLayout(form);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(inner);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QtText::lang(u"OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QtText::lang(u"SET_CANCEL_T"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addWidget(scroll);
    outer->addWidget(buttons);
}

std::optional<ViewerSettings> SettingsDialog::edit(QWidget* parent, const std::u16string& loginPath,
                                                   const std::u16string& viewsPath,
                                                   Screens* screens)
{
    SettingsDialog dlg(ViewerSettings::load(loginPath), TourSettings::load(viewsPath), parent);
    if (screens)
        dlg.setScreens(screens->count, screens->main, screens->walls, screens->spot);
    if (dlg.exec() != QDialog::Accepted)
        return std::nullopt;
    if (screens && screens->count > 1) {
        screens->walls = dlg.wallScreens();
        screens->spot = dlg.spotScreen();
    }
    const ViewerSettings s = dlg.viewerSettings();
    const bool saved =
        ViewerSettings::save(loginPath, s) && TourSettings::save(viewsPath, dlg.tourSettings());
    if (!saved)
        MessageBoxes::error(parent, QtText::lang(u"SET_SAVE_ERR_T"));
    ViewerLog::event(saved ? "settings saved" : "settings not saved");
    return s;
}

void SettingsDialog::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    ScreenFit::toScreen(*this);
}

QWidget* SettingsDialog::folderRow(QLineEdit*& field, const std::u16string& value)
{
    auto* row = new QWidget;
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    field = new QLineEdit(QtText::from(value));
    field->setMinimumWidth(field->fontMetrics().averageCharWidth() * 8);
    field->setPlaceholderText(QtText::lang(u"SET_DEFAULT_FOLDER_T"));
    auto* browse = new QPushButton(QStringLiteral("..."));
    browse->setFixedWidth(browse->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 8);
    QLineEdit* f = field;
    connect(browse, &QPushButton::clicked, this, [this, f] {
        const QString chosen = QFileDialog::getExistingDirectory(this, QString(), f->text());
        if (!chosen.isEmpty())
            f->setText(chosen);
    });
    h->addWidget(field, 1);
    h->addWidget(browse);
    return row;
}

ViewerSettings SettingsDialog::viewerSettings() const
{
    ViewerSettings s;
    s.autoReconnect = reconnect_->isChecked();
    s.lowLatency = lowLatency_->isChecked();
    s.tileStream = tileStream_->value();
    s.singleStream = singleStream_->value();
    s.pictureFolder = QtText::to(pictures_->text().trimmed());
    s.clipFolder = QtText::to(clips_->text().trimmed());
    s.language = QtText::to(language_->currentData().toString());
    return s;
}

TourSettings SettingsDialog::tourSettings() const
{
    TourSettings t;
    t.dwellS = dwell_->value();
    t.grid = tourGrid_->currentData().toInt();
    return t;
}

void SettingsDialog::setScreens(int screenCount, int mainScreen,
                                const std::vector<int>& wallScreens, int spotScreen)
{
    int row = screensAt_;
    if (screenCount > 1)
        form_->insertRow(row++, new QLabel(QtText::lang(u"SET_SCREENS_T")));
    for (int i = 0; i < screenCount && screenCount > 1; ++i) {
        auto* box = new QComboBox;
        box->addItem(QtText::lang(u"SET_SCREEN_NONE_T"), 0);
        for (int w = 1; w <= kWalls; ++w)
            box->addItem(QtText::lang(u"SET_SCREEN_WALL_T").arg(w), w);
        box->addItem(QtText::lang(u"SET_SCREEN_SPOT_T"), -1);
        for (size_t k = 0; k < wallScreens.size() && k < size_t(kWalls); ++k)
            if (wallScreens[k] == i)
                box->setCurrentIndex(box->findData(int(k) + 1));
        if (spotScreen == i)
            box->setCurrentIndex(box->findData(-1));
        QString label = QtText::lang(u"SET_SCREEN_T").arg(i);
        if (i == mainScreen)
            label += QStringLiteral(" ") + QtText::lang(u"SET_SCREEN_MAIN_T");
        form_->insertRow(row++, label, box);
        screens_.push_back(box);
    }
}

std::vector<int> SettingsDialog::wallScreens() const
{
    std::vector<int> walls(size_t(kWalls), -1);
    for (size_t i = 0; i < screens_.size(); ++i) {
        const int w = screens_[i]->currentData().toInt();
        if (w >= 1 && w <= kWalls && walls[size_t(w - 1)] < 0)
            walls[size_t(w - 1)] = int(i);
    }
    while (!walls.empty() && walls.back() < 0)
        walls.pop_back();
    return walls;
}

int SettingsDialog::spotScreen() const
{
    for (size_t i = 0; i < screens_.size(); ++i)
        if (screens_[i]->currentData().toInt() == -1)
            return int(i);
    return -1;
}

QComboBox* SettingsDialog::screenBox(int screen) const
{
    return screen >= 0 && size_t(screen) < screens_.size() ? screens_[size_t(screen)] : nullptr;
}

}   // namespace kevra
