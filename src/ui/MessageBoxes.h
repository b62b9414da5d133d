// Modal message boxes of the viewer (OK button only). Tests replace the handler so that no
// box blocks. User-interface thread only.
#pragma once
#include <QString>
#include <functional>

class QWidget;

namespace kevra {

class MessageBoxes {
public:
    enum Icon { Error, Information };
    using Handler = std::function<void(QWidget* parent, const QString& text, const QString& caption,
                                       Icon icon)>;

    static void show(QWidget* parent, const QString& text, const QString& caption, Icon icon);
    // The program's name, version and build date; and an error with the program's name as caption.
    static void about(QWidget* parent);
    static void error(QWidget* parent, const QString& text);
    // Replaces the platform message box (an empty handler restores it).
    static void setHandler(Handler handler);

private:
    static Handler handler_;   // empty: the platform message box
};

}   // namespace kevra
