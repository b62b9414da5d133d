// The Settings dialog (F10, and the picture's menu): what otherwise lives only in the settings
// files — automatic reconnection, the recorder's stream numbers for tiles and for a camera
// alone, the folders for pictures and clips, the language, the tour's dwell and grid. It shows
// the values it is given and hands back what the user chose; edit() runs it on the settings
// files through the profile engine. Fits a 240 x 320 screen (it scrolls).
// User-interface thread only.
#pragma once
#include "profile/TourSettings.h"
#include "profile/ViewerSettings.h"

#include <QDialog>

#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace kevra {

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    SettingsDialog(const ViewerSettings& viewer, const TourSettings& tour, QWidget* parent);

    // Shows the settings of login.ini (loginPath) and views.ini (viewsPath) and writes what the
    // user chose back (saying so when that fails); the chosen viewer settings, to be applied, or
    // none when the dialog was cancelled.
    static std::optional<ViewerSettings> edit(QWidget* parent, const std::u16string& loginPath,
                                              const std::u16string& viewsPath);

    // The values as the fields show them now.
    ViewerSettings viewerSettings() const;
    TourSettings tourSettings() const;

    // The fields (tests).
    QCheckBox* reconnectBox() const { return reconnect_; }
    QSpinBox* tileStreamBox() const { return tileStream_; }
    QSpinBox* singleStreamBox() const { return singleStream_; }
    QLineEdit* pictureFolderField() const { return pictures_; }
    QLineEdit* clipFolderField() const { return clips_; }
    QComboBox* languageBox() const { return language_; }
    QSpinBox* dwellBox() const { return dwell_; }
    QComboBox* tourGridBox() const { return tourGrid_; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    QWidget* folderRow(QLineEdit*& field, const std::u16string& value);

    QCheckBox* reconnect_ = nullptr;
    QCheckBox* lowLatency_ = nullptr;
    QSpinBox* tileStream_ = nullptr;
    QSpinBox* singleStream_ = nullptr;
    QLineEdit* pictures_ = nullptr;
    QLineEdit* clips_ = nullptr;
    QComboBox* language_ = nullptr;
    QSpinBox* dwell_ = nullptr;
    QComboBox* tourGrid_ = nullptr;
};

}   // namespace kevra
