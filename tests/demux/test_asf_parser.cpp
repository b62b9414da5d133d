// ASF parser: data packets cut at their flags, single and multiple payloads, padding, other
// streams re-wrapped as audio packets, key frames through the inner packet-stream parser.
#include "DemuxTestSupport.h"

#include "demux/AsfParser.h"
#include "testkit/AsfMuxer.h"
#include "testkit/PacketMuxer.h"

#include <gtest/gtest.h>

#include <memory>

using namespace kevra;
using namespace kevra::demuxtest;

namespace {

struct Asf {
    Asf(int packetSize, int videoStream)
        : buffer(new uint8_t[FrameParser::kWorkBufferSize]),
          parser(buffer.get(), FrameParser::kWorkBufferSize, packetSize, videoStream)
    {
    }
    std::unique_ptr<uint8_t[]> buffer;
    AsfParser parser;
};

Bytes filled(size_t n, uint8_t first)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(first + i % 91);
    return b;
}

// A packet stream: key, dependent, dependent, key frames of H.264 bytes.
Bytes packetStream(PacketMuxer& m, std::vector<Bytes>* payloads)
{
    Bytes out;
    for (int i = 0; i < 4; ++i) {
        Bytes data = filled(1500 + 300 * i, static_cast<uint8_t>(0x20 + i));
        Bytes pk = (i % 3 == 0) ? m.keyFrame(data, 352, 288, 25) : m.dependentFrame(data);
        payloads->push_back(data);
        out.insert(out.end(), pk.begin(), pk.end());
    }
    return out;
}

}   // namespace

TEST(AsfParser, SinglePayloadPacketsCarryTheVideoPacketStream)
{
    PacketMuxer pm;
    std::vector<Bytes> payloads;
    const Bytes video =
        cat({packetStream(pm, &payloads), PacketMuxer::audioPacket(Bytes(8, 1), 7, 2)});
    AsfMuxer am(1024, 1, 2);
    const Bytes stream = am.packetize(1, video);
    Asf asf(1024, 1);
    auto got = feedParser(asf.parser, stream, {});
    ASSERT_EQ(got.size(), 4u);   // the last packet stays open until its end is seen
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].kind, 1);
        EXPECT_EQ(got[i].payload, payloads[i]) << i;
    }
    EXPECT_EQ(got[0].subtype, 0);
    EXPECT_EQ(got[0].width, 352);
    EXPECT_EQ(got[1].subtype, 1);
}

TEST(AsfParser, PaddingShortensThePacketPayload)
{
    AsfMuxer am(1024, 1, 2);
    const Bytes packet = am.singlePayloadPacket(1, filled(899, 3).data(), 899);
    ASSERT_EQ(packet.size(), 1024u);
    ASSERT_EQ(packet[2] | (packet[3] << 8), 100);
    Asf asf(1024, 1);
    const Bytes stream = cat({packet, am.singlePayloadPacket(1, nullptr, 0)});
    asf.parser.input(stream.data(), static_cast<int>(stream.size()));
    MediaFrame* r = asf.parser.FrameParser::nextFrame();   // the packet record itself
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->packetLength, 1024);
    EXPECT_EQ(r->payloadLength, 899);
    EXPECT_EQ(r->payload, r->packetStart + 25);
}

TEST(AsfParser, MultiplePayloadsOtherStreamsBecomeAudioPackets)
{
    PacketMuxer pm;
    const Bytes keyData = filled(1000 - 16, 0x40);
    const Bytes key = pm.keyFrame(keyData, 352, 288, 25);
    ASSERT_EQ(key.size(), 1000u);
    const Bytes sound = filled(160, 0x10);
    AsfMuxer am(2048, 1, 2);
    const Bytes packet = am.multiplePayloadPacket({{1, key}, {2, sound}});
    // One more video packet so that the inner parser sees where the audio packet ends.
    const Bytes next =
        am.multiplePayloadPacket({{1, pm.dependentFrame(filled(40, 0x50))}, {2, sound}});
    Asf asf(2048, 1);
    auto got =
        feedParser(asf.parser, cat({packet, next, am.singlePayloadPacket(1, nullptr, 0)}), {});
    ASSERT_GE(got.size(), 3u);
    EXPECT_EQ(got[0].kind, 1);
    EXPECT_EQ(got[0].payload, keyData);
    EXPECT_EQ(got[1].kind, 2);
    EXPECT_EQ(got[1].codec, 14);
    EXPECT_EQ(got[1].sampleRate, 8000);
    EXPECT_EQ(got[1].payload, sound);
    EXPECT_EQ(got[2].kind, 1);
    EXPECT_EQ(got[2].payload, filled(40, 0x50));
}

TEST(AsfParser, SinglePayloadAudioKeepsItsOwnLength)
{
    // A 200-byte payload of another stream is wrapped with its real length, so the video
    // packet after it is found where it is.
    PacketMuxer pm;
    AsfMuxer am(512, 1, 2);
    const Bytes key = pm.keyFrame(filled(300, 0x30), 176, 144, 10);
    const Bytes stream =
        cat({am.singlePayloadPacket(2, filled(200, 0x60).data(), 200), am.packetize(1, key),
             am.packetize(1, pm.dependentFrame(filled(50, 0x31)))});
    Asf asf(512, 1);
    auto got = feedParser(asf.parser, cat({stream, am.singlePayloadPacket(1, nullptr, 0)}), {});
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[0].kind, 2);
    EXPECT_EQ(got[0].payloadLength, 200);
    EXPECT_EQ(got[1].kind, 1);
    EXPECT_EQ(got[1].payload, filled(300, 0x30));
}

TEST(AsfParser, NextKeyFrameForwardsToTheInnerParser)
{
    PacketMuxer pm;
    std::vector<Bytes> payloads;
    const Bytes video =
        cat({packetStream(pm, &payloads), PacketMuxer::audioPacket(Bytes(8, 1), 7, 2)});
    AsfMuxer am(700, 3, 1);
    const Bytes stream = am.packetize(3, video);
    Asf asf(700, 3);
    asf.parser.input(stream.data(), static_cast<int>(stream.size()));
    MediaFrame* k = asf.parser.nextKeyFrame();
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(Bytes(k->payload, k->payload + k->payloadLength), payloads[0]);
    k = asf.parser.nextKeyFrame();
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(Bytes(k->payload, k->payload + k->payloadLength), payloads[3]);
}

TEST(AsfParser, UnknownLayoutsAndLyingLengthsAreSkipped)
{
    PacketMuxer pm;
    AsfMuxer am(600, 1, 2);
    const Bytes key = pm.keyFrame(filled(200, 0x30), 176, 144, 10);
    Bytes odd = am.singlePayloadPacket(1, key.data(), key.size());
    odd[16] = 4;   // replicated data of another length: not read
    Bytes lying = am.multiplePayloadPacket({{1, key}, {2, Bytes(40, 1)}});
    lying[26] = 0xFF;   // first payload claims far more than the packet holds
    lying[27] = 0x7F;
    Bytes many = am.multiplePayloadPacket({{1, Bytes(10, 2)}});
    many[10] = 0x9F;   // 31 payloads announced, one present
    const Bytes stream =
        cat({odd, lying, many, am.packetize(1, key), am.singlePayloadPacket(1, nullptr, 0)});
    Asf asf(600, 1);
    auto got = feedParser(asf.parser, stream, {});
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(videoOnly(got).back().payload, filled(200, 0x30));

    // Impossible packet sizes read nothing at all.
    for (int size : {0, 10, 25, 0x40000, -1}) {
        Asf bad(size, 1);
        EXPECT_TRUE(feedParser(bad.parser, stream, {100}).empty()) << size;
    }
}

TEST(AsfParser, ChosenByTheProbeAnyBlockSplitAndGarbage)
{
    PacketMuxer pm;
    std::vector<Bytes> payloads;
    Bytes video;
    for (int round = 0; round < 3; ++round)
        video = cat({video, packetStream(pm, &payloads)});
    video = cat({video, PacketMuxer::audioPacket(Bytes(8, 1), 7, 2)});
    AsfMuxer am(1400, 2, 1);
    const Bytes stream =
        cat({am.header(true, true), am.packetize(2, video), am.singlePayloadPacket(2, nullptr, 0)});
    // The header's media GUID names video stream 2 in every split, also the smallest.
    for (size_t block : {size_t(6000), size_t(1), size_t(3), size_t(17)}) {
        StreamDemuxer d;
        auto viaDemuxer = feedDemuxer(d, stream, block);
        EXPECT_EQ(d.format(), StreamFormat::Asf) << block;
        EXPECT_EQ(videoOnly(viaDemuxer).size(), payloads.size()) << block;
    }

    Asf whole(1400, 2);
    const auto reference = feedParser(whole.parser, stream, {});
    ASSERT_EQ(reference.size(), payloads.size());
    std::mt19937 rng(13);
    for (int round = 0; round < 20; ++round) {
        Asf asf(1400, 2);
        auto got = feedParser(asf.parser, stream, randomSizes(rng, 2000, 2500));
        ASSERT_EQ(got.size(), reference.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i].payload, reference[i].payload);
    }
    for (int round = 0; round < 30; ++round) {
        Bytes bad = stream;
        for (int k = 0; k < 50; ++k)
            bad[rng() % bad.size()] = static_cast<uint8_t>(rng() % 4 == 0 ? 0x5D : rng());
        Asf asf(1400, 2);
        auto got = feedParser(asf.parser, bad, randomSizes(rng, 300, 4000));
        for (const auto& t : got)
            EXPECT_GE(t.payloadLength, 0);
    }
}
