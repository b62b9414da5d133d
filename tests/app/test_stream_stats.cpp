#include "app/StreamController.h"
#include "app/StreamStats.h"
#include "app/ViewerLog.h"
#include "common/Clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

using namespace kevra;

namespace {

// A 25 frames/s stream of 2,000-byte frames, one drawn per frame; latency cycles through
// 10, 20, ... 100 ms from receipt to drawing, of which 3 ms decoding and 1 ms conversion.
struct KnownStream {
    StreamStats stats;
    DecoderWorker::Counters c;
    uint64_t now = 5'000'000;
    int n = 0;
    void run(int frames, int skipEvery = 0)
    {
        for (int i = 0; i < frames; ++i, ++n) {
            now += 40'000;
            c.frames++;
            c.bytes += 2000;
            stats.sample(c, 4, now);
            if (skipEvery && n % skipEvery == 0) {
                c.skipped++;
                continue;
            }
            Picture p;
            p.width = 704;
            p.height = 576;
            p.receivedUs = now;
            p.decodedUs = now + 3000;
            p.convertedUs = now + 4000;
            stats.pictureShown(p, now + 10'000 * uint64_t(1 + n % 10));
        }
    }
};

}   // namespace

TEST(StreamStats, FiguresOfAKnownStreamOverTheLastTenSeconds)
{
    KnownStream s;
    s.run(500);   // 20 s: the first ten are forgotten
    StreamStats::Figures f = s.stats.figures(s.now + 100'000);   // the last picture drawn
    EXPECT_EQ(StreamStats::codecName(f.codec), "H.264");
    EXPECT_EQ(f.width, 704);
    EXPECT_NEAR(f.fpsReceived, 25.0, 25.0 * 0.05);
    EXPECT_NEAR(f.fpsShown, 25.0, 25.0 * 0.05);
    EXPECT_NEAR(double(f.bitsPerSecond), 400'000.0, 400'000.0 * 0.05);
    EXPECT_NEAR(f.seconds, 10.0, 0.2);
    EXPECT_EQ(f.dropped, 0);
    EXPECT_NEAR(f.pictures, 250, 2);
    EXPECT_NEAR(f.latencyP50, 55.0, 5.0);
    EXPECT_DOUBLE_EQ(f.latencyP95, 100.0);
    EXPECT_DOUBLE_EQ(f.decodeP50, 3.0);
    EXPECT_DOUBLE_EQ(f.convertP50, 1.0);
    EXPECT_NEAR(f.waitP50, 51.0, 5.0);

    const auto rows = StreamStats::overlayRows(f);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[1].second, "704x576");
    EXPECT_EQ(rows[2].second.substr(0, 7), "25.0 / ");
    EXPECT_EQ(rows[3].second, "400 kbit/s");
    EXPECT_EQ(rows[5].second.substr(rows[5].second.size() - 9), " / 100 ms");
    EXPECT_NE(StreamStats::logLine(0, f).find("p95 100.0 ms"), std::string::npos);

    // One frame in five passed over: counted as dropped, shown rate falls, received does not.
    s.run(250, 5);
    f = s.stats.figures(s.now);
    EXPECT_NEAR(double(f.dropped), 50.0, 1.0);
    EXPECT_NEAR(f.fpsShown, 20.0, 1.0);
    EXPECT_NEAR(f.fpsReceived, 25.0, 1.0);
    EXPECT_EQ(StreamStats::overlayRows(f)[4].second, std::to_string(f.dropped));

    s.stats.reset();
    f = s.stats.figures(s.now);
    EXPECT_EQ(f.pictures, 0);
    EXPECT_EQ(f.fpsReceived, 0);
    EXPECT_EQ(StreamStats::overlayRows(f)[5].second, "-");
}

TEST(StreamStats, RecordStaysBoundedAtAnyPictureRate)
{
    StreamStats stats;
    DecoderWorker::Counters c;
    Picture p;
    uint64_t now = 1'000'000;
    for (int i = 0; i < 20'000; ++i) {   // 1,000 pictures a second for 20 s
        now += 1000;
        c.frames++;
        stats.sample(c, 1, now);
        p.receivedUs = now - 500;
        stats.pictureShown(p, now);
    }
    const StreamStats::Figures f = stats.figures(now);
    EXPECT_EQ(f.pictures, int(StreamStats::kMaxPictures));
    EXPECT_NEAR(f.fpsReceived, 1000.0, 10.0);
    EXPECT_DOUBLE_EQ(f.latencyP95, 0.5);
    EXPECT_EQ(StreamStats::codecName(f.codec), "MPEG-4");
}

namespace {

// A device whose decoder counts as a 25 frames/s stream of 1,000-byte frames.
struct CountingDevice : LiveViewDevice {
    std::atomic<bool> low{false};
    DecoderWorker::Counters c;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(16 * 16 * 4);
    void openChannel(int, int) override {}
    void stopChannel() override {}
    void setPixelFormat(PixelFormat) override {}
    bool takePicture(Picture& p) override
    {
        c.frames++;
        c.bytes += 1000;
        p.pixels = pixels.data();
        p.width = 16;
        p.height = 16;
        p.receivedUs = Clock::nowUs();
        p.decodedUs = p.convertedUs = p.receivedUs;
        return true;
    }
    void giveBack(const Picture&) override {}
    int buffering(int) override { return 0; }
    int frameRate() const override { return 25; }
    void setLowLatency(bool on) override { low = on; }
    DecoderWorker::Counters counters() const override { return c; }
    int codec() const override { return 4; }
};

}   // namespace

TEST(StreamStats, StreamControllerRecordsDrawnPicturesAndLogsThemWhenTheStreamEnds)
{
    Clock::useManual();
    std::vector<std::string> log;
    ViewerLog::setOutput([&](const std::string& line) { log.push_back(line); });
    auto owned = std::make_unique<CountingDevice>();
    CountingDevice& device = *owned;
    StreamController s(CameraId{0, 2}, std::move(owned));
    s.setLowLatency(true);
    EXPECT_TRUE(device.low);
    s.open(PixelFormat::Bgrx32);
    ASSERT_TRUE(s.onOpenResult(0));
    for (int i = 0; i < 100; ++i) {   // 4 s; each picture drawn 30 ms after it came
        Clock::advance(40);
        Picture p;
        bool changed = false;
        ASSERT_TRUE(s.poll(p, changed));
        s.pictureDrawn(p, Clock::nowUs() + 30'000);
    }
    Clock::advance(40);
    const StreamStats::Figures f = s.figures();
    EXPECT_EQ(f.pictures, 100);
    EXPECT_NEAR(f.fpsReceived, 25.0, 0.5);
    EXPECT_NEAR(double(f.bitsPerSecond), 200'000.0, 4'000.0);
    EXPECT_DOUBLE_EQ(f.latencyP95, 30.0);
    s.stop();
    ViewerLog::setOutput(nullptr);
    Clock::useReal();
    const auto line = std::find_if(log.begin(), log.end(), [](const std::string& l) {
        return l.find("stats camera 3: H.264 16x16") != std::string::npos;
    });
    EXPECT_NE(line, log.end());
    EXPECT_EQ(s.figures().pictures, 0);   // forgotten with the stream
}
