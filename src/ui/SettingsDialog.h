// The Settings dialog (F10, and the picture's menu): what otherwise lives only in the settings
// files — automatic reconnection, the recorder's stream numbers for tiles and for a camera
// alone, the folders for pictures and clips, the language, the tour's dwell and grid, and what
// each screen shows (a wall, the spot monitor). It shows the values it is given and hands back
// what the user chose; edit() runs it on the settings files through the profile engine. Fits a
// 240 x 320 screen (it scrolls).
// User-interface thread only.
#pragma once
#include "profile/TourSettings.h"
#include "profile/ViewerSettings.h"

#include <QDialog>

#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QFormLayout;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace kevra {

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    SettingsDialog(const ViewerSettings& viewer, const TourSettings& tour, QWidget* parent);

    // What the screens show (setScreens): in, and out once the user chose.
    struct Screens {
        int count = 0;
        int main = -1;
        std::vector<int> walls;
        int spot = -1;
    };
    // Shows the settings of login.ini (loginPath) and views.ini (viewsPath) and writes what the
    // user chose back (saying so when that fails); the chosen viewer settings, to be applied, or
    // none when the dialog was cancelled. screens (optional): the screens' rows, and what the
    // user chose for them (the caller applies and saves that).
    static std::optional<ViewerSettings> edit(QWidget* parent, const std::u16string& loginPath,
                                              const std::u16string& viewsPath,
                                              Screens* screens = nullptr);

    // The values as the fields show them now.
    ViewerSettings viewerSettings() const;
    TourSettings tourSettings() const;

    // Which screen is which wall and which the spot monitor: one row per screen (screenCount of
    // them, mainScreen marked as the main window's), each showing nothing, wall 1 .. kWalls or
    // the spot. wallScreens[k] is wall (k+1)'s screen (-1: none). Called once, before exec().
    static constexpr int kWalls = 4;
    void setScreens(int screenCount, int mainScreen, const std::vector<int>& wallScreens,
                    int spotScreen);
    std::vector<int> wallScreens() const;
    int spotScreen() const;
    QComboBox* screenBox(int screen) const;

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
    QFormLayout* form_ = nullptr;
    int screensAt_ = 0;   // the form row the screens' rows start at
    std::vector<QComboBox*> screens_;
};

}   // namespace kevra
