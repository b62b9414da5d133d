#include "app/KeyTable.h"
#include "profile/Language.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace kevra;
using K = KeyTable;
using C = KeyTable::Command;

namespace {

C commandAt(int key, int mods, int place)
{
    const K::Binding* b = K::find(key, mods, place);
    return b ? b->command : C(-1);
}

}   // namespace

TEST(KeyTable, KeysReachTheirCommandsOnlyWhereTheyWork)
{
    struct Case {
        int key, mods, place;
        C expected;
    };
    const Case cases[] = {
        {K::Return, K::Plain, K::Tree, C::OpenCamera},
        {K::Enter, K::Plain, K::Tree, C::OpenCamera},
        {' ', K::Plain, K::Tree, C::OpenCamera},
        {K::Escape, K::Plain, K::Tree, C::BackToPicture},
        {K::Escape, K::Plain, K::Single | K::FullScreen, C::LeaveFullScreen},
        {K::Escape, K::Plain, K::Grid | K::FullScreen, C::LeaveFullScreen},
        {K::Escape, K::Plain, K::Single, C(-1)},   // nothing to leave: not Exit either
        {'6', K::Plain, K::Tree, C::Layout16},
        {'6', K::Plain, K::Grid, C::Layout16},
        {'?', K::Plain, K::Grid | K::FullScreen, C::Help},
        {K::F1, K::Plain, K::Tree, C::Help},
        {'S', K::Plain, K::Single, C::SavePicture},
        {'S', K::Plain, K::Tree, C(-1)},   // the tree finds cameras by their first letter
        {'+', K::Plain, K::Single, C::LensZoomIn},
        {'+', K::Ctrl, K::Single, C::ZoomIn},
        {K::Left, K::Plain, K::Tree, C::MoveLeft},
        {K::Left, K::Ctrl, K::Grid, C::PanLeft},
        {K::Return, K::Plain, K::Grid, C::TileAlone},
        {K::Return, K::Plain, K::Single, C(-1)},
        {K::Tab, K::Plain, K::Single, C(-1)},
        {K::Tab, K::Plain, K::Grid | K::FullScreen, C::NextTile},
        {'T', K::Plain, K::Grid, C::Tour},
        {'T', K::Shift, K::Grid | K::FullScreen, C::GridTour},
        {'T', K::Shift, K::Single, C::Tour},   // Shift counts only where a chord names it
        {K::Backtab, K::Shift, K::Grid, C::PreviousTile},
        {'Q', K::Ctrl, K::Tree, C::Exit},
        {'Q', K::Plain, K::Single, C(-1)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(commandAt(c.key, c.mods, c.place), c.expected)
            << std::string(K::chordName({c.key, c.mods}).begin(),
                           K::chordName({c.key, c.mods}).end())
            << " at " << c.place;
}

TEST(KeyTable, EveryChordIsUniqueWhereItWorksAndEveryBindingIsInOneOverlaySection)
{
    // One key at one place reaches one command: no binding is shadowed by an earlier one.
    for (const K::Binding& b : K::bindings())
        for (const K::Chord& c : b.keys)
            for (int place : {int(K::Tree), int(K::Single), int(K::Grid), K::Single | K::FullScreen,
                              K::Grid | K::FullScreen}) {
                if (b.where & place) {
                    EXPECT_EQ(K::find(c.key, c.modifiers, place), &b);
                }
            }
    size_t listed = 0;
    std::set<const K::Binding*> seen;
    for (const K::Section& s : K::sections())
        for (const K::Binding* b : s.bindings) {
            EXPECT_TRUE(seen.insert(b).second);
            ++listed;
        }
    EXPECT_EQ(listed, K::bindings().size());
}

TEST(KeyTable, EveryTextIsInBothLanguageFiles)
{
    for (const char* file : {"/language_eng.ini", "/language_chn.ini"}) {
        const std::string path = std::string(KEVRA_BIN_DIR) + file;
        Language::setFilePath(std::u16string(path.begin(), path.end()));
        EXPECT_FALSE(Language::text(u"KH_TITLE_T").empty()) << file;
        for (const K::Section& s : K::sections())
            EXPECT_FALSE(Language::text(s.titleKey).empty()) << file;
        for (const K::Binding& b : K::bindings())
            EXPECT_FALSE(Language::text(b.textKey).empty()) << file;
    }
    Language::setFilePath(u"");
    EXPECT_EQ(K::keysText(*K::binding(C::OpenCamera)), u"Enter, Keypad Enter, Space");
    EXPECT_EQ(K::chordName({'+', K::Ctrl}), u"Ctrl++");
}
