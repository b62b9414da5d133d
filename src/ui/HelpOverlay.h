// The key help (F1 or ?): a dark layer over the whole main window listing, in the user's
// language, every key of KeyTable grouped by where it works. Arrow keys, Page Up/Down and the
// wheel scroll it on a small screen; any other key or a click closes it. Owned by the main
// window; user-interface thread.
#pragma once
#include <QStringList>
#include <QWidget>

namespace kevra {

class HelpOverlay : public QWidget {
    Q_OBJECT
public:
    explicit HelpOverlay(QWidget* parent);

    // Builds the lines from the key table and the language file, covers the parent and takes
    // the keyboard.
    void open();
    void close();
    // What is listed, one entry per line: "[heading]" or "keys<TAB>description".
    const QStringList& lines() const { return lines_; }
    int firstLine() const { return first_; }

signals:
    void closed();

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    int visibleLines() const;
    void scrollBy(int lines);

    QStringList lines_;
    int first_ = 0;
};

}   // namespace kevra
