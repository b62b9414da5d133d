#include "ui/LoginDialog.h"

#include "app/AppValues.h"
#include "app/LoginFailure.h"
#include "app/LoginLayout.h"
#include "app/LoginPort.h"
#include "app/ViewerLog.h"
#include "common/Utf.h"
#include "profile/LoginSettings.h"
#include "ui/MessageBoxes.h"
#include "ui/QtText.h"
#include "ui/ScreenFit.h"
#include "ui/RecorderListDialog.h"
#include "ui/TitleBand.h"

#include <QApplication>
#include <algorithm>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>

namespace kevra {

namespace {
std::function<bool()>& connectHook()
{
    static std::function<bool()> hook;
    return hook;
}
const QColor kDark(24, 24, 24);
const QColor kLabelText(200, 200, 200);
}   // namespace

bool LoginDialog::connectToNetwork()
{
    return connectHook() ? connectHook()() : true;
}

void LoginDialog::setConnectToNetwork(std::function<bool()> fn)
{
    connectHook() = std::move(fn);
}

LoginDialog::LoginDialog(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    settingsPath_ = LoginSettings::pathIn(AppValues::settingsFolder());

    // Tab order: address, port, user name, password.
    ipEdit_ = new QLineEdit(this);
    portEdit_ = new QLineEdit(this);
    portEdit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,9}"), portEdit_));
    userEdit_ = new QLineEdit(this);
    passwordEdit_ = new QLineEdit(this);
    passwordEdit_->setEchoMode(QLineEdit::Password);
    const char16_t* labelKeys[4] = {u"D_IP", u"D_PORT", u"U_NAME", u"PASSWORD"};
    for (int i = 0; i < 4; ++i) {
        labels_[i] = new QLabel(QtText::lang(labelKeys[i]), this);
        labels_[i]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        QPalette pal = labels_[i]->palette();
        pal.setColor(QPalette::WindowText, kLabelText);
        labels_[i]->setPalette(pal);
    }
    connecting_ = new QLabel(this);
    connecting_->setAlignment(Qt::AlignCenter);
    connecting_->setWordWrap(true);
    QPalette cp = connecting_->palette();
    cp.setColor(QPalette::WindowText, kLabelText);
    connecting_->setPalette(cp);
    connecting_->hide();
    setAutoFillBackground(false);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kDark);
    setPalette(pal);

    // Bottom command bar in place of the handheld's menu bar.
    const bool chinese = AppValues::isChineseLocale();
    bar_ = new QWidget(this);
    auto* row = new QHBoxLayout(bar_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    loginButton_ =
        new QPushButton(chinese ? QString::fromUtf8("登录") : QStringLiteral("Login"), bar_);
    cancelButton_ =
        new QPushButton(chinese ? QString::fromUtf8("取消") : QStringLiteral("Cancel"), bar_);
    bar_->setStyleSheet(QStringLiteral(
        "QPushButton { background: rgb(44, 46, 45); color: rgb(220, 220, 220);"
        " border: 1px solid rgb(16, 16, 16); border-top-color: rgb(80, 84, 82); padding: 4px; }"
        "QPushButton:pressed { background: rgb(30, 30, 30); }"
        "QPushButton:disabled { color: rgb(110, 110, 110); }"));
    recordersButton_ = new QPushButton(QtText::lang(u"NVR_LIST"), bar_);
    for (QPushButton* b : {loginButton_, cancelButton_, recordersButton_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        b->setFocusPolicy(Qt::NoFocus);
        row->addWidget(b);
    }
    connect(loginButton_, &QPushButton::clicked, this, &LoginDialog::onLoginCommand);
    connect(cancelButton_, &QPushButton::clicked, this, &LoginDialog::onCancelCommand);
    connect(recordersButton_, &QPushButton::clicked, this, &LoginDialog::onRecordersCommand);

    loadSettings();
    cancelled_ = false;
    ipEdit_->setFocus();
}

LoginDialog::~LoginDialog()
{
    setBusy(false);
}

void LoginDialog::loadSettings()
{
    LoginSettings s = LoginSettings::load(settingsPath_);
    ip_ = s.ip;
    port_ = s.port;
    user_ = s.user;
    password_ = s.password;
    valuesToFields();
}

QLineEdit* LoginDialog::field(Field f) const
{
    switch (f) {
    case Field::Address: return ipEdit_;
    case Field::Port: return portEdit_;
    case Field::User: return userEdit_;
    case Field::Password: return passwordEdit_;
    }
    return nullptr;
}

QLabel* LoginDialog::label(Field f) const
{
    return labels_[int(f)];
}

QPushButton* LoginDialog::command(Command c) const
{
    return c == Command::Login    ? loginButton_
           : c == Command::Cancel ? cancelButton_
                                  : recordersButton_;
}

void LoginDialog::valuesToFields()
{
    ipEdit_->setText(QtText::from(ip_));
    portEdit_->setText(QString::number(port_));
    userEdit_->setText(QtText::from(user_));
    passwordEdit_->setText(QtText::from(password_));
}

void LoginDialog::fieldsToValues()
{
    ip_ = QtText::to(ipEdit_->text());
    port_ = portEdit_->text().toInt();   // digits only; an out-of-range number gives 0
    user_ = QtText::to(userEdit_->text());
    password_ = QtText::to(passwordEdit_->text());
}

void LoginDialog::setBusy(bool busy)
{
    if (busy == busy_)
        return;
    busy_ = busy;
    // The fields and Login wait; Cancel stays, to end the wait.
    for (QWidget* w : std::initializer_list<QWidget*>{ipEdit_, portEdit_, userEdit_, passwordEdit_,
                                                      loginButton_, recordersButton_})
        w->setEnabled(!busy);
    connecting_->setText(connectingText());
    connecting_->setVisible(busy);
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

QString LoginDialog::connectingText() const
{
    if (!busy_)
        return QString();
    return QtText::lang(u"LOGIN_WAIT") + QLatin1Char(' ') + QtText::from(ip_) + QLatin1Char(':') +
           QString::number(port_) + QStringLiteral("...");
}

void LoginDialog::onLoginCommand()
{
    if (busy_)
        return;   // a login is already on its way
    QString portText = portEdit_->text();
    if (portText.isEmpty()) {
        portText = QString::number(LoginSettings::kDefaultPort);
        portEdit_->setText(portText);
    }
    // A port no recorder can listen on is refused here, before anything is saved or sent:
    // the network would otherwise take it modulo 65536 and reach some other port.
    const LoginPort::Checked checked =
        LoginPort::check(QtText::to(portText), LoginSettings::kDefaultPort);
    if (!checked.ok()) {
        MessageBoxes::show(this, QtText::lang(checked.problemKey),
                           QtText::from(AppValues::productTitle()), MessageBoxes::Error);
        portEdit_->setFocus();
        portEdit_->selectAll();
        return;
    }
    fieldsToValues();
    port_ = checked.port;
    setBusy(true);
    LoginSettings::save(settingsPath_, ip_, QtText::to(portText), user_, password_);

    if (ip_.empty() || user_.empty()) {
        setBusy(false);
        MessageBoxes::show(this, QtText::lang(ip_.empty() ? u"IP_ISNULL" : u"U_NULL"),
                           QtText::from(AppValues::productTitle()), MessageBoxes::Error);
        return;
    }
    if (!connectToNetwork()) {
        setBusy(false);
        MessageBoxes::show(this, QtText::lang(u"INIT_NET_ERR"),
                           QtText::from(AppValues::productTitle()), MessageBoxes::Error);
        return;
    }
    // UTF-8 for the recorder, each text as long as it needs to be.
    const std::string host = toUtf8(ip_);
    const std::string user = toUtf8(user_);
    const std::string password = toUtf8(password_);
    if (postLogout)
        postLogout();
    if (postLogin)
        postLogin(host, port_, user, password);
}

void LoginDialog::onRecordersCommand()
{
    if (busy_)
        return;
    RecorderListDialog dlg(settingsPath_, this);
    dlg.exec();
}

void LoginDialog::onCancelCommand()
{
    if (busy_) {
        // The first Cancel ends the wait: the login's result is no longer awaited.
        setBusy(false);
        if (postCancelWait)
            postCancelWait();
        return;
    }
    cancelled_ = true;
    setBusy(false);
    QDialog::done(QDialog::Rejected);
}

QString LoginDialog::failureText(int code, int systemError)
{
    return QtText::lang(u"LOGIN_ERR") + QLatin1Char('\n') +
           QtText::lang(LoginFailure::key(code, systemError)) +
           QtText::from(LoginFailure::codeSuffix(code));
}

void LoginDialog::applyLoginResult(int code, int systemError)
{
    setBusy(false);
    ViewerLog::login(toUtf8(ip_), port_, code, systemError);
    if (code != 0) {
        MessageBoxes::show(this, failureText(code, systemError),
                           QtText::from(AppValues::productTitle()), MessageBoxes::Error);
        return;
    }
    QDialog::done(QDialog::Rejected);   // cancelled_ stays false: accepted
}

void LoginDialog::accept()
{
    onLoginCommand();
}

void LoginDialog::reject()
{
    onCancelCommand();
}

void LoginDialog::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: onLoginCommand(); return;
    case Qt::Key_Escape: reject(); return;
    default: QDialog::keyPressEvent(e);
    }
}

void LoginDialog::showEvent(QShowEvent* e)
{
    // The dialog fills the whole screen.
    if (const QRect whole = ScreenFit::area(*this, true); !whole.isEmpty())
        setGeometry(whole);
    setWindowState(windowState() | Qt::WindowFullScreen);
    QDialog::showEvent(e);
}

void LoginDialog::resizeEvent(QResizeEvent* e)
{
    QDialog::resizeEvent(e);
    layOut();
}

void LoginDialog::layOut()
{
    const int barHeight = loginButton_->sizeHint().height();
    bar_->setGeometry(0, height() - barHeight, width(), barHeight);

    const QString portText = QtText::lang(u"D_PORT");
    const QFontMetrics labelMetrics(labels_[1]->font());
    LoginLayout::Input in;
    in.client = Rect{0, 0, width(), height() - barHeight};
    in.fieldHeight = ipEdit_->sizeHint().height();
    in.portTextWidth = labelMetrics.horizontalAdvance(portText);
    in.portTextHeight = labelMetrics.height();
    in.dialogFontHeight = QFontMetrics(font()).height();
    const LoginLayout::Result r = LoginLayout::compute(in);
    QLineEdit* fields[4] = {ipEdit_, portEdit_, userEdit_, passwordEdit_};
    for (int i = 0; i < 4; ++i) {
        labels_[i]->setGeometry(r.labels[i].left, r.labels[i].top, r.labels[i].width(),
                                r.labels[i].height());
        fields[i]->setGeometry(r.fields[i].left, r.fields[i].top, r.fields[i].width(),
                               r.fields[i].height());
    }
    titleHeight_ = r.titleHeight;
    // The connecting line sits below the last field.
    const int below = r.fields[3].bottom + r.fields[3].height() / 2;
    connecting_->setGeometry(0, below, width(), std::max(0, height() - barHeight - below));
    QPixmap source(QStringLiteral(":/bitmaps/134"));
    band_ =
        source.isNull() || width() <= 0
            ? QPixmap()
            : source.scaled(width(), titleHeight_, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

void LoginDialog::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int W = width(), H = titleHeight_;
    p.fillRect(QRect(0, H, W, height() - H), kDark);
    TitleBand::paint(p, band_, W, H, kLabelText);
}

}   // namespace kevra
