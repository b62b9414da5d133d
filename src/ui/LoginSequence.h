// The login dialog's life over the main window: at most one open at a time, application-modal;
// its Login and the end of its wait go to the coordinator (Viewer), the coordinator's result
// comes back to it, and its closing tells the coordinator what the user chose. Owns the open
// dialog. Owned by the main window; user-interface thread only.
#pragma once
#include <QObject>

namespace kevra {

class LoginDialog;
class Viewer;

class LoginSequence : public QObject {
    Q_OBJECT
public:
    explicit LoginSequence(Viewer& viewer);
    ~LoginSequence() override;   // an open dialog goes without telling the coordinator

    // The user asks to log in: an open dialog comes to the front, else the coordinator starts
    // a login (and asks for the dialog when it is ready for one).
    void request();
    // Opens the dialog (the coordinator's call).
    void open();
    // The coordinator's login result for the open dialog (none open: dropped).
    void result(int code, int systemError);
    LoginDialog* dialog() const { return dialog_; }

private:
    void finish(LoginDialog* dlg);

    Viewer& viewer_;
    LoginDialog* dialog_ = nullptr;
};

}   // namespace kevra
