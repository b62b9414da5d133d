// Login dialog: address, port, user name and password, pre-filled from login.ini, saved on
// Login, then the login goes out through postLogin; while it waits the fields are locked and the
// dialog says it is connecting (Cancel ends the wait) until the main window hands it the result.
// User-interface thread only.
#pragma once
#include <QDialog>
#include <QPixmap>

#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace kevra {

class LoginDialog : public QDialog {
    Q_OBJECT
public:
    // The four rows, in tab order, and the two commands of the bottom bar.
    enum class Field { Address, Port, User, Password };
    enum class Command { Login, Cancel, Recorders };

    // The login hook (and the others) must be set before Login.
    explicit LoginDialog(QWidget* parent = nullptr);
    ~LoginDialog() override;

    // The values of the fields as the last Login (or the loaded login.ini) left them.
    const std::u16string& ip() const { return ip_; }
    int port() const { return port_; }
    const std::u16string& user() const { return user_; }
    const std::u16string& password() const { return password_; }
    // True when the user chose Cancel; read by the main window after the modal run.
    bool cancelled() const { return cancelled_; }

    // The login result reported by the device client (0 = accepted); systemError is the
    // failed connect's errno value (0 when unknown). Logged, and a failure is shown.
    void applyLoginResult(int code, int systemError = 0);
    // The failure message: the general text, then which failure it was with its code
    // ("Wrong password (0x1003)") on the second line.
    static QString failureText(int code, int systemError);

    // Commands of the bottom bar.
    void onLoginCommand();
    void onCancelCommand();
    // The list of further recorders (RecorderListDialog), saved to this dialog's login.ini.
    void onRecordersCommand();

    // Asks the platform for a network connection; always succeeds on this platform unless a
    // test replaced it.
    static bool connectToNetwork();
    static void setConnectToNetwork(std::function<bool()> fn);

    // Where the requests go: logout (may be empty), login, and the end of a login's wait.
    std::function<void()> postLogout;
    std::function<void()> postCancelWait;
    // The login's wait is the session's own (one time-out for every login).
    std::function<void(const std::string& host, int port, const std::string& user,
                       const std::string& password)>
        postLogin;

    // login.ini used by this dialog (defaults to the one in the user's settings folder).
    void setSettingsPath(const std::u16string& path) { settingsPath_ = path; }
    const std::u16string& settingsPath() const { return settingsPath_; }
    // Reads login.ini and fills the fields (done when the dialog is made).
    void loadSettings();

    QLineEdit* field(Field f) const;
    QLabel* label(Field f) const;
    QPushButton* command(Command c) const;
    int titleHeight() const { return titleHeight_; }
    bool waiting() const { return busy_; }
    // "Connecting to ..." while a login waits, empty otherwise.
    QString connectingText() const;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;

public slots:
    void accept() override;   // platform confirm key: runs Login
    void reject() override;   // platform cancel key or window close: runs Cancel

private:
    void setBusy(bool busy);
    void valuesToFields();
    void fieldsToValues();
    void layOut();

    std::u16string settingsPath_;
    std::u16string ip_;
    int port_ = 0;
    std::u16string user_;
    std::u16string password_;
    bool cancelled_ = false;
    QLineEdit* ipEdit_;
    QLineEdit* portEdit_;
    QLineEdit* userEdit_;
    QLineEdit* passwordEdit_;
    QLabel* labels_[4];
    QLabel* connecting_;
    QWidget* bar_;
    QPushButton* loginButton_;
    QPushButton* cancelButton_;
    QPushButton* recordersButton_;
    QPixmap band_;
    int titleHeight_ = 0;
    bool busy_ = false;
};

}   // namespace kevra
