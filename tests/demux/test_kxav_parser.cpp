// KXAV streams: header checksum, extension blocks in both orders, sequence numbers, audio,
// text packets, and headers that must be passed over.
#include "DemuxTestSupport.h"

#include "demux/KxavParser.h"
#include "testkit/KxavMuxer.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kevra;
using namespace kevra::demuxtest;

namespace {

std::vector<Taken> probeAndRun(const std::vector<uint8_t>& s, StreamDemuxer& d)
{
    EXPECT_EQ(d.feed(s.data(), static_cast<int>(s.size())), 0);
    EXPECT_EQ(d.format(), StreamFormat::Kxav);
    return drain(d);
}

const uint32_t kWhen = KxavMuxer::packTime(2026, 12, 7, 10, 31, 42);

}   // namespace

TEST(KxavFormat, KeyFrameExtensionInEitherOrder)
{
    // 0x81 0x00 0x08 0x19 0x80 0x01 0x58 0x48 -> codec 4, param2 1, 25 fps, param1 1, 704 x 576.
    for (bool codecFirst : {true, false}) {
        KxavMuxer mux;
        mux.setCodecBlockFirst(codecFirst);
        const auto body = payloadBytes(300, 1);
        auto s = mux.videoFrame(body, true, 8, 704, 576, 25, kWhen);
        if (codecFirst) {
            const uint8_t ext[] = {0x81, 0x00, 0x08, 0x19, 0x80, 0x01, 0x58, 0x48};
            ASSERT_EQ(std::memcmp(s.data() + 24, ext, 8), 0);
        }
        StreamDemuxer d;
        const auto got = probeAndRun(s, d);
        ASSERT_EQ(got.size(), 1u);
        const Taken& r = got[0];
        EXPECT_EQ(r.kind, 1);
        EXPECT_EQ(r.subtype, 0);
        EXPECT_EQ(r.codec, 4);
        EXPECT_EQ(r.param2, 1);
        EXPECT_EQ(r.frameRate, 25);
        EXPECT_EQ(r.param1, 1);
        EXPECT_EQ(r.width, 704);
        EXPECT_EQ(r.height, 576);
        EXPECT_EQ(r.year, 2026);
        EXPECT_EQ(r.second, 42);
        EXPECT_EQ(r.packetLength, 24 + 8 + 300 + 8);
        EXPECT_EQ(got[0].payload, body);
    }
}

TEST(KxavFormat, ScanModesAndCodecBytes)
{
    KxavMuxer mux;
    std::vector<uint8_t> s;
    mux.setScanMode(0);
    append(s, mux.videoFrame(payloadBytes(20, 1), true, 1, 352, 288, 30, 0));
    append(s, mux.videoFrame(payloadBytes(20, 2), false, 0, 0, 0, 0, 0));
    mux.setScanMode(2);
    append(s, mux.videoFrame(payloadBytes(20, 3), true, 2, 352, 288, 30, 0));
    mux.setDependentType(0xFE);
    append(s, mux.videoFrame(payloadBytes(20, 4), false, 0, 0, 0, 0, 0));
    StreamDemuxer d;
    const auto got = probeAndRun(s, d);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].param1, 2);
    EXPECT_EQ(got[0].codec, 1);
    EXPECT_EQ(got[1].codec, 1);   // dependent frames inherit the key frame's codec
    EXPECT_EQ(got[1].subtype, 1);
    EXPECT_EQ(got[2].param1, 0);
    EXPECT_EQ(got[2].codec, 2);
    EXPECT_EQ(got[2].param2, 2);
    EXPECT_EQ(got[3].codec, 2);
    EXPECT_EQ(got[3].subtype, 2);
}

TEST(KxavFormat, ChecksumOneLessIsNoHeader)
{
    KxavMuxer good;
    KxavMuxer bad;
    bad.setBrokenChecksum(true);
    std::vector<uint8_t> s = bad.videoFrame(payloadBytes(100, 1), true, 8, 704, 576, 25, 0);
    {
        // The probe does not take it as evidence.
        StreamDemuxer d;
        EXPECT_EQ(d.feed(s.data(), static_cast<int>(s.size())), -1);
        EXPECT_EQ(d.format(), StreamFormat::None);
    }
    // In a KXAV stream it is passed over and the next good packet is delivered.
    std::vector<uint8_t> stream = good.videoFrame(payloadBytes(50, 2), true, 8, 704, 576, 25, 0);
    append(stream, s);
    append(stream, good.videoFrame(payloadBytes(60, 3), true, 8, 704, 576, 25, 0));
    StreamDemuxer d;
    const auto got = probeAndRun(stream, d);
    std::vector<Taken> delivered;
    for (const auto& t : got)
        if (t.payloadLength > 0)
            delivered.push_back(t);
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].payload, payloadBytes(50, 2));
    EXPECT_EQ(delivered[1].payload, payloadBytes(60, 3));
}

TEST(KxavFormat, DependentSequenceNumbers)
{
    auto stream = [](std::initializer_list<uint32_t> seqs) {
        KxavMuxer mux;
        std::vector<uint8_t> s;
        for (uint32_t q : seqs) {
            mux.setSequence(q);
            append(s, mux.videoFrame(payloadBytes(40, q), false, 0, 0, 0, 0, 0));
        }
        // Something the probe recognises up front.
        KxavMuxer head;
        std::vector<uint8_t> all = head.auxPacket(0xF1, 5, nullptr, 0);
        append(all, s);
        return all;
    };
    {
        StreamDemuxer d;
        const auto got = probeAndRun(stream({100, 101, 101, 102}), d);
        ASSERT_EQ(got.size(), 5u);
        for (size_t i = 1; i < got.size(); ++i)
            EXPECT_EQ(got[i].payloadLength, 40) << i;
    }
    {
        StreamDemuxer d;
        const auto got = probeAndRun(stream({100, 103, 104}), d);
        ASSERT_EQ(got.size(), 4u);
        EXPECT_EQ(got[1].payloadLength, 40);
        EXPECT_EQ(got[2].payloadLength, 0);
        EXPECT_EQ(got[3].payloadLength, 40);
    }
    {
        StreamDemuxer d;
        const auto got = probeAndRun(stream({100, 99, 100}), d);
        ASSERT_EQ(got.size(), 4u);
        EXPECT_EQ(got[2].payloadLength, 0);   // a step back
        EXPECT_EQ(got[3].payloadLength, 40);
    }
}

TEST(KxavFormat, AudioAndAuxiliaryPackets)
{
    KxavMuxer mux;
    std::vector<uint8_t> s = mux.audioFrame(payloadBytes(320, 1).data(), 320, 2, 10, 8);
    append(s, mux.audioFrame(payloadBytes(160, 2).data(), 160, 1, 7, 3));
    append(s, mux.auxPacket(0xF1, 5, payloadBytes(10, 3).data(), 10));
    append(s, mux.auxPacket(0xF7, 0, payloadBytes(11, 4).data(), 11));
    StreamDemuxer d;
    const auto got = probeAndRun(s, d);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].kind, 2);
    EXPECT_EQ(got[0].codec, 22);
    EXPECT_EQ(got[0].channels, 2);
    EXPECT_EQ(got[0].sampleRate, 44100);
    EXPECT_EQ(got[0].bitsPerSample, 16);
    EXPECT_EQ(got[0].payload, payloadBytes(320, 1));
    EXPECT_EQ(got[1].codec, 7);
    EXPECT_EQ(got[1].bitsPerSample, 8);
    EXPECT_EQ(got[1].sampleRate, 11025);
    EXPECT_EQ(got[2].kind, 3);
    EXPECT_EQ(got[2].subtype, 6);
    EXPECT_EQ(got[3].kind, 3);
    EXPECT_EQ(got[3].payload, payloadBytes(11, 4));
}

TEST(KxavFormat, TextPacketIsTerminatedWithoutTouchingTheBlock)
{
    KxavMuxer mux;
    std::vector<uint8_t> s = mux.textPacket("hello");
    append(s, mux.videoFrame(payloadBytes(30, 1), true, 8, 352, 288, 25, 0));
    const std::vector<uint8_t> original = s;
    StreamDemuxer d;
    ASSERT_EQ(d.feed(s.data(), static_cast<int>(s.size())), 0);
    const MediaFrame* t = d.nextFrame();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->kind, 3);
    EXPECT_EQ(t->subtype, 5);
    EXPECT_EQ(t->payloadLength, 5);
    EXPECT_STREQ(reinterpret_cast<const char*>(t->payload), "hello");
    EXPECT_EQ(s, original);   // the caller's block is not written
    EXPECT_NE(d.nextFrame(), nullptr);
}

TEST(KxavFormat, TextLengthBeyondThePacketIsCut)
{
    KxavMuxer mux;
    std::vector<uint8_t> s = mux.textPacket("abc", 1000000);
    append(s, mux.textPacket("xyz", -1));
    append(s, mux.videoFrame(payloadBytes(30, 1), true, 8, 352, 288, 25, 0));
    StreamDemuxer d;
    const auto got = probeAndRun(s, d);
    ASSERT_EQ(got.size(), 3u);
    // The text may reach into the trailer, never beyond the packet, and ends with a zero.
    EXPECT_EQ(got[0].subtype, 5);
    EXPECT_LE(got[0].payloadLength, 3 + 8 - 1);
    EXPECT_EQ(std::string(got[0].payload.begin(), got[0].payload.begin() + 3), "abc");
    EXPECT_EQ(got[1].payload, std::vector<uint8_t>({'x', 'y', 'z'}));
}

TEST(KxavFormat, UnexplainedKeyFrameHeaderIsPassedOver)
{
    // A key frame whose extension has neither block order, and one with codec byte 3: both
    // are skipped, and the stream goes on instead of stalling.
    KxavMuxer mux;
    std::vector<uint8_t> s = mux.videoFrame(payloadBytes(30, 1), true, 8, 352, 288, 25, 0);
    const std::vector<uint8_t> odd = {0x82, 0, 0, 0, 0x83, 0, 0, 0};
    const auto body = payloadBytes(200, 2);
    append(s, KxavMuxer::packet(0xFD, 0, 5, 0, odd, body.data(), body.size()));
    append(s, mux.videoFrame(payloadBytes(31, 3), true, 3, 352, 288, 25, 0));
    append(s, mux.videoFrame(payloadBytes(32, 4), true, 8, 352, 288, 25, 0));
    StreamDemuxer d;
    const auto got = feedInBlocks(d, s, {100, 50, 50});
    std::vector<Taken> keys;
    for (const auto& t : got) {
        if (t.kind == 1 && t.payloadLength > 0)
            keys.push_back(t);
        if (t.kind == 1) {
            EXPECT_NE(t.payloadLength, 200);
        }
    }
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].payload, payloadBytes(30, 1));
    EXPECT_EQ(keys[1].payload, payloadBytes(32, 4));
    EXPECT_EQ(d.parser()->heldBytes(), 0);
}

TEST(KxavFormat, TotalLengthsThatCannotDescribeAPacket)
{
    KxavMuxer mux;
    const auto body = payloadBytes(50, 1);
    const std::vector<uint8_t> ext = {0x80, 1, 44, 36, 0x81, 0, 8, 25};
    std::vector<uint8_t> s = mux.videoFrame(payloadBytes(20, 2), true, 8, 352, 288, 25, 0);
    append(s, KxavMuxer::packet(0xFD, 0, 1, 0, ext, body.data(), body.size(), false, 10));
    append(s, KxavMuxer::packet(0xFD, 0, 1, 0, ext, body.data(), body.size(), false, 0xFFFFFFF0));
    append(s, mux.videoFrame(payloadBytes(21, 3), true, 8, 352, 288, 25, 0));
    StreamDemuxer d;
    const auto got = probeAndRun(s, d);
    std::vector<Taken> good;
    for (const auto& t : got)
        if (t.payloadLength > 0)
            good.push_back(t);
    ASSERT_EQ(good.size(), 2u);
    EXPECT_EQ(good[1].payload, payloadBytes(21, 3));
}
