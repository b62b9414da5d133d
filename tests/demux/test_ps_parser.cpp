// MPEG-2 program stream parser: codec decision, H.264 size table, key frames from the system
// header, audio rates, split MPEG-4 frames merged in the merge buffer, limits and splits.
#include "DemuxTestSupport.h"

#include "demux/ProgramStreamParser.h"
#include "testkit/Mpeg4EsWriter.h"
#include "testkit/ProgramStreamMuxer.h"

#include <gtest/gtest.h>

#include <memory>

using namespace kevra;
using namespace kevra::demuxtest;
using W = Mpeg4EsWriter;
using Mux = ProgramStreamMuxer;

namespace {

struct Ps {
    Ps()
        : buffer(new uint8_t[FrameParser::kWorkBufferSize]),
          parser(buffer.get(), FrameParser::kWorkBufferSize)
    {
    }
    std::unique_ptr<uint8_t[]> buffer;
    ProgramStreamParser parser;
};

Bytes h264Key(size_t body)
{
    Bytes b{0, 0,    0,    1,    0x67, 0x42, 0x00, 0x1E, 0, 0,   0,
            1, 0x68, 0xCE, 0x38, 0x80, 0,    0,    0,    1, 0x65};
    b.resize(b.size() + body, 0x88);
    return b;
}

Bytes h264P(size_t body)
{
    Bytes b{0, 0, 0, 1, 0x41, 0x9A};
    b.resize(b.size() + body, 0x77);
    return b;
}

Bytes mpeg4Key(int w, int h, size_t body)
{
    W::Vol v;
    v.width = w;
    v.height = h;
    return W::keyFrame(v, 12, 0, 1, static_cast<int>(body));
}

std::vector<Taken> visible(const std::vector<Taken>& all)
{
    std::vector<Taken> out;
    for (const auto& t : all)
        if (t.kind != 3 && t.packetLength > 0)
            out.push_back(t);
    return out;
}

}   // namespace

TEST(PsParser, H264KeyFrameTakesSizeAndRateFromThePack)
{
    Mux mux(Mux::Codec::H264, 5, 25);
    const Bytes key = h264Key(3000), p = h264P(900);
    const Bytes stream =
        cat({mux.videoFrame(key, true), mux.videoFrame(p, false), mux.videoFrame(p, false)});
    ASSERT_EQ(stream[Mux::kSizeCodeOffset], 5);
    ASSERT_EQ(stream[Mux::kFrameRateOffset], 25);
    Ps ps;
    auto got = feedParser(ps.parser, stream, {});
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(ps.parser.codecKind(), 1);
    EXPECT_EQ(got[0].kind, 1);
    EXPECT_EQ(got[0].subtype, 0);
    EXPECT_EQ(got[0].codec, 4);
    EXPECT_EQ(got[0].param1, 1);
    EXPECT_EQ(got[0].param2, 1);
    EXPECT_EQ(got[0].width, 640);
    EXPECT_EQ(got[0].height, 480);
    EXPECT_EQ(got[0].frameRate, 25);
    EXPECT_EQ(got[0].payload, key);
    // The record runs from the pack header to the end of the PES payload.
    EXPECT_EQ(got[0].packet.size(), mux.videoFrame(key, true).size());
    // Without system header: a dependent frame, size and rate not set (fresh records).
    EXPECT_EQ(got[1].subtype, 1);
    EXPECT_EQ(got[1].codec, 4);
    EXPECT_EQ(got[1].width, 0);
    EXPECT_EQ(got[1].frameRate, 0);
    EXPECT_EQ(got[1].payload, p);
}

TEST(PsParser, H264SizeTable)
{
    const int expected[][2] = {{704, 576},  {352, 576},   {704, 288},   {352, 288},  {176, 144},
                               {640, 480},  {320, 240},   {480, 480},   {800, 592},  {1024, 768},
                               {1280, 800}, {1280, 1024}, {1600, 1024}, {1600, 1200}};
    for (int code = 0; code < 14; ++code) {
        int w = 0, h = 0;
        ASSERT_TRUE(ProgramStreamParser::h264SizeFromCode(code, &w, &h));
        EXPECT_EQ(w, expected[code][0]);
        EXPECT_EQ(h, expected[code][1]);
        EXPECT_EQ(Mux::sizeCodeFor(w, h), code);   // the muxer writes the same table
    }
    EXPECT_EQ(Mux::sizeCodeFor(720, 576), -1);
    int w = -1, h = -1;
    EXPECT_FALSE(ProgramStreamParser::h264SizeFromCode(14, &w, &h));
    EXPECT_FALSE(ProgramStreamParser::h264SizeFromCode(255, &w, &h));
    EXPECT_EQ(w, -1);
    // An unknown code leaves the size alone.
    Mux mux(Mux::Codec::H264, 200, 30);
    Ps ps;
    auto got = feedParser(ps.parser, mux.videoFrame(h264Key(100), true), {});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].width, 0);
    EXPECT_EQ(got[0].frameRate, 30);
}

TEST(PsParser, AudioPacketsByCodecAndPayloadSize)
{
    {
        Mux mux(Mux::Codec::Mpeg4, 3, 25);
        const Bytes stream =
            cat({mux.videoFrame(mpeg4Key(352, 288, 400), true), mux.audioFrame(Bytes(288, 1)),
                 mux.audioFrame(Bytes(216, 2)), mux.audioFrame(Bytes(280, 3))});
        Ps ps;
        auto got = feedParser(ps.parser, stream, {});
        ASSERT_EQ(got.size(), 4u);
        EXPECT_EQ(got[1].kind, 2);
        EXPECT_EQ(got[1].codec, 21);
        EXPECT_EQ(got[1].sampleRate, 32000);
        EXPECT_EQ(got[1].bitsPerSample, 16);
        EXPECT_EQ(got[1].channels, 1);
        EXPECT_EQ(got[2].sampleRate, 16000);
        // PES_packet_length 0x0120 with a 5-byte header: 280 payload bytes.
        EXPECT_EQ(got[3].payloadLength, 280);
        EXPECT_EQ(got[3].payload, Bytes(280, 3));
    }
    {
        Mux mux(Mux::Codec::H264, 3, 25);
        const Bytes stream =
            cat({mux.videoFrame(h264Key(200), true), mux.audioFrame(Bytes(320, 1))});
        Ps ps;
        auto got = feedParser(ps.parser, stream, {});
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[1].codec, 14);
        EXPECT_EQ(got[1].sampleRate, 8000);
        EXPECT_EQ(got[1].bitsPerSample, 16);
    }
}

TEST(PsParser, Mpeg4KeyFrameFieldsFromItsHeaders)
{
    Mux mux(Mux::Codec::Mpeg4, 0, 0);
    const Bytes stream = cat(
        {mux.videoFrame(mpeg4Key(720, 576, 500), true), mux.videoFrame(W::vop(false, 300), false)});
    Ps ps;
    auto got = feedParser(ps.parser, stream, {});
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(ps.parser.codecKind(), 0);
    EXPECT_EQ(got[0].codec, 1);
    EXPECT_EQ(got[0].width, 720);
    EXPECT_EQ(got[0].height, 576);
    EXPECT_EQ(got[0].timeOfDay, 12 * 3600 + 1);
    EXPECT_EQ(got[1].subtype, 1);
    EXPECT_EQ(got[1].codec, 1);
}

TEST(PsParser, SplitMpeg4FrameIsMergedFromAMaximumPesAndTheLastPiece)
{
    // Frame of 0xFFF4 + 1000 bytes: one PES of length 0xFFFC, then a bare PES of 1000 bytes.
    Bytes frame = mpeg4Key(352, 288, 0xFFF4 + 1000 - 60);
    frame.resize(0xFFF4 + 1000, 0x5A);
    frame[0xFFF4] = 0x12;   // the last piece's first byte stays below 0x56
    Mux mux(Mux::Codec::Mpeg4, 3, 25);
    const Bytes packs = mux.videoFrame(frame, true);
    const size_t firstPacket =
        14 + 82 + 14 + 0xFFF4;   // pack, system header/map, PES header, payload
    ASSERT_EQ(packs[firstPacket - 0xFFF4 - 10], 0xFF);   // PES_packet_length 0xFFFC
    ASSERT_EQ(packs[firstPacket - 0xFFF4 - 9], 0xFC);
    const Bytes stream = cat({packs, mux.videoFrame(W::vop(false, 100), false)});
    for (size_t block : {stream.size(), size_t(1000), size_t(4099)}) {
        Ps ps;
        auto all = feedParser(ps.parser, stream, {block});
        auto got = visible(all);
        ASSERT_EQ(got.size(), 2u) << block;
        const Bytes expected =
            cat({Bytes(packs.begin(), packs.begin() + static_cast<long>(firstPacket)),
                 Bytes(frame.end() - 1000, frame.end())});
        EXPECT_EQ(got[0].payload.size(), expected.size());
        EXPECT_TRUE(got[0].payload == expected) << block;
        EXPECT_EQ(got[0].packetLength, got[0].payloadLength);
        EXPECT_EQ(got[0].subtype, 0);
        EXPECT_EQ(got[0].width, 352);
        EXPECT_EQ(got[0].frameRate, 25);
        EXPECT_EQ(got[1].payload, W::vop(false, 100));
        EXPECT_FALSE(ps.parser.merging());
    }
}

TEST(PsParser, LongSplitFramesWithMiddlePiecesAndABadPiece)
{
    Mux mux(Mux::Codec::Mpeg4, 3, 25);
    Bytes big = mpeg4Key(352, 288, 200000);
    for (size_t i = 100; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(0x10 + i % 0x40);   // below 0x56, no start codes
    const Bytes packs0 = mux.videoFrame(big, true);
    const Bytes stream = cat({packs0, mux.videoFrame(W::vop(false, 50), false)});
    const int h = packs0[14 + 82 + 8];
    const size_t firstPacket =
        14 + 82 + 9 + static_cast<size_t>(h) + (0xFFF9 - static_cast<size_t>(h));
    const Bytes expected =
        cat({Bytes(packs0.begin(), packs0.begin() + static_cast<long>(firstPacket)),
             Bytes(big.begin() + static_cast<long>(0xFFF9 - h), big.end())});
    Ps ps;
    auto got = visible(feedParser(ps.parser, stream, {30000}));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].payloadLength, static_cast<int>(expected.size()));
    EXPECT_TRUE(got[0].payload == expected);
    EXPECT_EQ(got[1].payload, W::vop(false, 50));

    // A piece whose first payload byte is 0x56 or more ends the merge and is rejected.
    Bytes bad = big;
    bad.assign(big.begin(), big.end());
    Bytes packs = mux.videoFrame(bad, true);
    // Find the second PES (first bare piece) and raise its first payload byte.
    const size_t second = 14 + 82 + (packs[14 + 82 + 8] + 9) + 0xFFF9 - packs[14 + 82 + 8] + 0;
    ASSERT_EQ(packs[second + 3], 0xE0);
    packs[second + 14] = 0x99;
    Ps ps2;
    auto all = feedParser(ps2.parser, cat({packs, mux.videoFrame(W::vop(false, 50), false)}), {});
    for (const auto& t : visible(all))
        EXPECT_LT(t.payloadLength, static_cast<int>(big.size()));
    EXPECT_FALSE(ps2.parser.merging());
}

TEST(PsParser, SplitFrameLargerThanTheMergeBufferIsDropped)
{
    Mux mux(Mux::Codec::Mpeg4, 3, 25);
    Bytes huge = mpeg4Key(352, 288, 700000);
    for (size_t i = 100; i < huge.size(); ++i)
        huge[i] = 0x21;
    const Bytes after = mpeg4Key(176, 144, 300);
    const Bytes stream = cat({mux.videoFrame(huge, true), mux.videoFrame(after, true),
                              mux.videoFrame(W::vop(false, 9), false)});
    Ps ps;
    auto got = visible(feedParser(ps.parser, stream, {65536}));
    for (const auto& t : got)
        EXPECT_LE(static_cast<size_t>(t.payloadLength), ProgramStreamParser::kMergeBufferSize);
    ASSERT_FALSE(got.empty());
    // Collection recovers: the next key frame comes out whole.
    bool found = false;
    for (const auto& t : got)
        found = found || t.payload == after;
    EXPECT_TRUE(found);
}

TEST(PsParser, CodecDecidedOnTheWholePayloadWhenItArrivesInPieces)
{
    // The SPS code lies 3000 bytes into the first payload; blocks of 700 bytes.
    Bytes key(3000, 0x11);
    const Bytes tail = h264Key(500);
    key.insert(key.end(), tail.begin(), tail.end());
    Mux mux(Mux::Codec::H264, 4, 25);
    const Bytes stream = cat({mux.videoFrame(key, true), mux.videoFrame(h264P(100), false)});
    Ps ps;
    auto got = feedParser(ps.parser, stream, {700});
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].codec, 4);
    EXPECT_EQ(got[0].width, 176);
    EXPECT_EQ(got[1].codec, 4);
}

TEST(PsParser, ChosenByTheProbeAnyBlockSplitAndGarbage)
{
    Mux mux(Mux::Codec::H264, 3, 25);
    Bytes stream;
    for (int i = 0; i < 12; ++i)
        stream =
            cat({stream,
                 mux.videoFrame(i % 5 == 0 ? h264Key(4000 + i) : h264P(1500 + 37 * i), i % 5 == 0),
                 mux.audioFrame(Bytes(320, 5))});
    Ps whole;
    const auto reference = feedParser(whole.parser, stream, {});
    EXPECT_EQ(reference.size(), 24u);
    for (size_t block : {size_t(8192), size_t(1), size_t(3), size_t(17)}) {
        StreamDemuxer d;
        auto viaDemuxer = feedDemuxer(d, stream, block);
        EXPECT_EQ(d.format(), StreamFormat::ProgramStream) << block;
        EXPECT_EQ(viaDemuxer.size(), reference.size()) << block;
    }
    std::mt19937 rng(9);
    for (int round = 0; round < 20; ++round) {
        Ps ps;
        auto got = feedParser(ps.parser, stream, randomSizes(rng, 3000, 3000));
        ASSERT_EQ(got.size(), reference.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i].payload, reference[i].payload);
    }
    for (int round = 0; round < 30; ++round) {
        Bytes bad = stream;
        for (int k = 0; k < 60; ++k)
            bad[rng() % bad.size()] = static_cast<uint8_t>(rng() % 3 == 0 ? 0xE0 : rng());
        Ps ps;
        auto got = feedParser(ps.parser, bad, randomSizes(rng, 300, 5000));
        for (const auto& t : got)
            EXPECT_GE(t.payloadLength, 0);
    }
}
