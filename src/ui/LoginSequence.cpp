#include "ui/LoginSequence.h"

#include "app/Viewer.h"
#include "ui/LoginDialog.h"

namespace kevra {

LoginSequence::LoginSequence(Viewer& viewer) : viewer_(viewer)
{
}

LoginSequence::~LoginSequence()
{
    if (dialog_) {
        disconnect(dialog_, nullptr, this, nullptr);
        delete dialog_;
    }
}

void LoginSequence::request()
{
    if (dialog_) {
        dialog_->raise();   // one login dialog at a time
        return;
    }
    viewer_.requestLogin();
}

void LoginSequence::open()
{
    auto* dlg = new LoginDialog();
    dlg->setWindowModality(Qt::ApplicationModal);
    dlg->setAttribute(Qt::WA_DeleteOnClose, false);
    dlg->postLogout = nullptr;   // the coordinator ends the session before each login
    dlg->postLogin = [this](const std::string& host, int port, const std::string& user,
                            const std::string& password) {
        viewer_.logInByHand(Viewer::LoginRequest{host, port, user, password});
    };
    dlg->postCancelWait = [this] { viewer_.cancelLoginWait(); };
    dialog_ = dlg;
    connect(dlg, &QDialog::finished, this, [this, dlg] { finish(dlg); });
    dlg->open();
}

void LoginSequence::result(int code, int systemError)
{
    if (dialog_)
        dialog_->applyLoginResult(code, systemError);
}

void LoginSequence::finish(LoginDialog* dlg)
{
    const bool cancelled = dlg->cancelled();
    if (dialog_ == dlg)
        dialog_ = nullptr;
    dlg->deleteLater();
    viewer_.loginDialogClosed(cancelled, dlg->settingsPath(), dlg->ip(), dlg->port());
}

}   // namespace kevra
