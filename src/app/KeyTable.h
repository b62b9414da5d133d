// The viewer's keyboard: every command a key reaches, the keys that reach it, where it works
// and the language key that describes it. The window's key handling and the help overlay read
// this one table, so the overlay lists exactly the keys that work. Pure data and look-ups; any
// thread.
#pragma once
#include <string>
#include <vector>

namespace kevra {

class KeyTable {
public:
    // Keys without a character of their own; a key with one is its character code (letters in
    // upper case, '+' for both '+' and '=').
    enum Key : int {
        Escape = 0x110000,
        Return,
        Enter,   // the keypad's
        Tab,
        Backtab,
        F1,
        F2,
        F10,
        F11,
        F12,
        Left,
        Up,
        Right,
        Down,
        PageUp,
        PageDown,
        Home,
        End
    };
    enum Modifier : int { Plain = 0, Ctrl = 1, Alt = 2, Shift = 4 };
    // Where a command works; the place of the window is Tree, Single or Grid, with FullScreen
    // added while the picture or grid fills the screen.
    enum Where : int {
        Tree = 1,
        Single = 2,
        Grid = 4,
        FullScreen = 8,
        Picture = Single | Grid,   // one camera or a grid, full screen or not
        Everywhere = Tree | Picture
    };
    // What a held key does: Once runs at the first press (the keyboard's repeats are ignored),
    // Repeats runs again at each repeat, Held starts a steady camera move that ends when the
    // key is released.
    enum class Hold { Once, Repeats, Held };

    enum class Command {
        Help,
        Login,
        Settings,
        About,
        Exit,
        Layout1,
        Layout4,
        Layout9,
        Layout16,
        CycleLayout,
        OpenCamera,
        BackToPicture,
        LeaveFullScreen,
        FullScreen,
        CameraTree,
        MoveLeft,
        MoveUp,
        MoveRight,
        MoveDown,
        LensZoomIn,
        LensZoomOut,
        FocusPlus,
        FocusMinus,
        IrisPlus,
        IrisMinus,
        ZoomIn,
        ZoomOut,
        ZoomReset,
        PanLeft,
        PanUp,
        PanRight,
        PanDown,
        SavePicture,
        Record,
        Tour,
        GridTour,
        NextTile,
        PreviousTile,
        TileAlone,
        Stats,
        LowLatency,
        SendToWall1,   // the framed camera to wall N's large tile
        SendToWall2,
        SendToWall3,
        SendToWall4,
        WallLayout1,   // wall N's next layout
        WallLayout2,
        WallLayout3,
        WallLayout4,
        WallTours
    };

    struct Chord {
        int key = 0;
        int modifiers = Plain;
    };
    struct Binding {
        Command command;
        int where;
        Hold hold;
        const char16_t* textKey;   // language key of the description
        std::vector<Chord> keys;
    };
    // A section of the help overlay: the commands that work in the same places.
    struct Section {
        int where;
        const char16_t* titleKey;
        std::vector<const Binding*> bindings;
    };

    static const std::vector<Binding>& bindings();
    // The binding a key reaches at a place (Where bits), nullptr when none. Shift counts only
    // for a chord that names it (Shift+T); other chords ignore it ('?' is a shifted key on most
    // keyboards).
    static const Binding* find(int key, int modifiers, int place);
    static const Binding* binding(Command c);
    // The overlay's sections in the order shown; every binding is in exactly one.
    static std::vector<Section> sections();
    // How a key is written in the overlay: "Ctrl++", "F1", "Esc", "←".
    static std::u16string chordName(const Chord& c);
    // All keys of a binding: "Enter, Space".
    static std::u16string keysText(const Binding& b);
};

}   // namespace kevra
