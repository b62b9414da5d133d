#include "app/LoginLayout.h"
#include "app/MainLayout.h"
#include "app/PtzPanel.h"

#include <gtest/gtest.h>

#include <string>

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
    EXPECT_EQ(PtzPanel::directionCode(true, 0), 0);
    EXPECT_EQ(PtzPanel::directionCode(false, 0), 1);
    EXPECT_EQ(PtzPanel::directionCode(true, 1), 2);
    EXPECT_EQ(PtzPanel::directionCode(false, 1), 3);
    EXPECT_EQ(PtzPanel::lensCode(true, 0), 4);
    EXPECT_EQ(PtzPanel::lensCode(false, 0), 5);
    EXPECT_EQ(PtzPanel::lensCode(true, 1), 8);
    EXPECT_EQ(PtzPanel::lensCode(false, 1), 9);
    EXPECT_EQ(PtzPanel::lensCode(true, 2), 6);
    EXPECT_EQ(PtzPanel::lensCode(false, 2), 7);

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

TEST(PtzPanel, ArrowKeysTurnWithThePicture)
{
    EXPECT_EQ(PtzPanel::keyCode(PtzPanel::KeyLeft, false), 2);
    EXPECT_EQ(PtzPanel::keyCode(PtzPanel::KeyUp, false), 0);
    EXPECT_EQ(PtzPanel::keyCode(PtzPanel::KeyRight, false), 3);
    EXPECT_EQ(PtzPanel::keyCode(PtzPanel::KeyDown, false), 1);
    EXPECT_EQ(PtzPanel::keyCode(PtzPanel::KeyLeft, true), 0);
    EXPECT_EQ(PtzPanel::keyCode(PtzPanel::KeyUp, true), 3);
    EXPECT_EQ(PtzPanel::keyCode(PtzPanel::KeyRight, true), 1);
    EXPECT_EQ(PtzPanel::keyCode(PtzPanel::KeyDown, true), 2);
    EXPECT_EQ(PtzPanel::keyCode(13, false), -1);
    EXPECT_TRUE(PtzPanel::isTurned(true, 240, 320));
    EXPECT_FALSE(PtzPanel::isTurned(true, 320, 240));
    EXPECT_FALSE(PtzPanel::isTurned(false, 240, 320));
}
