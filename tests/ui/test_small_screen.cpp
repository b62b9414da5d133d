// A 240 x 320 screen in both languages: every dialog fits it with every control reachable (on
// the dialog, or in a scroll area that scrolls only up and down) and no text cut off, and the
// key help drops no part of any key's entry.
#include "common/Utf.h"
#include "profile/Language.h"
#include "ui/HelpOverlay.h"
#include "ui/LoginDialog.h"
#include "ui/QtText.h"
#include "ui/RecorderListDialog.h"
#include "ui/ScreenFit.h"
#include "ui/SettingsDialog.h"
#include "ui/support/UiTestSupport.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace kevra;
using namespace kevra::test;

namespace {

const QRect kScreen(0, 0, 240, 320);
const char* const kLanguages[] = {"/language_eng.ini", "/language_chn.ini"};

struct EachLanguage : ::testing::Test {
    std::u16string chosen = Language::filePath();
    void TearDown() override { Language::setFilePath(chosen); }
    void use(const char* file)
    {
        Language::setFilePath(fromUtf8(std::string(KEVRA_BIN_DIR) + file));
    }
};

// Where the user can reach c: inside the dialog, or inside a scroll area's contents as wide
// as its viewport.
void expectReachable(QWidget& dialog, QWidget* c)
{
    QWidget* viewport = nullptr;
    for (QWidget* p = c->parentWidget(); p && p != &dialog; p = p->parentWidget())
        if (auto* area = qobject_cast<QScrollArea*>(p)) {
            viewport = area->viewport();
            EXPECT_FALSE(area->horizontalScrollBar()->isVisible());
            break;
        }
    QWidget* frame = viewport ? viewport : &dialog;
    const QRect r(c->mapTo(frame, QPoint(0, 0)), c->size());
    const QString what = c->metaObject()->className() + QStringLiteral(" ") +
                         c->property("text").toString() + QStringLiteral(" in ") +
                         dialog.metaObject()->className();
    // Reachable by scrolling up or down, or on the dialog as it is.
    const bool reachable =
        viewport ? r.left() >= 0 && r.right() < viewport->width() : dialog.rect().contains(r);
    EXPECT_TRUE(reachable) << what.toStdString();
    // Its text whole.
    auto* b = qobject_cast<QAbstractButton*>(c);
    auto* l = qobject_cast<QLabel*>(c);
    const int textWidth = b && !b->text().isEmpty() ? b->fontMetrics().horizontalAdvance(b->text())
                          : l && !l->wordWrap()     ? l->sizeHint().width()
                                                    : 0;
    EXPECT_LE(textWidth, c->width()) << what.toStdString();
}

void expectFits(QWidget& dialog)
{
    ScreenFit::setScreenForTests(kScreen);
    dialog.show();
    pump(30);
    ScreenFit::setScreenForTests(QRect());
    if (dialog.isFullScreen()) {   // what a full screen of that size gives it
        dialog.setWindowState(Qt::WindowNoState);
        dialog.setGeometry(kScreen);
        pump(30);
    }
    EXPECT_LE(dialog.width(), kScreen.width()) << dialog.metaObject()->className();
    EXPECT_LE(dialog.height(), kScreen.height()) << dialog.metaObject()->className();
    for (QWidget* c : dialog.findChildren<QWidget*>())
        if (c->isVisibleTo(&dialog) &&
            (qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c) ||
             qobject_cast<QAbstractSpinBox*>(c) || qobject_cast<QComboBox*>(c) ||
             qobject_cast<QListWidget*>(c) || qobject_cast<QLabel*>(c)))
            expectReachable(dialog, c);
    dialog.hide();
}

}   // namespace

TEST_F(EachLanguage, EveryDialogFitsASmallScreen)
{
    const std::string dir = makeTempDir();
    for (const char* file : kLanguages) {
        SCOPED_TRACE(file);
        use(file);
        RecorderListDialog recorders(fromUtf8(dir + "login.ini"));
        expectFits(recorders);
        SettingsDialog settings(ViewerSettings{}, TourSettings{}, nullptr);
        expectFits(settings);
        LoginDialog login;
        expectFits(login);
    }
}

// A scroll area's own size hint is a few dozen lines: on a large screen the dialogs still show
// all of their fields without scrolling.
TEST(LargeScreen, NoDialogScrolls)
{
    const std::string dir = makeTempDir();
    RecorderListDialog recorders(fromUtf8(dir + "login.ini"));
    SettingsDialog settings(ViewerSettings{}, TourSettings{}, nullptr);
    for (QDialog* dialog : {static_cast<QDialog*>(&recorders), static_cast<QDialog*>(&settings)}) {
        ScreenFit::setScreenForTests(QRect(0, 0, 1024, 768));
        dialog->show();
        pump(30);
        ScreenFit::setScreenForTests(QRect());
        for (QScrollArea* area : dialog->findChildren<QScrollArea*>())
            EXPECT_FALSE(area->verticalScrollBar()->isVisible())
                << dialog->metaObject()->className();
        dialog->hide();
    }
}

TEST_F(EachLanguage, TheKeyHelpWrapsEveryEntryWhole)
{
    QWidget window;
    window.resize(kScreen.size());
    auto* help = new HelpOverlay(&window);
    for (const char* file : kLanguages) {
        SCOPED_TRACE(file);
        use(file);
        help->open();
        const QFontMetrics fm(help->font());
        const int width = help->width() - 16;
        const HelpOverlay::Columns c = HelpOverlay::columns(help->lines(), fm, width);
        const std::vector<HelpOverlay::Row> rows = HelpOverlay::rows(help->lines(), fm, c, width);
        // Every row fits its column, and the rows say all the entries say (spaces aside).
        QString keys, texts, want;
        for (const HelpOverlay::Row& r : rows) {
            EXPECT_LE(fm.horizontalAdvance(r.keys), c.keyWidth) << r.keys.toStdString();
            EXPECT_LE(fm.horizontalAdvance(r.text), r.heading ? width : c.textWidth)
                << r.text.toStdString();
            keys += r.keys;
            texts += r.text;
        }
        QString wantKeys, wantTexts;
        for (const QString& l : help->lines()) {
            if (l.startsWith('['))
                wantTexts += l.mid(1, l.size() - 2);
            else
                wantKeys += l.section('\t', 0, 0), wantTexts += l.section('\t', 1);
        }
        auto bare = [](QString s) { return s.remove(' '); };
        EXPECT_EQ(bare(keys), bare(wantKeys));
        EXPECT_EQ(bare(texts), bare(wantTexts));
        help->close();
    }
}
