#include "app/KeyTable.h"

namespace kevra {

namespace {
using K = KeyTable;
using C = KeyTable::Command;
using H = KeyTable::Hold;
}   // namespace

const std::vector<KeyTable::Binding>& KeyTable::bindings()
{
    // Letters work on the picture only: in the camera tree they find a camera by its first
    // letter. Digits choose the layout everywhere, as they always did.
    static const std::vector<Binding> table = {
        {C::Help, Everywhere, H::Once, u"KH_HELP_H", {{F1}, {'?'}}},
        {C::Login, Everywhere, H::Once, u"KH_LOGIN_H", {{F2}}},
        {C::Settings, Everywhere, H::Once, u"KH_SETTINGS_H", {{F10}}},
        {C::About, Everywhere, H::Once, u"KH_ABOUT_H", {{F12}}},
        {C::Exit, Everywhere, H::Once, u"KH_EXIT_H", {{'Q', Ctrl}}},
        {C::Layout1, Everywhere, H::Once, u"KH_LAYOUT1_H", {{'1'}}},
        {C::Layout4, Everywhere, H::Once, u"KH_LAYOUT4_H", {{'4'}}},
        {C::Layout9, Everywhere, H::Once, u"KH_LAYOUT9_H", {{'9'}}},
        {C::Layout16, Everywhere, H::Once, u"KH_LAYOUT16_H", {{'6'}}},
        {C::OpenCamera, Tree, H::Once, u"KH_OPEN_H", {{Return}, {Enter}, {' '}}},
        {C::BackToPicture, Tree, H::Once, u"KH_BACK_H", {{Escape}}},
        {C::FullScreen, Picture, H::Once, u"KH_FULL_H", {{'F'}, {F11}}},
        {C::CameraTree, Picture, H::Once, u"KH_TREE_H", {{'C'}}},
        {C::CycleLayout, Picture, H::Once, u"KH_CYCLE_H", {{'G'}}},
        {C::MoveLeft, Everywhere, H::Held, u"KH_MOVE_LEFT_H", {{Left}}},
        {C::MoveRight, Everywhere, H::Held, u"KH_MOVE_RIGHT_H", {{Right}}},
        {C::MoveUp, Everywhere, H::Held, u"KH_MOVE_UP_H", {{Up}}},
        {C::MoveDown, Everywhere, H::Held, u"KH_MOVE_DOWN_H", {{Down}}},
        {C::LensZoomIn, Picture, H::Held, u"KH_LENS_IN_H", {{'+'}}},
        {C::LensZoomOut, Picture, H::Held, u"KH_LENS_OUT_H", {{'-'}}},
        {C::FocusPlus, Picture, H::Held, u"KH_FOCUS_PLUS_H", {{PageUp}}},
        {C::FocusMinus, Picture, H::Held, u"KH_FOCUS_MINUS_H", {{PageDown}}},
        {C::IrisPlus, Picture, H::Held, u"KH_IRIS_PLUS_H", {{Home}}},
        {C::IrisMinus, Picture, H::Held, u"KH_IRIS_MINUS_H", {{End}}},
        {C::ZoomIn, Picture, H::Repeats, u"KH_DZOOM_IN_H", {{'+', Ctrl}}},
        {C::ZoomOut, Picture, H::Repeats, u"KH_DZOOM_OUT_H", {{'-', Ctrl}}},
        {C::ZoomReset, Picture, H::Once, u"KH_DZOOM_RESET_H", {{'0', Ctrl}, {'Z'}}},
        {C::PanLeft, Picture, H::Repeats, u"KH_PAN_LEFT_H", {{Left, Ctrl}}},
        {C::PanRight, Picture, H::Repeats, u"KH_PAN_RIGHT_H", {{Right, Ctrl}}},
        {C::PanUp, Picture, H::Repeats, u"KH_PAN_UP_H", {{Up, Ctrl}}},
        {C::PanDown, Picture, H::Repeats, u"KH_PAN_DOWN_H", {{Down, Ctrl}}},
        {C::SavePicture, Picture, H::Once, u"KH_SAVE_H", {{'S'}}},
        {C::Record, Picture, H::Once, u"KH_RECORD_H", {{'R'}}},
        {C::Tour, Picture, H::Once, u"KH_TOUR_H", {{'T'}}},
        {C::GridTour, Grid, H::Once, u"KH_GRID_TOUR_H", {{'T', Shift}}},
        {C::Stats, Picture, H::Once, u"KH_STATS_H", {{'I'}}},
        {C::LowLatency, Picture, H::Once, u"KH_LOWLAT_H", {{'L'}}},
        {C::SendToWall1, Picture, H::Once, u"KH_WALL1_H", {{'1', Alt}}},
        {C::SendToWall2, Picture, H::Once, u"KH_WALL2_H", {{'2', Alt}}},
        {C::SendToWall3, Picture, H::Once, u"KH_WALL3_H", {{'3', Alt}}},
        {C::SendToWall4, Picture, H::Once, u"KH_WALL4_H", {{'4', Alt}}},
        {C::WallLayout1, Everywhere, H::Once, u"KH_WALL_LAYOUT1_H", {{'1', Ctrl | Alt}}},
        {C::WallLayout2, Everywhere, H::Once, u"KH_WALL_LAYOUT2_H", {{'2', Ctrl | Alt}}},
        {C::WallLayout3, Everywhere, H::Once, u"KH_WALL_LAYOUT3_H", {{'3', Ctrl | Alt}}},
        {C::WallLayout4, Everywhere, H::Once, u"KH_WALL_LAYOUT4_H", {{'4', Ctrl | Alt}}},
        {C::WallTours, Everywhere, H::Once, u"KH_WALL_TOUR_H", {{'T', Alt}}},
        {C::NextTile, Grid, H::Repeats, u"KH_NEXT_TILE_H", {{Tab}}},
        {C::PreviousTile, Grid, H::Repeats, u"KH_PREV_TILE_H", {{Backtab}}},
        {C::TileAlone, Grid, H::Once, u"KH_ALONE_H", {{Return}, {Enter}}},
        {C::LeaveFullScreen, FullScreen, H::Once, u"KH_LEAVE_FULL_H", {{Escape}}},
    };
    return table;
}

const KeyTable::Binding* KeyTable::find(int key, int modifiers, int place)
{
    const int mods = modifiers & (Ctrl | Alt | Shift);
    // A chord naming Shift first; then the key as if Shift were not held.
    for (const int m : {mods, mods & ~Shift}) {
        for (const Binding& b : bindings()) {
            if (!(b.where & place))
                continue;
            for (const Chord& c : b.keys)
                if (c.key == key && c.modifiers == m)
                    return &b;
        }
    }
    return nullptr;
}

const KeyTable::Binding* KeyTable::binding(Command c)
{
    for (const Binding& b : bindings())
        if (b.command == c)
            return &b;
    return nullptr;
}

std::vector<KeyTable::Section> KeyTable::sections()
{
    std::vector<Section> out = {{Everywhere, u"KH_ALL_T", {}},
                                {Tree, u"KH_IN_TREE_T", {}},
                                {Picture, u"KH_ON_PICTURE_T", {}},
                                {Grid, u"KH_IN_GRID_T", {}},
                                {FullScreen, u"KH_IN_FULL_T", {}}};
    for (const Binding& b : bindings())
        for (Section& s : out)
            if (s.where == b.where)
                s.bindings.push_back(&b);
    return out;
}

std::u16string KeyTable::chordName(const Chord& c)
{
    std::u16string out;
    if (c.modifiers & Ctrl)
        out += u"Ctrl+";
    if (c.modifiers & Alt)
        out += u"Alt+";
    if (c.modifiers & Shift)
        out += u"Shift+";
    switch (c.key) {
    case Escape: return out + u"Esc";
    case Return: return out + u"Enter";
    case Enter: return out + u"Keypad Enter";
    case Tab: return out + u"Tab";
    case Backtab: return out + u"Shift+Tab";
    case F1: return out + u"F1";
    case F2: return out + u"F2";
    case F10: return out + u"F10";
    case F11: return out + u"F11";
    case F12: return out + u"F12";
    case Left: return out + u"\u2190";
    case Up: return out + u"\u2191";
    case Right: return out + u"\u2192";
    case Down: return out + u"\u2193";
    case PageUp: return out + u"PgUp";
    case PageDown: return out + u"PgDn";
    case Home: return out + u"Home";
    case End: return out + u"End";
    case ' ': return out + u"Space";
    default:
        if (c.key > 0 && c.key < 0x10000)
            out += char16_t(c.key);
        return out;
    }
}

std::u16string KeyTable::keysText(const Binding& b)
{
    std::u16string out;
    for (const Chord& c : b.keys) {
        if (!out.empty())
            out += u", ";
        out += chordName(c);
    }
    return out;
}

}   // namespace kevra
