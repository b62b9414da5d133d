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
    // Replaces the platform message box (an empty handler restores it).
    static void setHandler(Handler handler);
};

}   // namespace kevra
