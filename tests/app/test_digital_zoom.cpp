#include "app/DigitalZoom.h"

#include <gtest/gtest.h>

#include <functional>

using namespace kevra;

TEST(DigitalZoom, SourceRectangleForFactorPanAndTurn)
{
    struct Case {
        const char* what;
        std::function<void(DigitalZoom&)> act;
        Rect expected;   // in the upright 1920 x 1080 picture
    };
    const Case cases[] = {
        {"whole picture", [](DigitalZoom&) {}, {0, 0, 1920, 1080}},
        {"2x in the middle", [](DigitalZoom& z) { z.zoomBy(2); }, {480, 270, 1440, 810}},
        {"8x at most", [](DigitalZoom& z) { z.zoomBy(100); }, {840, 473, 1080, 608}},
        {"back to 1 and the middle",
         [](DigitalZoom& z) {
             z.zoomBy(4, 0, 0);
             z.zoomBy(0.01);
         },
         {0, 0, 1920, 1080}},
        {"2x at the top left corner", [](DigitalZoom& z) { z.zoomBy(2, 0, 0); }, {0, 0, 960, 540}},
        {"turned: the screen's top right is the picture's top left",
         [](DigitalZoom& z) { z.zoomBy(2, 1, 0, true); },
         {0, 0, 960, 540}},
        {"drag right shows the left half",
         [](DigitalZoom& z) {
             z.zoomBy(2);
             z.pan(0.5, 0);
         },
         {0, 270, 960, 810}},
        {"a drag stops at the edge",
         [](DigitalZoom& z) {
             z.zoomBy(2);
             z.pan(-9, -9);
         },
         {960, 540, 1920, 1080}},
        {"turned: drag right shows the bottom half",
         [](DigitalZoom& z) {
             z.zoomBy(2);
             z.pan(0.5, 0, true);
         },
         {480, 540, 1440, 1080}},
        {"turned: drag down shows the left half",
         [](DigitalZoom& z) {
             z.zoomBy(2);
             z.pan(0, 0.5, true);
         },
         {0, 270, 960, 810}},
        {"no pan at 1x", [](DigitalZoom& z) { z.pan(0.3, 0.3); }, {0, 0, 1920, 1080}},
    };
    for (const Case& c : cases) {
        DigitalZoom z;
        c.act(z);
        EXPECT_EQ(z.source(1920, 1080), c.expected) << c.what;
        EXPECT_GE(z.factor(), 1.0);
        EXPECT_LE(z.factor(), DigitalZoom::kMaxFactor);
    }
}

TEST(DigitalZoom, TurnedPictureRectangleTinyPicturesAndLabel)
{
    // The upright top-left quarter lies at the top right of the turned (1080 x 1920) picture.
    EXPECT_EQ(DigitalZoom::turned({0, 0, 960, 540}, 1920, 1080), (Rect{540, 0, 1080, 960}));
    EXPECT_EQ(DigitalZoom::turned({0, 0, 1920, 1080}, 1920, 1080), (Rect{0, 0, 1080, 1920}));
    DigitalZoom z;
    z.zoomBy(8);
    EXPECT_EQ(z.source(4, 4), (Rect{2, 2, 3, 3}));   // never empty
    EXPECT_EQ(z.source(0, 10), Rect{});
    EXPECT_EQ(z.label(), u"8.0x");
    z.reset();
    EXPECT_EQ(z.label(), u"");
}
