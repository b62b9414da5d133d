// Draws the viewer's bitmaps and icons and writes them, with a Qt resource list, into the
// folder given as the only argument. Run at build time; nothing here is copied from anywhere.
// Ids: 132/133 bar button, 134 title band (50 x 44, 24 bits), 135 plain panel face,
// 136/141 label face, 144/139 left arrow, 143/140 right arrow, 145/138 plus, 142/137 minus
// (normal/pressed), 149/150 layout control (normal/pressed); icons 128 program, 146 idle camera, 147 recorder, 148 open camera.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTextStream>

#include <cstdio>
#include <functional>

namespace {

const QColor kBackground(24, 24, 24);
const QColor kInk(200, 200, 200);
const QColor kInkPressed(255, 255, 255);
const QColor kEdge(45, 50, 46);
const QColor kAccent(96, 170, 140);

QImage canvas(int w, int h, QImage::Format f = QImage::Format_RGB32)
{
    QImage img(w, h, f);
    img.fill(f == QImage::Format_ARGB32 ? QColor(0, 0, 0, 0) : kBackground);
    return img;
}

QImage barButton(bool pressed)
{
    QImage img = canvas(48, 26);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 26);
    g.setColorAt(0, pressed ? QColor(30, 30, 30) : QColor(62, 64, 63));
    g.setColorAt(1, pressed ? QColor(50, 52, 51) : QColor(34, 35, 34));
    p.fillRect(img.rect(), g);
    p.setPen(pressed ? QColor(20, 20, 20) : QColor(88, 92, 90));
    p.drawLine(0, 0, 47, 0);
    p.setPen(QColor(14, 14, 14));
    p.drawLine(47, 0, 47, 25);
    p.drawLine(0, 25, 47, 25);
    if (pressed) {
        p.setPen(kAccent);
        p.drawLine(2, 24, 45, 24);
    }
    return img;
}

QImage titleBand()
{
    QImage img(50, 44, QImage::Format_RGB888);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 44);
    g.setColorAt(0, QColor(52, 55, 54));
    g.setColorAt(0.6, QColor(32, 33, 33));
    g.setColorAt(1, kBackground);
    p.fillRect(img.rect(), g);
    p.setPen(kEdge);
    p.drawLine(0, 43, 49, 43);
    p.setPen(QColor(70, 74, 72));
    p.drawLine(0, 0, 49, 0);
    return img;
}

QImage plainFace()
{
    QImage img = canvas(32, 32);
    QPainter p(&img);
    p.setPen(kEdge);
    p.drawRect(0, 0, 31, 31);
    return img;
}

QImage labelFace(bool pressed)
{
    QImage img = canvas(70, 24);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(pressed ? kAccent : QColor(78, 82, 80), 1));
    p.setBrush(pressed ? QColor(58, 62, 60) : QColor(38, 39, 39));
    p.drawRoundedRect(QRectF(1.5, 1.5, 67, 21), 6, 6);
    return img;
}

// A round key with a symbol drawn by `symbol` in the given colour.
QImage roundKey(bool pressed, const std::function<void(QPainter&, const QColor&)>& symbol)
{
    QImage img = canvas(32, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(pressed ? kAccent : QColor(70, 74, 72), 1.5));
    p.setBrush(pressed ? QColor(60, 64, 62) : QColor(36, 37, 37));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    symbol(p, pressed ? kInkPressed : kInk);
    return img;
}

void triangle(QPainter& p, const QColor& c, bool left)
{
    QPolygonF t;
    if (left)
        t << QPointF(9, 16) << QPointF(20, 9) << QPointF(20, 23);
    else
        t << QPointF(23, 16) << QPointF(12, 9) << QPointF(12, 23);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(t);
}

void bar(QPainter& p, const QColor& c, bool vertical)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(9, 14.5, 14, 3), 1, 1);
    if (vertical)
        p.drawRoundedRect(QRectF(14.5, 9, 3, 14), 1, 1);
}

// Face of the layout control at the status row's right end (twice as wide as high): a small
// 2 x 2 grid of panes.
QImage layoutFace(bool pressed)
{
    QImage img = canvas(40, 20);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(pressed ? kAccent : QColor(78, 82, 80), 1));
    p.setBrush(pressed ? QColor(58, 62, 60) : QColor(38, 39, 39));
    p.drawRoundedRect(QRectF(1.5, 1.5, 37, 17), 5, 5);
    p.setPen(Qt::NoPen);
    p.setBrush(pressed ? kInkPressed : kInk);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c)
            p.drawRect(QRectF(13 + c * 7.5, 4.5 + r * 5.5, 6, 4.5));
    return img;
}

// Tree icons, 16 x 16 with transparency.
QImage camera(bool open)
{
    QImage img = canvas(16, 16, QImage::Format_ARGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QColor body = open ? QColor(210, 214, 212) : QColor(130, 132, 131);
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawRoundedRect(QRectF(1, 4, 10, 8), 1.5, 1.5);
    QPolygonF snout;
    snout << QPointF(11, 7) << QPointF(15, 5) << QPointF(15, 11) << QPointF(11, 9);
    p.drawPolygon(snout);
    p.setBrush(open ? kAccent : QColor(70, 72, 71));
    p.drawEllipse(QRectF(3.5, 6, 4, 4));
    return img;
}

QImage recorder()
{
    QImage img = canvas(16, 16, QImage::Format_ARGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(150, 154, 152), 1));
    p.setBrush(QColor(60, 63, 62));
    p.drawRoundedRect(QRectF(0.5, 4.5, 15, 8), 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawEllipse(QRectF(2.5, 7.5, 2, 2));
    p.setBrush(QColor(170, 172, 171));
    p.drawRect(QRectF(7, 8, 6, 1));
    return img;
}

QImage programIcon()
{
    QImage img = canvas(32, 32, QImage::Format_ARGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(80, 86, 83), 1));
    p.setBrush(QColor(34, 36, 35));
    p.drawRoundedRect(QRectF(0.5, 0.5, 31, 31), 6, 6);
    p.setPen(QPen(kInk, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(7, 7, 18, 18));
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawEllipse(QRectF(12, 12, 8, 8));
    p.setBrush(QColor(230, 230, 230));
    p.drawEllipse(QRectF(14, 13, 2.5, 2.5));
    return img;
}

}   // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath("."))
        return 1;

    struct Item {
        const char* alias;
        const char* file;
        QImage image;
    };
    auto key = [](bool pressed, auto fn) { return roundKey(pressed, fn); };
    Item items[] = {
        {"bitmaps/132", "bitmap_132.png", barButton(false)},
        {"bitmaps/133", "bitmap_133.png", barButton(true)},
        {"bitmaps/134", "bitmap_134.bmp", titleBand()},
        {"bitmaps/135", "bitmap_135.png", plainFace()},
        {"bitmaps/136", "bitmap_136.png", labelFace(false)},
        {"bitmaps/141", "bitmap_141.png", labelFace(true)},
        {"bitmaps/144", "bitmap_144.png",
         key(false, [](QPainter& p, const QColor& c) { triangle(p, c, true); })},
        {"bitmaps/139", "bitmap_139.png",
         key(true, [](QPainter& p, const QColor& c) { triangle(p, c, true); })},
        {"bitmaps/143", "bitmap_143.png",
         key(false, [](QPainter& p, const QColor& c) { triangle(p, c, false); })},
        {"bitmaps/140", "bitmap_140.png",
         key(true, [](QPainter& p, const QColor& c) { triangle(p, c, false); })},
        {"bitmaps/145", "bitmap_145.png",
         key(false, [](QPainter& p, const QColor& c) { bar(p, c, true); })},
        {"bitmaps/138", "bitmap_138.png",
         key(true, [](QPainter& p, const QColor& c) { bar(p, c, true); })},
        {"bitmaps/142", "bitmap_142.png",
         key(false, [](QPainter& p, const QColor& c) { bar(p, c, false); })},
        {"bitmaps/137", "bitmap_137.png",
         key(true, [](QPainter& p, const QColor& c) { bar(p, c, false); })},
        {"bitmaps/149", "bitmap_149.png", layoutFace(false)},
        {"bitmaps/150", "bitmap_150.png", layoutFace(true)},
        {"icons/128", "icon_128.png", programIcon()},
        {"icons/146", "icon_146.png", camera(false)},
        {"icons/147", "icon_147.png", recorder()},
        {"icons/148", "icon_148.png", camera(true)},
    };

    QFile qrc(out.filePath("kevra_images.qrc"));
    if (!qrc.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    QTextStream list(&qrc);
    list << "<!DOCTYPE RCC><RCC version=\"1.0\">\n<qresource prefix=\"/\">\n";
    for (const Item& it : items) {
        if (!it.image.save(out.filePath(it.file)))
            return 1;
        list << "  <file alias=\"" << it.alias << "\">" << it.file << "</file>\n";
    }
    list << "</qresource>\n</RCC>\n";
    return 0;
}
