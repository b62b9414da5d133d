// Qt's key events in the viewer's own key codes (KeyTable). Pure; user-interface thread.
#pragma once
#include <QKeyEvent>

namespace kevra {

class QtKeys {
public:
    // KeyTable's code of the event's key; 0 for a key no command uses.
    static int key(const QKeyEvent& e);
    // KeyTable's modifier bits (Ctrl, Alt); Shift and the keypad flag are left out.
    static int modifiers(const QKeyEvent& e);
};

}   // namespace kevra
