#include "app/LoginLayout.h"
#include "app/MainLayout.h"
#include "app/PictureLayout.h"
#include "app/KeyTable.h"
#include "app/PtzPanel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace kevra;

TEST(MainLayout, PortraitWorkedExample)
{
    MainLayout::Input in;
    in.width = 240;
    in.height = 320;
    in.barFontHeight = 13;
    in.labelTextWidth = 60;
    in.labelTextHeight = 16;
    in.windowFontHeight = 13;
    in.screenWidth = 240;
    in.screenHeight = 320;
    auto r = MainLayout::compute(in);
    EXPECT_EQ(r.barHeight, 25);
    EXPECT_EQ(r.titleHeight, 25);
    EXPECT_EQ(r.panelHeight, 40);
    EXPECT_EQ(r.arrowSize, 24);
    EXPECT_EQ(r.labelWidth, 70);
    EXPECT_EQ(r.barTop, 295);
    EXPECT_EQ(r.normalVideo, (Rect{0, 45, 240, 255}));
    EXPECT_EQ(r.fullScreenVideo, (Rect{0, 0, 240, 320}));
    EXPECT_EQ(r.statusLine, (Rect{0, 25, 240, 45}));
    EXPECT_EQ(r.panelTop, 263);
    EXPECT_EQ(r.directionLabel, (Rect{25, 263, 95, 287}));
    EXPECT_EQ(r.lensLabel, (Rect{145, 263, 215, 287}));
    EXPECT_EQ(r.directionLeft, (Rect{1, 263, 25, 287}));
    EXPECT_EQ(r.directionRight, (Rect{95, 263, 119, 287}));
    EXPECT_EQ(r.lensLeft.left, 121);
    EXPECT_EQ(r.lensRight.left, 215);
    EXPECT_EQ(r.tree, (Rect{0, 25, 240, 295}));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(r.videoBar[i], (Rect{i * 48, 295, i * 48 + 48, 320}));
    EXPECT_EQ(r.backButton, (Rect{0, 295, 120, 320}));
    EXPECT_EQ(r.treeExitButton, (Rect{120, 295, 240, 320}));
}

TEST(MainLayout, OddSizesTruncate)
{
    MainLayout::Input in;
    in.width = 803;
    in.height = 601;
    in.barFontHeight = 17;
    in.labelTextWidth = 77;
    in.labelTextHeight = 17;   // 2.5 x 17 = 42.5 -> 42; 1.5 x 17 = 25.5 -> 25
    in.windowFontHeight = 15;
    auto r = MainLayout::compute(in);
    EXPECT_EQ(r.panelHeight, 42);
    EXPECT_EQ(r.arrowSize, 25);
    EXPECT_EQ(r.videoBar[4].left, 4 * 160);
    EXPECT_EQ(r.videoBar[4].width(), 160);
    EXPECT_EQ(r.directionLabel.left, 803 / 4 - 87 / 2);
    EXPECT_EQ(r.lensLabel.left, 803 * 3 / 4 - 87 / 2);
}

TEST(LoginLayout, RowsAreCentredInTheClientArea)
{
    LoginLayout::Input in;
    in.client = Rect{0, 0, 240, 295};
    in.fieldHeight = 21;
    in.portTextWidth = 30;
    in.portTextHeight = 13;
    in.dialogFontHeight = 13;
    auto r = LoginLayout::compute(in);
    // p = 29, lw = 38, y0 = (295 - 116) / 2 = 89
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(r.fields[i], (Rect{43, 89 + i * 29, 43 + 192, 89 + i * 29 + 21})) << i;
        EXPECT_EQ(r.labels[i], (Rect{5, 93 + i * 29, 43, 93 + i * 29 + 21})) << i;
    }
    EXPECT_EQ(r.titleHeight, 25);

    // A client rectangle too short for the rows gives a negative start, truncated toward zero.
    in.client = Rect{0, 0, 240, 101};
    r = LoginLayout::compute(in);
    EXPECT_EQ(r.fields[0].top, (101 - 116) / 2);
    EXPECT_EQ(r.fields[0].top, -7);
}

TEST(PtzPanel, ButtonsFollowTheModes)
{
    using P = PtzCode;
    EXPECT_EQ(PtzPanel::directionCode(true, 0), P::Up);
    EXPECT_EQ(PtzPanel::directionCode(false, 0), P::Down);
    EXPECT_EQ(PtzPanel::directionCode(true, 1), P::Left);
    EXPECT_EQ(PtzPanel::directionCode(false, 1), P::Right);
    EXPECT_EQ(PtzPanel::lensCode(true, 0), P::ZoomIn);
    EXPECT_EQ(PtzPanel::lensCode(false, 0), P::ZoomOut);
    EXPECT_EQ(PtzPanel::lensCode(true, 1), P::IrisPlus);
    EXPECT_EQ(PtzPanel::lensCode(false, 1), P::IrisMinus);
    EXPECT_EQ(PtzPanel::lensCode(true, 2), P::FocusPlus);
    EXPECT_EQ(PtzPanel::lensCode(false, 2), P::FocusMinus);
    // The recorder's action codes.
    EXPECT_EQ(int(P::Up), 0);
    EXPECT_EQ(int(P::Right), 3);
    EXPECT_EQ(int(P::ZoomIn), 4);
    EXPECT_EQ(int(P::FocusPlus), 6);
    EXPECT_EQ(int(P::IrisMinus), 9);

    int mode = 0;
    EXPECT_EQ(std::u16string(PtzPanel::directionLabelKey(mode)), u"UP_DOWN");
    mode = PtzPanel::nextDirectionMode(mode);
    EXPECT_EQ(std::u16string(PtzPanel::directionLabelKey(mode)), u"LEFT_RIGHT");
    EXPECT_EQ(PtzPanel::nextDirectionMode(mode), 0);

    int lens = 0;
    const char16_t* keys[] = {u"ZOOM", u"IRIS", u"FOCUS", u"ZOOM"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(std::u16string(PtzPanel::lensLabelKey(lens)), keys[i]);
        lens = PtzPanel::nextLensMode(lens);
    }
}

TEST(PtzPanel, ArrowKeysMoveTheCameraTowardTheSideOfTheScreenTheyPointAt)
{
    EXPECT_EQ(PtzPanel::keyCode(KeyTable::Left, false), PtzCode::Left);
    EXPECT_EQ(PtzPanel::keyCode(KeyTable::Up, false), PtzCode::Up);
    EXPECT_EQ(PtzPanel::keyCode(KeyTable::Right, false), PtzCode::Right);
    EXPECT_EQ(PtzPanel::keyCode(KeyTable::Down, false), PtzCode::Down);
    EXPECT_EQ(PtzPanel::keyCode(KeyTable::Return, false), std::nullopt);
    EXPECT_EQ(PtzPanel::keyCode(37, false), std::nullopt);

    // Turned picture: turn a 3 x 2 picture with marked corners through the live view's own turn
    // and see which camera edge lands along each side of the screen; the key for that side must
    // send what the upright key for that camera edge sends.
    enum Corner { TL = 1, TR, BL, BR };
    const int w = 3, h = 2;
    for (int depth : {32, 16}) {
        const int bytes = depth / 8;
        std::vector<uint8_t> in(size_t(w * h * bytes)), out(in.size());
        auto mark = [&](int x, int y, Corner c) {
            const int row = depth == 16 ? y : h - 1 - y;   // 32-bit rows are stored bottom first
            in[size_t((row * w + x) * bytes)] = uint8_t(c);
        };
        mark(0, 0, TL);
        mark(w - 1, 0, TR);
        mark(0, h - 1, BL);
        mark(w - 1, h - 1, BR);
        PictureLayout::turn(in.data(), w, h, depth, out.data());
        // The turned picture is h wide and w high, top row first.
        auto at = [&](int x, int y) { return int(out[size_t((y * h + x) * bytes)]); };
        const int screenTL = at(0, 0), screenTR = at(h - 1, 0), screenBL = at(0, w - 1),
                  screenBR = at(h - 1, w - 1);
        auto edgeKey = [](int a, int b) {   // the camera edge joining two corners, as its key
            const int lo = std::min(a, b), hi = std::max(a, b);
            if (lo == TL && hi == TR)
                return int(KeyTable::Up);
            if (lo == BL && hi == BR)
                return int(KeyTable::Down);
            if (lo == TL && hi == BL)
                return int(KeyTable::Left);
            if (lo == TR && hi == BR)
                return int(KeyTable::Right);
            return 0;
        };
        const struct {
            int key;
            int a, b;
        } sides[] = {{KeyTable::Left, screenTL, screenBL},
                     {KeyTable::Up, screenTL, screenTR},
                     {KeyTable::Right, screenTR, screenBR},
                     {KeyTable::Down, screenBL, screenBR}};
        for (const auto& side : sides) {
            const int cameraEdge = edgeKey(side.a, side.b);
            ASSERT_NE(cameraEdge, 0) << "corners " << side.a << "," << side.b << " depth " << depth;
            EXPECT_EQ(PtzPanel::keyCode(side.key, true), PtzPanel::keyCode(cameraEdge, false))
                << "key " << side.key << " depth " << depth;
        }
    }
}
