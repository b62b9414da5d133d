// The status row under the picture: what the coordinator says (the camera's state), a passing
// message for a few seconds (a picture saved, with where it went) after which the row says again
// what it said before, and the tour's state at its right end. Owned by the main window;
// user-interface thread only.
#pragma once
#include <QLabel>
#include <QTimer>

namespace kevra {

class StatusRow : public QLabel {
    Q_OBJECT
public:
    // How long a passing message stays.
    static constexpr int kPassingMs = 5000;

    explicit StatusRow(QWidget* parent);

    // What the coordinator says; ends a passing message.
    void showState(const QString& text);
    // A passing message.
    void showPassing(const QString& text);
    // A passing message naming a file: prefix, then the path with "~" for the home folder and its
    // middle left out when it is too long for the row; the whole path as the row's tip.
    void showFile(const QString& prefix, const QString& path);
    // The tour's state at the right end; empty hides it.
    void showTour(const QString& text);

private:
    QLabel* tour_;
    QTimer passing_;
    QString state_;   // what the coordinator last said
};

}   // namespace kevra
