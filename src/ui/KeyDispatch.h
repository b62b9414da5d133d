// The main window's keyboard: each key that reaches the window runs its command from KeyTable
// for where the window is (camera tree, one camera, grid; full screen or not), camera moves run
// while their key is held (PtzHold), and the key help reads the keys while it is shown. It also
// gives the keyboard back to the window when a dialog or menu over it closes, so that keys work
// at once without a click. An application-wide event filter made and owned by the main window;
// user-interface thread only.
#pragma once
#include "app/KeyTable.h"
#include "common/PtzCode.h"
#include "common/PtzHold.h"

#include <QObject>
#include <QTimer>

class QKeyEvent;

namespace kevra {

class MainWindow;

class KeyDispatch : public QObject {
    Q_OBJECT
public:
    explicit KeyDispatch(MainWindow& window);
    ~KeyDispatch() override;

    // Where the keys are: KeyTable::Tree, Single or Grid, plus FullScreen.
    int place() const;
    // Runs a key's command as the key table names it; key is the KeyTable key that reached it.
    void run(KeyTable::Command c, int key = 0);
    // An arrow key (a Qt key) as the window's camera-move keys take it: true when a command
    // went out.
    bool arrowKey(int qtKey);
    const PtzHold& hold() const { return hold_; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    // A key pressed in the window (not in a dialog or the key help): true when it was used up.
    bool handleKey(const QKeyEvent& k);
    void startHold(int key, PtzCode code);
    void endHold();
    void frameNextTile(int step);
    void zoomKey(KeyTable::Command c);
    // The window takes the keyboard again, unless another dialog or menu is still open.
    void takeKeyboardBack();

    MainWindow& window_;
    PtzHold hold_;       // a held camera-move key
    QTimer holdTimer_;   // its steps, running while a key is held
    bool backPending_ = false;
};

}   // namespace kevra
