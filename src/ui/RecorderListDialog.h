// The recorders besides the first: a list of them (display name, address:port) and the fields
// of the one chosen (name, address, port, user, password) with Add, Change and Remove. Every
// change is saved to login.ini at once (RecorderList); the first recorder stays the login
// dialog's and is not listed. Opened from the login dialog and from the camera tree.
// User-interface thread only.
#pragma once
#include "profile/RecorderList.h"

#include <QDialog>

#include <string>
#include <vector>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace kevra {

class RecorderListDialog : public QDialog {
    Q_OBJECT
public:
    enum class Field { Name, Address, Port, User, Password };
    enum class Command { Add, Change, Remove, Close };

    // settingsPath: the login.ini the list is read from and saved to.
    explicit RecorderListDialog(const std::u16string& settingsPath, QWidget* parent = nullptr);

    // The whole list as saved last (recorder 0 first).
    const std::vector<RecorderList::Recorder>& recorders() const { return recorders_; }
    // True when a change was saved while the dialog was open.
    bool changed() const { return changed_; }

    QLineEdit* field(Field f) const { return fields_[int(f)]; }
    QPushButton* command(Command c) const { return buttons_[int(c)]; }
    QListWidget* list() const { return list_; }

    // The commands (also run by the buttons). Each returns true when the list was saved.
    bool add();
    bool change();
    bool remove();

protected:
    void showEvent(QShowEvent* e) override;

private:
    void fill();
    void choose(int row);
    // The fields as a recorder; false (after telling the user why) when they cannot be one.
    bool fieldsToRecorder(RecorderList::Recorder& r);
    bool save(std::vector<RecorderList::Recorder> list, int chosen);

    std::u16string settingsPath_;
    std::vector<RecorderList::Recorder> recorders_;
    bool changed_ = false;
    QListWidget* list_;
    QLineEdit* fields_[5];
    QPushButton* buttons_[4];
};

}   // namespace kevra
