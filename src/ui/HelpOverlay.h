// The key help (F1 or ?): a dark layer over the whole main window listing, in the user's
// language, every key of KeyTable grouped by where it works, keys on the left and what they do on
// the right, each wrapped onto as many rows as it needs (nothing is cut off on a narrow
// screen). Arrow keys, Page Up/Down and the wheel scroll it on a small screen; any other key or
// a click closes it. Owned by the main
// window; user-interface thread.
#pragma once
#include <QStringList>
#include <QWidget>

#include <vector>

class QFontMetrics;

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

    // One drawn row: a heading, or a piece of an entry's keys and of its description.
    struct Row {
        bool heading = false;
        QString keys, text;
    };
    struct Columns {
        int keyWidth = 0;    // the keys' column
        int textWidth = 0;   // the descriptions'
    };
    // The columns for entries drawn in width pixels (margins left out): the keys' column as
    // wide as its widest entry, but at most 9/20 of the width.
    static Columns columns(const QStringList& lines, const QFontMetrics& fm, int width);
    // The rows of the entries, each side wrapped at spaces to its column (a word wider than its
    // column is cut off only then).
    static std::vector<Row> rows(const QStringList& lines, const QFontMetrics& fm, const Columns& c,
                                 int width);

signals:
    void closed();

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    int visibleLines() const;
    void scrollBy(int lines);
    int margin() const;

    QStringList lines_;
    std::vector<Row> rows_;   // for the current width
    int first_ = 0;           // the first row shown
};

}   // namespace kevra
