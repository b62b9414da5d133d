#include "ui/CDlgLogin.h"

#include "app/AppValues.h"
#include "app/LoginFailure.h"
#include "app/LoginLayout.h"
#include "app/LoginPort.h"
#include "app/ViewerLog.h"
#include "common/Utf.h"
#include "profile/LoginSettings.h"
#include "ui/MessageBoxes.h"
#include "ui/QtText.h"
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

bool CDlgLogin::connectToNetwork()
{
    return connectHook() ? connectHook()() : true;
}

void CDlgLogin::setConnectToNetwork(std::function<bool()> fn)
{
    connectHook() = std::move(fn);
}

CDlgLogin::CDlgLogin(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    settingsPath_ = LoginSettings::pathIn(AppValues::settingsFolder());

    // Tab order: address, port, user name, password.
    auto makeEdit = [this](int id) {
        auto* e = new QLineEdit(this);
        e->setProperty("controlId", id);
        return e;
    };
    ip_ = makeEdit(IpField);
    port_ = makeEdit(PortField);
    port_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,9}"), port_));
    user_ = makeEdit(UserField);
    password_ = makeEdit(PasswordField);
    password_->setEchoMode(QLineEdit::Password);
    const int labelIds[4] = {IpLabel, PortLabel, UserLabel, PasswordLabel};
    const char16_t* labelKeys[4] = {u"D_IP", u"D_PORT", u"U_NAME", u"PASSWORD"};
    for (int i = 0; i < 4; ++i) {
        labels_[i] = new QLabel(QtText::lang(labelKeys[i]), this);
        labels_[i]->setProperty("controlId", labelIds[i]);
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
    loginButton_->setProperty("controlId", int(LoginButton));
    cancelButton_->setProperty("controlId", int(CancelButton));
    bar_->setStyleSheet(QStringLiteral(
        "QPushButton { background: rgb(44, 46, 45); color: rgb(220, 220, 220);"
        " border: 1px solid rgb(16, 16, 16); border-top-color: rgb(80, 84, 82); padding: 4px; }"
        "QPushButton:pressed { background: rgb(30, 30, 30); }"
        "QPushButton:disabled { color: rgb(110, 110, 110); }"));
    for (QPushButton* b : {loginButton_, cancelButton_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        b->setFocusPolicy(Qt::NoFocus);
        row->addWidget(b);
    }
    connect(loginButton_, &QPushButton::clicked, this, &CDlgLogin::onLoginCommand);
    connect(cancelButton_, &QPushButton::clicked, this, &CDlgLogin::onCancelCommand);

    loadSettings();
    cancelled_ = 0;
    ip_->setFocus();
}

CDlgLogin::~CDlgLogin()
{
    setBusy(false);
}

void CDlgLogin::loadSettings()
{
    LoginSettings s = LoginSettings::load(settingsPath_);
    address_ = s.ip;
    portNumber_ = s.port;
    userName_ = s.user;
    passwordText_ = s.password;
    membersToFields();
}

QLineEdit* CDlgLogin::field(int id) const
{
    switch (id) {
    case IpField: return ip_;
    case PortField: return port_;
    case UserField: return user_;
    case PasswordField: return password_;
    default: return nullptr;
    }
}

QLabel* CDlgLogin::label(int id) const
{
    if (id >= IpLabel && id <= PasswordLabel)
        return labels_[id - IpLabel];
    return nullptr;
}

QPushButton* CDlgLogin::command(int id) const
{
    return id == LoginButton ? loginButton_ : id == CancelButton ? cancelButton_ : nullptr;
}

void CDlgLogin::membersToFields()
{
    ip_->setText(QtText::from(address_));
    port_->setText(QString::number(portNumber_));
    user_->setText(QtText::from(userName_));
    password_->setText(QtText::from(passwordText_));
}

void CDlgLogin::fieldsToMembers()
{
    address_ = QtText::to(ip_->text());
    portNumber_ = port_->text().toInt();   // digits only; an out-of-range number gives 0
    userName_ = QtText::to(user_->text());
    passwordText_ = QtText::to(password_->text());
}

void CDlgLogin::setBusy(bool busy)
{
    if (busy == busy_)
        return;
    busy_ = busy;
    // The fields and Login wait; Cancel stays, to end the wait.
    for (QWidget* w : std::initializer_list<QWidget*>{ip_, port_, user_, password_, loginButton_})
        w->setEnabled(!busy);
    connecting_->setText(connectingText());
    connecting_->setVisible(busy);
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

QString CDlgLogin::connectingText() const
{
    if (!busy_)
        return QString();
    return QtText::lang(u"LOGIN_WAIT") + QLatin1Char(' ') + QtText::from(address_) +
           QLatin1Char(':') + QString::number(portNumber_) + QStringLiteral("...");
}

void CDlgLogin::onLoginCommand()
{
    if (busy_)
        return;   // a login is already on its way
    QString portText = port_->text();
    if (portText.isEmpty()) {
        portText = QString::number(LoginSettings::kDefaultPort);
        port_->setText(portText);
    }
    // A port no recorder can listen on is refused here, before anything is saved or sent:
    // the network would otherwise take it modulo 65536 and reach some other port.
    const LoginPort::Checked port =
        LoginPort::check(QtText::to(portText), LoginSettings::kDefaultPort);
    if (!port.ok()) {
        MessageBoxes::show(this, QtText::lang(port.problemKey),
                           QtText::from(AppValues::productTitle()), MessageBoxes::Error);
        port_->setFocus();
        port_->selectAll();
        return;
    }
    fieldsToMembers();
    portNumber_ = port.port;
    setBusy(true);
    LoginSettings::save(settingsPath_, address_, QtText::to(portText), userName_, passwordText_);

    if (address_.empty() || userName_.empty()) {
        setBusy(false);
        MessageBoxes::show(this, QtText::lang(address_.empty() ? u"IP_ISNULL" : u"U_NULL"),
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
    const std::string host = toUtf8(address_);
    const std::string user = toUtf8(userName_);
    const std::string password = toUtf8(passwordText_);
    if (postLogout)
        postLogout();
    if (postLogin)
        postLogin(host, portNumber_, user, password, 10000);
}

void CDlgLogin::onCancelCommand()
{
    if (busy_) {
        // The first Cancel ends the wait: the login's result is no longer awaited.
        setBusy(false);
        if (postCancelWait)
            postCancelWait();
        return;
    }
    cancelled_ = 1;
    setBusy(false);
    QDialog::done(QDialog::Rejected);
}

QString CDlgLogin::failureText(int code, int systemError)
{
    return QtText::lang(u"LOGIN_ERR") + QLatin1Char('\n') +
           QtText::lang(LoginFailure::key(code, systemError)) +
           QtText::from(LoginFailure::codeSuffix(code));
}

void CDlgLogin::applyLoginResult(int code, int systemError)
{
    setBusy(false);
    ViewerLog::login(toUtf8(address_), portNumber_, code, systemError);
    if (code != 0) {
        MessageBoxes::show(this, failureText(code, systemError),
                           QtText::from(AppValues::productTitle()), MessageBoxes::Error);
        return;
    }
    QDialog::done(QDialog::Rejected);   // cancelled_ stays 0: accepted
}

void CDlgLogin::accept()
{
    onLoginCommand();
}

void CDlgLogin::reject()
{
    onCancelCommand();
}

void CDlgLogin::keyPressEvent(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: onLoginCommand(); return;
    case Qt::Key_Escape: reject(); return;
    default: QDialog::keyPressEvent(e);
    }
}

void CDlgLogin::showEvent(QShowEvent* e)
{
    // The dialog fills the whole screen.
    if (QScreen* s = screen())
        setGeometry(s->geometry());
    setWindowState(windowState() | Qt::WindowFullScreen);
    QDialog::showEvent(e);
}

void CDlgLogin::resizeEvent(QResizeEvent* e)
{
    QDialog::resizeEvent(e);
    layOut();
}

void CDlgLogin::layOut()
{
    const int barHeight = loginButton_->sizeHint().height();
    bar_->setGeometry(0, height() - barHeight, width(), barHeight);

    const QString portText = QtText::lang(u"D_PORT");
    const QFontMetrics labelMetrics(labels_[1]->font());
    LoginLayout::Input in;
    in.client = Rect{0, 0, width(), height() - barHeight};
    in.fieldHeight = ip_->sizeHint().height();
    in.portTextWidth = labelMetrics.horizontalAdvance(portText);
    in.portTextHeight = labelMetrics.height();
    in.dialogFontHeight = QFontMetrics(font()).height();
    const LoginLayout::Result r = LoginLayout::compute(in);
    QLineEdit* fields[4] = {ip_, port_, user_, password_};
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

void CDlgLogin::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int W = width(), H = titleHeight_;
    p.fillRect(QRect(0, H, W, height() - H), kDark);
    TitleBand::paint(p, band_, W, H, kLabelText);
}

}   // namespace kevra
