// The 0x000001Fx packet stream and the KXPT variant: header fields, sequence rules, audio
// formats and the MPEG-4 header reading of KXPT video packets.
#include "DemuxTestSupport.h"

#include "demux/KxptParser.h"
#include "demux/PacketParser.h"
#include "testkit/KxavMuxer.h"
#include "testkit/KxptMuxer.h"
#include "testkit/PacketMuxer.h"

#include <gtest/gtest.h>

using namespace kevra;
using namespace kevra::demuxtest;

namespace {

std::vector<Taken> run(StreamDemuxer& d, const std::vector<uint8_t>& s)
{
    EXPECT_EQ(d.feed(s.data(), static_cast<int>(s.size())), 0);
    return drain(d);
}

std::vector<uint8_t> dependents(PacketMuxer& mux, std::initializer_list<int> sequence,
                                int code = 0xFC)
{
    std::vector<uint8_t> s;
    int i = 0;
    for (int b : sequence) {
        const auto p = payloadBytes(20, 100 + i++);
        append(s, PacketMuxer::dependentPacket(code, p.data(), p.size(), uint8_t(b)));
    }
    return s;
}

}   // namespace

TEST(PacketFormat, KeyFrameHeaderFields)
{
    // Header bytes 0-3 = 07 19 2C 24: param2 7, frame rate 25, param1 0, 352 x 288.
    const auto body = payloadBytes(64, 1);
    const uint32_t when = KxavMuxer::packTime(2026, 12, 7, 10, 31, 42);
    auto s = PacketMuxer::keyPacket(0xFD, body.data(), body.size(), 352, 288, 25, when, 9, 7, 0);
    ASSERT_EQ(s[4], 0x07);
    ASSERT_EQ(s[5], 0x19);
    ASSERT_EQ(s[6], 0x2C);
    ASSERT_EQ(s[7], 0x24);
    StreamDemuxer d(StreamFormat::Packet);
    const auto got = run(d, s);
    ASSERT_EQ(got.size(), 1u);
    const Taken& r = got[0];
    EXPECT_EQ(r.param2, 7);
    EXPECT_EQ(r.frameRate, 25);
    EXPECT_EQ(r.param1, 0);
    EXPECT_EQ(r.width, 352);
    EXPECT_EQ(r.height, 288);
    EXPECT_EQ(r.kind, 1);
    EXPECT_EQ(r.subtype, 0);
    EXPECT_EQ(r.codec, 4);
    EXPECT_EQ(r.year, 2026);
    EXPECT_EQ(r.month, 12);
    EXPECT_EQ(r.day, 7);
    EXPECT_EQ(r.hour, 10);
    EXPECT_EQ(r.minute, 31);
    EXPECT_EQ(r.second, 42);
    EXPECT_EQ(r.timeOfDay, 0);
    EXPECT_EQ(r.packetLength, 64 + 16);
    EXPECT_EQ(got[0].payload, body);
}

TEST(PacketFormat, CodecsAndPacketLengthsByStartCode)
{
    const auto body = payloadBytes(100, 2);
    std::vector<uint8_t> s;
    append(s, PacketMuxer::keyPacket(0xFB, body.data(), body.size(), 704, 576, 30, 0, 1, 0, 5));
    append(s, PacketMuxer::keyPacket(0xFE, body.data(), body.size(), 704, 576, 30, 0, 2));
    append(s, PacketMuxer::dependentPacket(0xFA, body.data(), body.size(), 3));
    append(s, PacketMuxer::dependentPacket(0xFC, body.data(), body.size(), 4));
    StreamDemuxer d(StreamFormat::Packet);
    const auto got = run(d, s);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].codec, 1);
    EXPECT_EQ(got[0].param1, 5);
    EXPECT_EQ(got[0].packetLength, 116);
    EXPECT_EQ(got[1].codec, 3);
    EXPECT_EQ(got[2].codec, 1);
    EXPECT_EQ(got[2].subtype, 1);
    EXPECT_EQ(got[2].packetLength, 108);
    EXPECT_EQ(got[3].codec, 4);
    for (const auto& t : got)
        EXPECT_EQ(t.payload, body);
}

TEST(PacketFormat, DependentFrameSequenceRules)
{
    {
        // 254, 255, 0, 1 wrap around in sequence; the first one after construction always is.
        PacketMuxer mux;
        auto s = dependents(mux, {254, 255, 0, 1, 2});
        StreamDemuxer d(StreamFormat::Packet);
        const auto got = run(d, s);
        ASSERT_EQ(got.size(), 5u);
        for (const auto& t : got)
            EXPECT_EQ(t.payloadLength, 20);
    }
    {
        // 5 after 3 is a gap: that frame is shortened and rejected; the next in sequence is fine.
        PacketMuxer mux;
        auto s = dependents(mux, {3, 5, 6});
        StreamDemuxer d(StreamFormat::Packet);
        const auto got = run(d, s);
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[0].payloadLength, 20);
        EXPECT_EQ(got[1].payloadLength, 0);
        EXPECT_EQ(got[2].payloadLength, 20);
    }
    {
        // A repeated byte and a step back: the repeat is in sequence, the step back is not.
        PacketMuxer mux;
        auto s = dependents(mux, {7, 7, 6, 7});
        StreamDemuxer d(StreamFormat::Packet);
        const auto got = run(d, s);
        ASSERT_EQ(got.size(), 4u);
        EXPECT_EQ(got[1].payloadLength, 20);
        EXPECT_EQ(got[2].payloadLength, 0);
        EXPECT_EQ(got[3].payloadLength, 20);
    }
    {
        // The key frame's sequence byte counts too; the muxer's skip makes a gap.
        PacketMuxer mux;
        std::vector<uint8_t> s = mux.keyFrame(payloadBytes(30, 1), 352, 288, 25, 0);
        append(s, mux.dependentFrame(payloadBytes(30, 2)));
        mux.skip(3);
        append(s, mux.dependentFrame(payloadBytes(30, 3)));
        append(s, mux.dependentFrame(payloadBytes(30, 4)));
        StreamDemuxer d(StreamFormat::Packet);
        const auto got = run(d, s);
        ASSERT_EQ(got.size(), 4u);
        EXPECT_EQ(got[1].payloadLength, 30);
        EXPECT_EQ(got[2].payloadLength, 0);
        EXPECT_EQ(got[3].payloadLength, 30);
    }
}

TEST(PacketFormat, AudioCodecsAndRateCodes)
{
    const int rates[] = {8000, 4000, 8000, 11025, 16000, 20000, 22050, 32000, 44100, 48000, 8000};
    std::vector<uint8_t> s;
    for (int code = 0; code <= 10; ++code)
        append(s, PacketMuxer::audioPacket(payloadBytes(32, code), 10, code));
    append(s, PacketMuxer::audioPacket(payloadBytes(32, 20), 7, 2));
    append(s, PacketMuxer::audioPacket(payloadBytes(32, 21), 30, 2));
    append(s, PacketMuxer::audioPacket(payloadBytes(32, 22), 14, 2));
    StreamDemuxer d(StreamFormat::Packet);
    const auto got = run(d, s);
    ASSERT_EQ(got.size(), 14u);
    for (int code = 0; code <= 10; ++code) {
        const Taken& r = got[code];
        EXPECT_EQ(r.kind, 2);
        EXPECT_EQ(r.codec, 22) << "codec byte 10 is reported as 22";
        EXPECT_EQ(r.bitsPerSample, 16);
        EXPECT_EQ(r.sampleRate, rates[code]) << "rate code " << code;
        EXPECT_EQ(r.channels, 1);
        EXPECT_EQ(r.packetLength, 40);
    }
    EXPECT_EQ(got[11].codec, 7);
    EXPECT_EQ(got[11].bitsPerSample, 8);
    EXPECT_EQ(got[12].bitsPerSample, 8);
    EXPECT_EQ(got[13].codec, 14);
    EXPECT_EQ(got[13].bitsPerSample, 16);
}

TEST(PacketFormat, AuxiliaryPacketsShortAndLong)
{
    const auto body = payloadBytes(40, 3);
    std::vector<uint8_t> s = PacketMuxer::auxPacket(body.data(), body.size());
    // Short form: header byte 0 is not 8; 4 header bytes and 4 payload bytes.
    const uint8_t shortAux[] = {0, 0, 1, 0xF1, 1, 'a', 'b', 'c', 'w', 'x', 'y', 'z'};
    s.insert(s.end(), shortAux, shortAux + sizeof shortAux);
    append(s, PacketMuxer::audioPacket(payloadBytes(16, 4), 10, 2));
    StreamDemuxer d(StreamFormat::Packet);
    const auto got = run(d, s);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].kind, 3);
    EXPECT_EQ(got[0].payload, body);
    EXPECT_EQ(got[1].kind, 3);
    EXPECT_EQ(got[1].packetLength, 0);
    EXPECT_EQ(got[1].payloadLength, 4);
    EXPECT_EQ(got[1].payload, std::vector<uint8_t>({'w', 'x', 'y', 'z'}));
    EXPECT_EQ(got[2].kind, 2);
}

TEST(PacketFormat, AuxiliaryLengthNearFourGigabytesIsNotTrusted)
{
    std::vector<uint8_t> s = {0, 0, 1, 0xF1, 8, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0xFF, 0xFF, 0xFF};
    append(s, payloadBytes(100, 1));
    StreamDemuxer d(StreamFormat::Packet);
    const auto got = run(d, s);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].payloadLength, 0);   // given up as a frame too large for the buffer
}

TEST(KxptFormat, KeyFrameHeadersGiveSizeTimeAndRate)
{
    const auto vop = payloadBytes(50, 1);
    std::vector<uint8_t> s = KxptMuxer::video(KxptMuxer::keyPayload(704, 576, 10, 31, 42, 25, vop));
    append(s, KxptMuxer::video(KxptMuxer::dependentPayload(vop)));
    append(s, KxptMuxer::audio(payloadBytes(40, 2), 10, 4));
    StreamDemuxer d(StreamFormat::Kxpt);
    const auto got = run(d, s);
    ASSERT_EQ(got.size(), 3u);
    const Taken& k = got[0];
    EXPECT_EQ(k.kind, 1);
    EXPECT_EQ(k.codec, 1);
    EXPECT_EQ(k.subtype, 0);
    EXPECT_EQ(k.width, 704);
    EXPECT_EQ(k.height, 576);
    EXPECT_EQ(k.hour, 10);
    EXPECT_EQ(k.minute, 31);
    EXPECT_EQ(k.second, 42);
    EXPECT_EQ(k.timeOfDay, 37902);
    EXPECT_EQ(k.frameRate, 25);
    EXPECT_EQ(got[1].subtype, 1);
    EXPECT_EQ(got[1].payloadLength, 54);
    EXPECT_EQ(got[2].kind, 2);
    EXPECT_EQ(got[2].codec, 10);   // stored as it is in this variant
    EXPECT_EQ(got[2].sampleRate, 16000);
    EXPECT_EQ(got[2].packetLength, 48);
}

TEST(KxptFormat, UserDataRateLimitsAndOtherPayloads)
{
    const auto vop = payloadBytes(10, 1);
    std::vector<uint8_t> s = KxptMuxer::video(KxptMuxer::keyPayload(352, 288, 1, 2, 3, 255, vop));
    append(s, KxptMuxer::video(KxptMuxer::keyPayload(352, 288, 1, 2, 3, 200, vop)));
    append(s, KxptMuxer::video(payloadBytes(30, 2)));   // neither object nor VOP start
    // Object headers that never reach a VOP: nothing to decode, and the scan stops at the end.
    std::vector<uint8_t> noVop = {0, 0, 1, 0, 0, 0, 1, 0xB3, 0x50};
    append(s, KxptMuxer::video(noVop));
    append(s, KxptMuxer::video(KxptMuxer::dependentPayload(vop)));
    StreamDemuxer d(StreamFormat::Kxpt);
    const auto got = run(d, s);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].frameRate, 1);
    EXPECT_EQ(got[1].frameRate, 25);
    EXPECT_EQ(got[2].payloadLength, 0);
    EXPECT_EQ(got[3].payloadLength, 0);
    EXPECT_EQ(got[4].payloadLength, 14);
}

TEST(KxptFormat, ProbeNeverChoosesIt)
{
    std::vector<uint8_t> s;
    for (int i = 0; i < 5; ++i)
        append(s, KxptMuxer::video(KxptMuxer::dependentPayload(payloadBytes(30, i))));
    StreamDemuxer d;
    // KXPT is no evidence; the VOP start codes inside are evidence for the elementary stream.
    EXPECT_EQ(d.feed(s.data(), static_cast<int>(s.size())), 0);
    EXPECT_EQ(d.format(), StreamFormat::Mpeg4Es);
}
