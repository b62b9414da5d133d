#include "app/DigitalZoom.h"
#include "ui/support/UiTestSupport.h"
#include "ui/BitmapButton.h"
#include "ui/DisplaySurface.h"
#include "ui/SettingsDialog.h"
#include "ui/TileView.h"
#include "ui/VideoArea.h"

#include <QApplication>
#include <QFontDatabase>
#include <QGestureEvent>
#include <QPinchGesture>
#include <QImage>
#include <QPainter>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QComboBox>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

using namespace kevra;
using namespace kevra::test;

namespace {
void sendMouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)), Qt::LeftButton, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}
}   // namespace

TEST(BitmapButton, PressedFaceFromPressToReleaseAndClickInside)
{
    QWidget parent;
    parent.resize(200, 100);
    BitmapButton b(1124, &parent);
    b.setGeometry(10, 10, 60, 25);
    b.loadImages(132, 133);
    EXPECT_TRUE(b.hasNormalImage());
    EXPECT_TRUE(b.hasPressedImage());
    parent.show();
    QSignalSpy clicks(&b, &QPushButton::clicked);
    sendMouse(&b, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton);
    EXPECT_TRUE(b.isPressedFace());
    sendMouse(&b, QEvent::MouseButtonRelease, QPoint(6, 6), Qt::NoButton);
    EXPECT_FALSE(b.isPressedFace());
    EXPECT_EQ(clicks.count(), 1);

    b.loadImages(136, 0);   // pressed id 0: no pressed face
    EXPECT_TRUE(b.hasNormalImage());
    EXPECT_FALSE(b.hasPressedImage());
}

TEST(BitmapButton, SlidingOffReleasesTheFaceWithinASecondAndReleaseOutsideDoesNotClick)
{
    QWidget parent;
    parent.resize(300, 100);
    BitmapButton b(1129, &parent);
    b.setGeometry(10, 10, 40, 40);
    b.loadImages(144, 139);
    parent.show();
    QSignalSpy clicks(&b, &QPushButton::clicked);
    sendMouse(&b, QEvent::MouseButtonPress, QPoint(20, 20), Qt::LeftButton);
    ASSERT_TRUE(b.isPressedFace());
    sendMouse(&b, QEvent::MouseMove, QPoint(200, 20), Qt::LeftButton);   // slid off
    ASSERT_TRUE(waitUntil([&] { return !b.isPressedFace(); }, 5000));
    sendMouse(&b, QEvent::MouseButtonRelease, QPoint(200, 20), Qt::NoButton);
    EXPECT_EQ(clicks.count(), 0);

    // While the pointer stays on the button the face stays pressed across checks.
    sendMouse(&b, QEvent::MouseButtonPress, QPoint(20, 20), Qt::LeftButton);
    pump(BitmapButton::kReleaseCheckMs + 300);
    EXPECT_TRUE(b.isPressedFace());
    sendMouse(&b, QEvent::MouseButtonRelease, QPoint(20, 20), Qt::NoButton);
    EXPECT_EQ(clicks.count(), 1);
}

TEST(DisplaySurface, DepthsAndFrameSizes)
{
    EXPECT_EQ(DisplaySurface::depthFor(32, 0), 32);
    EXPECT_EQ(DisplaySurface::depthFor(24, 0), 32);
    EXPECT_EQ(DisplaySurface::depthFor(16, 0), 16);
    EXPECT_EQ(DisplaySurface::depthFor(32, 24), 24);
    VideoArea area(nullptr);
    DisplaySurface s16(&area, 16), s32(&area, 32), s24(&area, 24);
    EXPECT_EQ(s16.create(352, 288), 16);
    EXPECT_EQ(s16.frameBytes(), 202752);
    EXPECT_EQ(s32.create(352, 288), 32);
    EXPECT_EQ(s32.frameBytes(), 405504);
    EXPECT_EQ(s24.create(352, 288), 24);
    EXPECT_EQ(s24.frameBytes(), 304128);
    DisplaySurface none(nullptr, 32);
    EXPECT_EQ(none.create(352, 288), 0);   // no window: nothing made
    EXPECT_EQ(s32.create(0, 288), 0);
    uint8_t px[4] = {};
    EXPECT_EQ(s32.present(px, Rect{0, 0, 1, 1}, false), -1);   // nothing created
}

namespace {
// Presents a 2 x 2 picture whose top row is red and bottom row blue, stored as the converters
// store that depth, from another thread; returns the grabbed video area.
QImage showTwoRows(int depth)
{
    VideoArea area(nullptr);
    area.resize(40, 40);
    DisplaySurface s(&area, depth);
    area.setSurface(&s);
    area.show();
    EXPECT_EQ(s.create(2, 2), depth);
    std::vector<uint8_t> px;
    auto put = [&](int r, int g, int b) {
        if (depth == 16) {
            uint16_t v = uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
            px.push_back(uint8_t(v));
            px.push_back(uint8_t(v >> 8));
        } else {
            px.push_back(uint8_t(b));
            px.push_back(uint8_t(g));
            px.push_back(uint8_t(r));
            if (depth == 32)
                px.push_back(255);
        }
    };
    const bool bottomUp = depth != 16;
    for (int row = 0; row < 2; ++row) {
        bool top = bottomUp ? row == 1 : row == 0;
        for (int c = 0; c < 2; ++c)
            top ? put(255, 0, 0) : put(0, 0, 255);
    }
    const QPoint o = area.mapToGlobal(QPoint(0, 0));
    std::thread presenter([&] {
        s.present(px.data(), Rect{o.x(), o.y(), o.x() + 40, o.y() + 40}, bottomUp);
    });
    presenter.join();
    pump(50);
    QImage img = area.grab().toImage();
    area.setSurface(nullptr);
    return img;
}
}   // namespace

TEST(DisplaySurface, PicturesAreShownUprightStretchedAtEveryDepth)
{
    for (int depth : {16, 24, 32}) {
        QImage img = showTwoRows(depth);
        ASSERT_FALSE(img.isNull());
        QColor top = img.pixelColor(img.width() / 2, img.height() / 4);
        QColor bottom = img.pixelColor(img.width() / 2, img.height() * 3 / 4);
        EXPECT_GT(top.red(), 200) << depth;
        EXPECT_LT(top.blue(), 50) << depth;
        EXPECT_GT(bottom.blue(), 200) << depth;
        EXPECT_LT(bottom.red(), 50) << depth;
    }
}

// Camera names and the Chinese language file must draw as real glyphs, not as the empty boxes
// a font without CJK ideographs leaves: two different characters give two different images.
TEST(Fonts, ChineseTextDrawsRealGlyphs)
{
    ASSERT_FALSE(QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty())
        << "no installed font covers Simplified Chinese";
    QFont font = QApplication::font();
    font.setPixelSize(32);
    auto draw = [&](const QString& text) {
        QImage image(40, 40, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(image.rect(), Qt::AlignCenter, text);
        return image;
    };
    QImage blank(40, 40, QImage::Format_RGB32);
    blank.fill(Qt::white);
    const QImage gate = draw(QStringLiteral("大")), door = draw(QStringLiteral("门"));
    EXPECT_NE(gate, blank);
    EXPECT_NE(door, blank);
    EXPECT_NE(gate, door);
}

// Tile texts stay readable over a bright picture (a dark backdrop behind each line), and a name
// too long for its tile ends in "…" instead of losing characters at the edge.
TEST(TileView, TextsSitOnADarkBackdropAndLongNamesAreShortenedVisibly)
{
    TileView view(nullptr);
    view.resize(240, 180);
    view.show();
    view.setTiles(4, -1);
    const QString longName = QString::fromUtf8("停车场东北角入口全景摄像机二号");
    view.setDescribe([&](int p) {
        return TileView::Label{p == 0 ? longName : QStringLiteral("Gate"),
                               QStringLiteral("Playing"), QString(), QString(), QString()};
    });
    const std::vector<uint8_t> white(320 * 240 * 4, 255);
    for (int p = 0; p < 4; ++p)
        view.presentTile(p, white.data(), 320, 240, 32, false);
    const QImage shot = view.grab().toImage();

    EXPECT_TRUE(view.paintedName(0).endsWith(QChar(0x2026))) << view.paintedName(0).toStdString();
    EXPECT_TRUE(longName.startsWith(view.paintedName(0).chopped(1)));
    EXPECT_EQ(view.paintedName(1), "Gate");
    EXPECT_EQ(view.paintedName(4), "");

    // Just left of the name's first letter: white picture in the tile's middle, dark backdrop
    // on the name's line.
    const QRect tile = view.tileRect(1);
    const int x = tile.left() + GridLayout::kFrame + 2;
    ASSERT_GT(qGray(shot.pixel(x, tile.center().y())), 200);
    EXPECT_LT(qGray(shot.pixel(x, tile.top() + GridLayout::kFrame + 6)), 120);
    // Another frame (or a lost session) keeps the pictures; another layout lays them out anew.
    view.setTiles(4, 2);
    EXPECT_GT(qGray(view.grab().toImage().pixel(x, tile.center().y())), 200);
    view.setTiles(9, 2);
    EXPECT_LT(qGray(view.grab().toImage().pixel(view.tileRect(0).center())), 60);
}

// A pinch zooms the framed tile around the fingers' centre, as the wheel does; one that starts
// on another tile zooms nothing, even when its centre moves onto the framed tile.
TEST(TileView, APinchThatStartsOnTheFramedTileZoomsIt)
{
    for (const int startOn : {0, 1}) {
        TileView view(nullptr);
        view.resize(240, 180);
        view.show();
        view.setTiles(4, 1);
        DigitalZoom zoom;
        view.setZoom(&zoom);
        view.keepPicture(1);
        const std::vector<uint8_t> grey(64 * 48 * 4, 128);
        for (int p = 0; p < 4; ++p)
            view.presentTile(p, grey.data(), 64, 48, 32, false);
        QSignalSpy drags(&view, &TileView::dragStarted);
        QPinchGesture pinch;
        pinch.setChangeFlags(QPinchGesture::ScaleFactorChanged);
        for (const auto& [tile, by] : {std::pair{startOn, 2.0}, std::pair{1, 1.5}}) {
            pinch.setCenterPoint(view.mapToGlobal(QPointF(view.tileRect(tile).center())));
            pinch.setScaleFactor(by);
            QGestureEvent e({&pinch});
            QApplication::sendEvent(&view, &e);
        }
        EXPECT_EQ(drags.count(), 1) << "the fingers' press is no click";
        EXPECT_DOUBLE_EQ(zoom.factor(), startOn == 1 ? 3.0 : 1.0) << startOn;
    }
}

// Which screen is which wall: each screen's choice comes back as the walls' screens; a second
// screen chosen for the same wall, or a second spot, does not take it from the first.
TEST(SettingsDialog, ScreensChooseTheWallsAndTheSpot)
{
    SettingsDialog d(ViewerSettings{}, TourSettings{}, nullptr);
    d.setScreens(4, 0, {-1, 2}, 1);
    EXPECT_EQ(d.wallScreens(), (std::vector<int>{-1, 2}));
    EXPECT_EQ(d.spotScreen(), 1);
    d.screenBox(3)->setCurrentIndex(d.screenBox(3)->findData(1));   // wall 1
    d.screenBox(0)->setCurrentIndex(d.screenBox(0)->findData(2));   // wall 2 again
    d.screenBox(1)->setCurrentIndex(d.screenBox(1)->findData(0));   // nothing
    EXPECT_EQ(d.wallScreens(), (std::vector<int>{3, 0}));
    EXPECT_EQ(d.spotScreen(), -1);
    EXPECT_EQ(d.screenBox(4), nullptr);
}
