// The whole viewer in the test process: its main window (whose coordinator owns the recorders'
// sessions), logged in through
// the real login dialog to a recorder on 127.0.0.1. User-interface thread (the test's).
#pragma once
#include "common/Utf.h"
#include "ui/LoginDialog.h"
#include "ui/MainWindow.h"
#include "ui/support/UiTestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <memory>
#include <string>

namespace kevra::test {

struct ViewerUnderTest {
    std::unique_ptr<MainWindow> window = std::make_unique<MainWindow>();
    std::string dir = makeTempDir();

    // Runs the login dialog with the recorder's address; true when the tree shows cameras.
    bool logIn(int port)
    {
        if (!window->isVisible())
            window->show();
        if (!waitUntil([&] { return window->loginDialog() != nullptr; }))
            return false;
        LoginDialog* d = window->loginDialog();
        d->setSettingsPath(fromUtf8(dir + "login.ini"));
        d->field(LoginDialog::Field::Address)->setText("127.0.0.1");
        d->field(LoginDialog::Field::Port)->setText(QString::number(port));
        d->field(LoginDialog::Field::User)->setText("admin");
        d->field(LoginDialog::Field::Password)->setText("580317");
        d->command(LoginDialog::Command::Login)->click();
        return waitUntil([&] {
            return window->loginDialog() == nullptr && window->tree()->topLevelItemCount() >= 1 &&
                   window->tree()->topLevelItem(0)->childCount() > 0;
        });
    }
    QTreeWidgetItem* camera(int i) { return window->tree()->topLevelItem(0)->child(i); }
    QString status() { return window->statusLine()->text(); }
};

}   // namespace kevra::test
