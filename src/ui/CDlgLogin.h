// Login dialog: address, port, user name and password, pre-filled from login.ini, saved on
// Login, then the login is posted to the device client; stays open (disabled) until the main
// window hands it the result. User-interface thread only.
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

class DeviceClient;

class CDlgLogin : public QDialog {
    Q_OBJECT
public:
    enum {
        IDC_PORT = 1000,
        IDC_USER = 1001,
        IDC_PASSWORD = 1002,
        IDC_IP = 1003,
        IDC_IP_LABEL = 1004,
        IDC_PORT_LABEL = 1005,
        IDC_USER_LABEL = 1006,
        IDC_PASSWORD_LABEL = 1007,
        ID_LOGIN = 32771,
        ID_CANCEL = 32772
    };

    // client may be null (then the login and logout hooks must be set before Login).
    explicit CDlgLogin(DeviceClient* client, QWidget* parent = nullptr);
    ~CDlgLogin() override;

    // Field values (data exchange with the edit fields).
    std::u16string m_ip;
    int m_port = 0;
    std::u16string m_user;
    std::u16string m_password;
    // 1 when the user chose Cancel; read by the main window after the modal run.
    int m_cancelled = 0;

    // The login result reported by the device client (0 = accepted); systemError is the
    // failed connect's errno value (0 when unknown). Logged, and a failure is shown.
    void ApplyLoginResult(int code, int systemError = 0);
    // The failure message: the general text, then which failure it was with its code
    // ("Wrong password (0x1003)") on the second line.
    static QString failureText(int code, int systemError);

    // Commands of the bottom bar.
    void onLoginCommand();
    void onCancelCommand();

    // Asks the platform for a network connection; always succeeds on this platform unless a
    // test replaced it.
    static bool ConnectToNetwork();
    static void setConnectToNetwork(std::function<bool()> fn);

    // Where the requests go; by default the device client's logout and login.
    std::function<void()> postLogout;
    std::function<void(const std::string& host, int port, const std::string& user,
                       const std::string& password, int timeoutMs)>
        postLogin;

    // login.ini used by this dialog (defaults to the one in the user's settings folder).
    void setSettingsPath(const std::u16string& path) { settingsPath_ = path; }
    const std::u16string& settingsPath() const { return settingsPath_; }
    // Reads login.ini and fills the fields (done when the dialog is made).
    void loadSettings();

    QLineEdit* field(int id) const;
    QLabel* label(int id) const;
    QPushButton* command(int id) const;
    int titleHeight() const { return titleHeight_; }
    bool waiting() const { return !isEnabled(); }

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
    void membersToFields();
    void fieldsToMembers();
    void layOut();

    std::u16string settingsPath_;
    QLineEdit* ip_;
    QLineEdit* port_;
    QLineEdit* user_;
    QLineEdit* password_;
    QLabel* labels_[4];
    QWidget* bar_;
    QPushButton* loginButton_;
    QPushButton* cancelButton_;
    QPixmap band_;
    int titleHeight_ = 0;
    bool busy_ = false;
};

}   // namespace kevra
