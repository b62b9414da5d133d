#include "common/Utf.h"
#include "profile/LoginSettings.h"
#include "ui/support/UiTestSupport.h"
#include "ui/LoginDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <set>
#include <iterator>

using namespace kevra;
using namespace kevra::test;

namespace {

struct Posted {
    int logouts = 0;
    int logins = 0;
    std::string host, user, password;
    int port = -1;
};

struct LoginDialogTest : ::testing::Test {
    std::string dir = makeTempDir();
    std::u16string ini = fromUtf8(dir + "login.ini");
    Posted posted;

    void SetUp() override
    {
        boxes().clear();
        LoginDialog::setConnectToNetwork(nullptr);
    }
    void TearDown() override { LoginDialog::setConnectToNetwork(nullptr); }

    std::unique_ptr<LoginDialog> make()
    {
        auto d = std::make_unique<LoginDialog>(nullptr);
        d->setSettingsPath(ini);
        d->loadSettings();
        d->postLogout = [this] { posted.logouts++; };
        d->postLogin = [this](const std::string& h, int p, const std::string& u,
                              const std::string& pw) {
            posted.logins++;
            posted.host = h;
            posted.port = p;
            posted.user = u;
            posted.password = pw;
        };
        return d;
    }
    // login.ini as UTF-8 text (the file is UTF-16LE).
    std::string iniText()
    {
        std::ifstream f(dir + "login.ini", std::ios::binary);
        std::string raw((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        std::u16string wide;
        for (size_t i = 0; i + 1 < raw.size(); i += 2)
            wide.push_back(char16_t(uint8_t(raw[i]) | uint8_t(raw[i + 1]) << 8));
        return toUtf8(wide);
    }
};

}   // namespace

TEST_F(LoginDialogTest, FirstStartShowsDefaultsAndLabelsFromTheLanguageFile)
{
    auto d = make();
    EXPECT_EQ(d->field(LoginDialog::Field::Address)->text(), "0.0.0.0");
    EXPECT_EQ(d->field(LoginDialog::Field::Port)->text(), "34567");
    EXPECT_EQ(d->field(LoginDialog::Field::User)->text(), "admin");
    EXPECT_EQ(d->field(LoginDialog::Field::Password)->text(), "580317");
    EXPECT_EQ(d->field(LoginDialog::Field::Password)->echoMode(), QLineEdit::Password);
    EXPECT_EQ(d->label(LoginDialog::Field::Port)->text(), lang(u"D_PORT"));
    EXPECT_FALSE(lang(u"D_PORT").isEmpty());
    EXPECT_EQ(d->command(LoginDialog::Command::Login)->text(), "Login");
    EXPECT_EQ(d->command(LoginDialog::Command::Cancel)->text(), "Cancel");
    EXPECT_FALSE(d->cancelled());
}

TEST_F(LoginDialogTest, PrefillsFromLoginIni)
{
    LoginSettings::save(ini, u"192.168.7.9", u"8000", u"operator", u"");
    auto d = make();
    EXPECT_EQ(d->field(LoginDialog::Field::Address)->text(), "192.168.7.9");
    EXPECT_EQ(d->field(LoginDialog::Field::Port)->text(), "8000");
    EXPECT_EQ(d->field(LoginDialog::Field::User)->text(), "operator");
    EXPECT_EQ(d->field(LoginDialog::Field::Password)->text(), "");
}

TEST_F(LoginDialogTest, EmptyPortIsRefilledSavedInOrderAndTheLoginIsPosted)
{
    auto d = make();
    d->field(LoginDialog::Field::Address)->setText("10.1.2.3");
    d->field(LoginDialog::Field::Port)->setText("");
    d->field(LoginDialog::Field::User)->setText(QString::fromUtf8("管理员"));
    d->field(LoginDialog::Field::Password)->setText("");
    d->onLoginCommand();
    EXPECT_EQ(d->field(LoginDialog::Field::Port)->text(), "34567");
    EXPECT_EQ(posted.logouts, 1);
    ASSERT_EQ(posted.logins, 1);
    EXPECT_EQ(posted.host, "10.1.2.3");
    EXPECT_EQ(posted.port, 34567);
    EXPECT_EQ(posted.user, "\xE7\xAE\xA1\xE7\x90\x86\xE5\x91\x98");   // whole UTF-8, 9 bytes
    EXPECT_EQ(posted.password, "");                                   // an empty password is sent
    EXPECT_TRUE(d->waiting());
    EXPECT_TRUE(boxes().empty());

    // All four values saved (LoginSettings writes them in the order IP0, Port0, User0, Pwd0).
    std::string text = iniText();
    size_t ip = text.find("IP0=10.1.2.3"), port = text.find("Port0=34567"),
           user = text.find("User0=\xE7\xAE\xA1"), pwd = text.find("Pwd0=");
    ASSERT_NE(ip, std::string::npos) << text;
    ASSERT_NE(port, std::string::npos) << text;
    ASSERT_NE(user, std::string::npos) << text;
    ASSERT_NE(pwd, std::string::npos) << text;

    // A second Login while waiting posts nothing more.
    d->onLoginCommand();
    EXPECT_EQ(posted.logins, 1);
}

TEST_F(LoginDialogTest, EmptyAddressIsReportedBeforeEmptyUserAndBothAreSaved)
{
    auto d = make();
    d->field(LoginDialog::Field::Address)->setText("");
    d->field(LoginDialog::Field::User)->setText("");
    d->onLoginCommand();
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, lang(u"IP_ISNULL"));
    EXPECT_EQ(boxes()[0].caption, "KEVRA");
    EXPECT_EQ(posted.logins, 0);
    EXPECT_FALSE(d->waiting());
    std::string text = iniText();
    EXPECT_NE(text.find("IP0=\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("User0=\r\n"), std::string::npos) << text;

    d->field(LoginDialog::Field::Address)->setText("1.2.3.4");
    d->onLoginCommand();
    ASSERT_EQ(boxes().size(), 2u);
    EXPECT_EQ(boxes()[1].text, lang(u"U_NULL"));
    EXPECT_EQ(posted.logins, 0);
}

// A port no recorder can listen on is refused with the reason, before anything is saved or
// sent (the network would take 106537 as 41001).
TEST_F(LoginDialogTest, PortOutsideTheRangeIsRefusedAndNeverSaved)
{
    LoginSettings::save(ini, u"10.0.0.1", u"8000", u"admin", u"");
    auto d = make();
    for (const char* wrong : {"106537", "0", "65536"}) {
        boxes().clear();
        d->field(LoginDialog::Field::Port)->setText(wrong);
        d->onLoginCommand();
        ASSERT_EQ(boxes().size(), 1u) << wrong;
        EXPECT_EQ(boxes()[0].text, lang(u"PORT_RANGE"));
        EXPECT_FALSE(d->waiting());
        EXPECT_EQ(posted.logouts + posted.logins, 0);
        EXPECT_NE(iniText().find("Port0=8000"), std::string::npos) << iniText();
    }
    d->field(LoginDialog::Field::Port)->setText("65535");
    d->onLoginCommand();
    EXPECT_EQ(posted.port, 65535);
    EXPECT_NE(iniText().find("Port0=65535"), std::string::npos) << iniText();
}

TEST_F(LoginDialogTest, FailedNetworkConnectionShowsInitNetErrAndPostsNothing)
{
    LoginDialog::setConnectToNetwork([] { return false; });
    auto d = make();
    d->onLoginCommand();
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, lang(u"INIT_NET_ERR"));
    EXPECT_EQ(posted.logouts + posted.logins, 0);
    EXPECT_FALSE(d->waiting());
}

TEST_F(LoginDialogTest, LoginResultRefusedKeepsTheDialogAcceptedClosesIt)
{
    auto d = make();
    d->open();
    d->field(LoginDialog::Field::User)->setText("someone");
    d->onLoginCommand();
    ASSERT_TRUE(d->waiting());
    d->applyLoginResult(0x1003);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, lang(u"LOGIN_ERR") + "\n" + lang(u"LOGIN_ERR_PASSWD") + " (0x1003)");
    EXPECT_TRUE(d->isVisible());
    EXPECT_FALSE(d->waiting());
    EXPECT_EQ(d->field(LoginDialog::Field::User)->text(), "someone");

    d->onLoginCommand();   // another attempt posts logout and login again
    EXPECT_EQ(posted.logouts, 2);
    EXPECT_EQ(posted.logins, 2);
    d->applyLoginResult(0);
    EXPECT_FALSE(d->isVisible());
    EXPECT_FALSE(d->cancelled());
    EXPECT_EQ(d->result(), int(QDialog::Rejected));
}

TEST_F(LoginDialogTest, EnterRunsLoginAndEscapeRunsCancel)
{
    auto d = make();
    d->open();
    QTest::keyClick(d->field(LoginDialog::Field::Address), Qt::Key_Return);
    EXPECT_EQ(posted.logins, 1);
    EXPECT_TRUE(d->isVisible());   // never closed as if the login had been accepted
    EXPECT_FALSE(d->cancelled());
    d->applyLoginResult(1);   // refused: fields editable again
    QTest::keyClick(d->field(LoginDialog::Field::Address), Qt::Key_Escape);
    EXPECT_FALSE(d->isVisible());
    EXPECT_TRUE(d->cancelled());
}

TEST_F(LoginDialogTest, CancelWhileALoginWaitsEndsTheWaitThenCancelSetsTheFlag)
{
    auto d = make();
    int waitsEnded = 0;
    d->postCancelWait = [&] { ++waitsEnded; };
    d->open();
    d->onLoginCommand();
    ASSERT_TRUE(d->waiting());
    EXPECT_TRUE(d->connectingText().startsWith(lang(u"LOGIN_WAIT") + " 0.0.0.0:34567"));
    EXPECT_TRUE(d->command(LoginDialog::Command::Cancel)->isEnabled());
    EXPECT_FALSE(d->command(LoginDialog::Command::Login)->isEnabled());
    d->command(LoginDialog::Command::Cancel)->click();
    EXPECT_EQ(waitsEnded, 1);
    EXPECT_FALSE(d->waiting());
    EXPECT_TRUE(d->isVisible());
    EXPECT_FALSE(d->cancelled());
    d->command(LoginDialog::Command::Cancel)->click();
    EXPECT_TRUE(d->cancelled());
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(posted.logins, 1);
}

TEST_F(LoginDialogTest, RowsAreLaidOutFromTheFontMetrics)
{
    auto d = make();
    d->resize(240, 320);
    d->show();
    ASSERT_TRUE(waitUntil([&] { return d->titleHeight() > 0; }));
    const int h = d->field(LoginDialog::Field::Address)->height();
    // Four rows, equal pitch h + 8, labels at x = 5, fields right of them to the edge - 5.
    for (LoginDialog::Field f :
         {LoginDialog::Field::Port, LoginDialog::Field::User, LoginDialog::Field::Password})
        EXPECT_EQ(d->field(f)->height(), h);
    EXPECT_EQ(d->field(LoginDialog::Field::Port)->y() - d->field(LoginDialog::Field::Address)->y(),
              h + 8);
    EXPECT_EQ(d->field(LoginDialog::Field::Password)->y() - d->field(LoginDialog::Field::User)->y(),
              h + 8);
    EXPECT_EQ(d->label(LoginDialog::Field::Address)->x(), 5);
    const QRect f = d->field(LoginDialog::Field::Address)->geometry();
    EXPECT_EQ(f.x() + f.width(), d->width() - 5);
    EXPECT_EQ(d->titleHeight(), QFontMetrics(d->font()).height() + 12);
    d->command(LoginDialog::Command::Cancel)->click();
}

// The failure message keeps the general text as its first line; the second names the kind
// of failure, each kind its own text, and ends with the code.
TEST(LoginFailureText, SecondLineNamesTheFailureWithItsCode)
{
    struct Case {
        int code;
        int systemError;
        const char16_t* key;
        const char* hex;
    } cases[] = {
        {0x1003, 0, u"LOGIN_ERR_PASSWD", "0x1003"},
        {0x1002, 0, u"LOGIN_ERR_USER", "0x1002"},
        {0x1001, 0, u"LOGIN_ERR_REFUSED", "0x1001"},
        {0x1006, 0, u"LOGIN_ERR_REFUSED", "0x1006"},
        {0x4, 0, u"LOGIN_ERR_REFUSED", "0x4"},
        {0x1004, 0, u"LOGIN_ERR_TIMEOUT", "0x1004"},
        {0x100E, 0, u"LOGIN_ERR_REFUSED", "0x100E"},
        {0x100A, ECONNREFUSED, u"LOGIN_ERR_CONN_REFUSED", "0x100A"},
        {0x100A, ETIMEDOUT, u"LOGIN_ERR_NO_ANSWER", "0x100A"},
        {0x100A, 0, u"LOGIN_ERR_CONNECT", "0x100A"},
        {0x100A, EINVAL, u"PORT_RANGE", "0x100A"},
        {0x100D, 0, u"LOGIN_ERR_HOST", "0x100D"},
        {0x100B, 0, u"LOGIN_ERR_SEND", "0x100B"},
        {0x4242, 0, u"LOGIN_ERR_OTHER", "0x4242"},
    };
    std::set<QString> texts;
    for (const Case& c : cases) {
        const QStringList lines = LoginDialog::failureText(c.code, c.systemError).split('\n');
        ASSERT_EQ(lines.size(), 2);
        EXPECT_EQ(lines[0], lang(u"LOGIN_ERR"));
        EXPECT_FALSE(lang(c.key).isEmpty());
        EXPECT_EQ(lines[1], lang(c.key) + " (" + c.hex + ")");
        texts.insert(lang(c.key));
    }
    EXPECT_EQ(texts.size(), 11u) << "two kinds read the same";
    EXPECT_EQ(LoginDialog::failureText(0x100A, ECONNREFUSED).split('\n')[1],
              "Connection refused: wrong port? (0x100A)");
}
