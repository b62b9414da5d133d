#include "common/Utf.h"
#include "profile/LoginSettings.h"
#include "profile/RecorderList.h"
#include "ui/RecorderListDialog.h"
#include "tools/support/RecorderProcess.h"
#include "ui/support/UiTestSupport.h"
#include "ui/support/ViewerUnderTest.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace kevra;
using namespace kevra::test;

namespace {

using Field = RecorderListDialog::Field;
using Command = RecorderListDialog::Command;

void type(RecorderListDialog& d, const char* name, const char* address, const char* port)
{
    d.field(Field::Name)->setText(QString::fromUtf8(name));
    d.field(Field::Address)->setText(QString::fromUtf8(address));
    d.field(Field::Port)->setText(QString::fromUtf8(port));
}

}   // namespace

TEST(RecorderListDialog, AddChangeRemoveAreSavedAtOnceAndTheFirstRecorderIsLeftAlone)
{
    boxes().clear();
    const std::u16string ini = fromUtf8(makeTempDir() + "login.ini");
    ASSERT_EQ(LoginSettings::save(ini, u"10.0.0.5", u"34567", u"admin", u"a"), 1);

    RecorderListDialog d(ini);
    EXPECT_EQ(d.list()->count(), 0);
    EXPECT_FALSE(d.command(Command::Remove)->isEnabled());
    type(d, "Shop", "10.0.0.6", "8000");
    d.command(Command::Add)->click();
    type(d, "", "10.0.0.7", "");   // empty port: the default
    d.command(Command::Add)->click();
    ASSERT_EQ(d.list()->count(), 2);
    EXPECT_EQ(d.list()->item(0)->text(), QStringLiteral("Shop (10.0.0.6:8000)"));
    EXPECT_EQ(d.list()->item(1)->text(), QStringLiteral("10.0.0.7:34567"));
    std::vector<RecorderList::Recorder> saved = RecorderList::load(ini);
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[0].ip, u"10.0.0.5");
    EXPECT_EQ(saved[1], (RecorderList::Recorder{u"10.0.0.6", 8000, u"admin", u"580317", u"Shop"}));

    // Choosing a row fills the fields; Change replaces it, Remove takes it out.
    d.list()->setCurrentRow(0);
    EXPECT_EQ(d.field(Field::Address)->text(), QStringLiteral("10.0.0.6"));
    d.field(Field::Name)->setText(QStringLiteral("Shop 2"));
    d.command(Command::Change)->click();
    EXPECT_EQ(RecorderList::load(ini)[1].name, u"Shop 2");
    d.command(Command::Remove)->click();
    saved = RecorderList::load(ini);
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[1].ip, u"10.0.0.7");
    EXPECT_TRUE(d.changed());
    EXPECT_TRUE(boxes().empty());

    // A port out of range or a missing address is told and nothing is saved.
    type(d, "x", "10.0.0.8", "70000");
    d.command(Command::Add)->click();
    type(d, "x", "", "1");
    d.command(Command::Add)->click();
    EXPECT_EQ(boxes().size(), 2u);
    EXPECT_EQ(RecorderList::load(ini), saved);
}

TEST(RecorderListDialog, TheTreeShowsEveryRecorderWithItsStateAndKeepsTheCamerasOfOneAway)
{
    RecorderProcess first({"--cameras", "Gate&&Lobby"});
    RecorderProcess second({"--cameras", "Till&&Door&&Back"});
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(second.start());
    ViewerUnderTest v;
    ASSERT_EQ(RecorderList::save(fromUtf8(v.dir + "login.ini"),
                                 {{u"127.0.0.1", first.port(), u"admin", u"580317", u""},
                                  {u"127.0.0.1", second.port(), u"admin", u"580317", u"Shop"}}),
              1);
    ASSERT_TRUE(v.logIn(first.port()));
    QTreeWidget* tree = v.window->tree();
    const auto node = [&] {
        return tree->topLevelItemCount() == 2 ? tree->topLevelItem(1) : nullptr;
    };
    ASSERT_TRUE(waitUntil([&] {
        return node() && node()->text(0) == "Shop - connected" && node()->childCount() == 3;
    }));
    EXPECT_EQ(node()->child(2)->text(0), "Back");

    // The second recorder goes away: its entry counts down, the first one's cameras stay.
    second.kill();
    ASSERT_TRUE(waitUntil([&] {
        return node() && node()->text(0).startsWith("Shop - reconnecting");
    })) << node()->text(0).toStdString();
    EXPECT_EQ(node()->childCount(), 3);
    EXPECT_EQ(tree->topLevelItem(0)->childCount(), 2);
    v.window->stopShow();
}
