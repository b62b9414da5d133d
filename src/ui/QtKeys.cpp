#include "ui/QtKeys.h"

#include "app/KeyTable.h"

namespace kevra {

int QtKeys::key(const QKeyEvent& e)
{
    switch (e.key()) {
    case Qt::Key_Escape: return KeyTable::Escape;
    case Qt::Key_Return: return KeyTable::Return;
    case Qt::Key_Enter: return KeyTable::Enter;
    case Qt::Key_Tab: return KeyTable::Tab;
    case Qt::Key_Backtab: return KeyTable::Backtab;
    case Qt::Key_F1: return KeyTable::F1;
    case Qt::Key_F2: return KeyTable::F2;
    case Qt::Key_F10: return KeyTable::F10;
    case Qt::Key_F11: return KeyTable::F11;
    case Qt::Key_F12: return KeyTable::F12;
    case Qt::Key_Left: return KeyTable::Left;
    case Qt::Key_Up: return KeyTable::Up;
    case Qt::Key_Right: return KeyTable::Right;
    case Qt::Key_Down: return KeyTable::Down;
    case Qt::Key_PageUp: return KeyTable::PageUp;
    case Qt::Key_PageDown: return KeyTable::PageDown;
    case Qt::Key_Home: return KeyTable::Home;
    case Qt::Key_End: return KeyTable::End;
    case Qt::Key_Equal: return '+';   // the unshifted '+' key of most keyboards
    default: break;
    }
    // Printable keys: Qt's code is the character (letters in upper case).
    return e.key() > 0x20 && e.key() < 0x7F ? e.key() : e.key() == Qt::Key_Space ? ' ' : 0;
}

int QtKeys::modifiers(const QKeyEvent& e)
{
    int m = KeyTable::Plain;
    if (e.modifiers() & Qt::ControlModifier)
        m |= KeyTable::Ctrl;
    if (e.modifiers() & Qt::AltModifier)
        m |= KeyTable::Alt;
    if (e.modifiers() & Qt::ShiftModifier)
        m |= KeyTable::Shift;
    return m;
}

}   // namespace kevra
