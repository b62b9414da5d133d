// The frame cutter and the clip writer in-process, on KXAV streams made by the test kit: the
// clock the cutter gives the frames, file parts on a size change, and a full disk. ffprobe and
// ffmpeg judge the files.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "remux/ClipWriter.h"
#include "remux/FrameCutter.h"
#include "remux/ParameterSets.h"
#include "remux/support/ClipProbe.h"
#include "remux/support/TestStream.h"

namespace kevra {
namespace {

constexpr int kFps = TestStream::kFps;
constexpr int64_t kFrameUs = 1000000 / kFps;
using StreamShape = TestStream::Shape;
constexpr auto makeStream = TestStream::make;

// Feeds the packets in 777-byte blocks (frames cross block edges) and collects the units.

std::vector<AccessUnit> cut(FrameCutter& cutter, const std::vector<std::vector<uint8_t>>& packets,
                            int from = 0, int gapAt = -1)
{
    std::vector<uint8_t> bytes;
    std::vector<AccessUnit> units;
    auto drain = [&] {
        AccessUnit u;
        while (cutter.next(u)) {
            u.data = nullptr;   // the bytes are gone after the next feed
            units.push_back(u);
        }
    };
    for (int i = from; i < int(packets.size()); ++i) {
        if (i == gapAt) {
            for (size_t at = 0; at < bytes.size(); at += 777) {
                cutter.feed(bytes.data() + at, int(std::min<size_t>(777, bytes.size() - at)));
                drain();
            }
            bytes.clear();
            cutter.markGap();
        }
        bytes.insert(bytes.end(), packets[size_t(i)].begin(), packets[size_t(i)].end());
    }
    for (size_t at = 0; at < bytes.size(); at += 777) {
        cutter.feed(bytes.data() + at, int(std::min<size_t>(777, bytes.size() - at)));
        drain();
    }
    return units;
}

TEST(FrameCutter, TimesFollowTheFrameRateAndTheRecordersClock)
{
    struct Case {
        const char* name;
        StreamShape shape;
        int from;    // frames not fed at the start
        int gapAt;   // markGap() before this frame
        int units;   // expected units
    };
    StreamShape mpeg4;
    mpeg4.codec = PatternEncoder::Codec::Mpeg4;
    StreamShape lost;   // the recorder's time leaps 10 s at frame 30: frames were lost
    lost.jumpAt = 30;
    lost.jumpSeconds = 10;
    StreamShape back = lost;   // the recorder's clock is set back an hour
    back.jumpSeconds = -3600;
    const Case cases[] = {
        {"steady H.264", StreamShape{}, 0, -1, 50},
        {"steady MPEG-4", mpeg4, 0, -1, 50},
        {"starts between key frames", StreamShape{}, 5, -1, 25},
        {"gap waits for the next key frame", StreamShape{}, 0, 10, 35},
        {"lost frames", lost, 0, -1, 50},
        {"clock set back", back, 0, -1, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameCutter cutter;
        const std::vector<AccessUnit> units = cut(cutter, makeStream(c.shape), c.from, c.gapAt);
        ASSERT_EQ(int(units.size()), c.units);
        EXPECT_TRUE(units[0].key);
        EXPECT_EQ(units[0].timeUs, 0);
        EXPECT_GT(units[0].extradataSize, 0);
        EXPECT_EQ(units[0].codec, c.shape.codec == PatternEncoder::Codec::H264 ? UnitCodec::H264
                                                                               : UnitCodec::Mpeg4);
        for (size_t i = 1; i < units.size(); ++i) {
            EXPECT_GT(units[i].timeUs, units[i - 1].timeUs) << "unit " << i;
            EXPECT_EQ(units[i].width, c.shape.width);
            EXPECT_EQ(units[i].durationUs, kFrameUs);
            EXPECT_FALSE(units[i].streamChanged);
        }
        if (c.gapAt >= 0) {
            // Frames 10-24 are passed over; frame 25 (a key frame) follows frame 9 at once.
            EXPECT_TRUE(units[10].key && units[10].afterGap);
            EXPECT_EQ(units[10].timeUs, 10 * kFrameUs);
        } else if (c.shape.jumpSeconds > 0) {
            EXPECT_EQ(units[29].timeUs, 29 * kFrameUs);
            EXPECT_GE(units[30].timeUs, 10000000);   // the lost ten seconds stay in the clip
            EXPECT_LE(units[30].timeUs, 12500000);
            EXPECT_EQ(units[31].timeUs - units[30].timeUs, kFrameUs);
        } else {
            EXPECT_EQ(units.back().timeUs, int64_t(units.size() - 1) * kFrameUs);
        }
    }
}

class ClipFiles : public ::testing::Test {
protected:
    std::string path(const std::string& name)
    {
        std::string p = ::testing::TempDir() + "clip_" + std::to_string(::getpid()) + "_" + name;
        made_.push_back(p);
        return p;
    }
    void TearDown() override
    {
        for (const std::string& p : made_)
            for (int part = 1; part <= 3; ++part)
                std::remove(ClipWriter::partPath(p, part).c_str());
    }
    // Cuts the packets and writes every unit; false when a write failed.
    static bool write(ClipWriter& writer, FrameCutter& cutter,
                      const std::vector<std::vector<uint8_t>>& packets)
    {
        for (const std::vector<uint8_t>& p : packets) {
            cutter.feed(p.data(), int(p.size()));
            AccessUnit u;
            while (cutter.next(u))
                if (!writer.write(u))
                    return false;
        }
        return true;
    }
    std::vector<std::string> made_;
};

TEST_F(ClipFiles, SizeOrCodecChangeContinuesInTheNextPart)
{
    StreamShape small;
    small.width = 176;
    small.height = 144;
    small.frames = 30;
    small.gop = 10;
    StreamShape large = small;
    large.width = 352;
    large.height = 288;
    StreamShape mpeg4 = large;
    mpeg4.codec = PatternEncoder::Codec::Mpeg4;
    const StreamShape* shapes[] = {&small, &large, &mpeg4};
    std::vector<std::vector<std::vector<uint8_t>>> streams;
    for (const StreamShape* shape : shapes)
        streams.push_back(makeStream(*shape));
    for (const char* name : {"resize.mp4", "resize.mkv"}) {
        SCOPED_TRACE(name);
        const std::string file = path(name);
        FrameCutter cutter;
        ClipWriter writer(file);
        for (const auto& stream : streams)
            ASSERT_TRUE(write(writer, cutter, stream));
        ASSERT_TRUE(writer.close()) << writer.error();
        const std::vector<ClipWriter::Part> parts = writer.parts();
        ASSERT_EQ(parts.size(), 3u);
        EXPECT_EQ(parts[2].path, ClipWriter::partPath(file, 3));
        for (size_t i = 0; i < parts.size(); ++i) {
            const ClipProbe p = ClipProbe::of(parts[i].path);
            ASSERT_TRUE(p.opened) << parts[i].path;
            EXPECT_EQ(p.codec, i < 2 ? "h264" : "mpeg4");
            EXPECT_EQ(p.width, shapes[i]->width);
            EXPECT_EQ(p.height, shapes[i]->height);
            EXPECT_EQ(p.frames, 30);
            EXPECT_EQ(parts[i].frames, 30);
            EXPECT_NEAR(p.duration, 30.0 / kFps, 1.0 / kFps);
            EXPECT_TRUE(p.firstKey);
            EXPECT_EQ(p.decodeErrors, "");
        }
    }
}

TEST_F(ClipFiles, FullDiskStopsWithAMessageAndKeepsAPlayableFile)
{
    StreamShape busy;   // about 250 KB a second
    busy.frames = 150;
    busy.bitrate = 2000000;
    const std::vector<std::vector<uint8_t>> packets = makeStream(busy);
    const std::string file = path("full.mp4");

    // A file-size limit stands in for the full disk; it is lifted again before anything else.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 300000;
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    FrameCutter cutter;
    ClipWriter writer(file);
    const bool wrote = write(writer, cutter, packets);
    writer.close();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(wrote);
    EXPECT_NE(writer.error().find("cannot write " + file + ": file too large"), std::string::npos)
        << writer.error();
    EXPECT_NE(writer.error().find("disk is full"), std::string::npos);
    ASSERT_EQ(writer.parts().size(), 1u);
    const ClipProbe p = ClipProbe::of(file);
    EXPECT_GT(p.frames, 10);
    EXPECT_EQ(p.frames, writer.parts()[0].frames);   // what the writer reports is in the file
    EXPECT_TRUE(p.firstKey);
    EXPECT_EQ(p.decodeErrors, "");

    // A folder that cannot be written: the same kind of message, and no file.
    ClipWriter nowhere("/nonexistent-folder/clip.mp4");
    FrameCutter again;
    EXPECT_FALSE(write(nowhere, again, makeStream(StreamShape{})));
    EXPECT_EQ(nowhere.error(),
              "cannot write /nonexistent-folder/clip.mp4: no such file or directory");
    EXPECT_TRUE(nowhere.parts().empty());
}

TEST(ParameterSets, KeyFramesAndConfigurationFromTheBytes)
{
    using B = std::vector<uint8_t>;
    const struct {
        UnitCodec codec;
        B bytes;
        bool key;
        B extradata;
    } cases[] = {
        // SPS, PPS (3-byte start code), IDR slice.
        {UnitCodec::H264,
         {0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68, 0xCE, 0, 0, 1, 0x65, 0x88},
         true,
         {0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE}},
        // An SPS alone is no configuration; a non-IDR slice is no key frame.
        {UnitCodec::H264, {0, 0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x41, 0x9A}, false, {}},
        // VOS, VOL, then an I-VOP: the configuration ends before the VOP.
        {UnitCodec::Mpeg4,
         {0, 0, 1, 0xB0, 1, 0, 0, 1, 0x20, 0x08, 0, 0, 1, 0xB6, 0x10},
         true,
         {0, 0, 1, 0xB0, 1, 0, 0, 1, 0x20, 0x08}},
        // A P-VOP without a VOL; then a start code cut off at the end.
        {UnitCodec::Mpeg4, {0, 0, 1, 0xB6, 0x50, 0, 0, 1}, false, {}},
        {UnitCodec::H264, {0, 0, 1}, false, {}},
    };
    for (const auto& c : cases) {
        const int n = int(c.bytes.size());
        EXPECT_EQ(ParameterSets::isKeyFrame(c.codec, c.bytes.data(), n), c.key);
        EXPECT_EQ(ParameterSets::extract(c.codec, c.bytes.data(), n), c.extradata);
    }
}

TEST(ClipWriterNames, PartsAndContainers)
{
    EXPECT_EQ(ClipWriter::partPath("/v/Gate_2026.mp4", 1), "/v/Gate_2026.mp4");
    EXPECT_EQ(ClipWriter::partPath("/v/Gate_2026.mp4", 2), "/v/Gate_2026_2.mp4");
    EXPECT_EQ(ClipWriter::partPath("/v.d/clip", 3), "/v.d/clip_3");
    EXPECT_EQ(ClipWriter::partPath(".hidden", 2), ".hidden_2");
    EXPECT_EQ(ClipWriter::containerFor("a.MKV"), ClipWriter::Container::Matroska);
    EXPECT_EQ(ClipWriter::containerFor("a.mkv.mp4"), ClipWriter::Container::Mp4);
    EXPECT_EQ(ClipWriter::containerFor("a"), ClipWriter::Container::Mp4);
}

}   // namespace
}   // namespace kevra
